// ReadJobsThread: turns job files in the watch directory into queued jobs.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "engine/log.h"
#include "engine/profile_file.h"
#include "engine/settings.h"
#include "jobs/workers.h"
#include "platform/clock.h"
#include "platform/dir_watch.h"
#include "platform/paths.h"

namespace gsms {

namespace {

// Identity of one version of a file.
using FileVersion = paths::FileStamp;

bool versionOf(const std::string& path, FileVersion& v) { return paths::stampOf(path, v); }

// Versions of files already dealt with, by path: settled jobs, and rejected files whose
// "could not move" line has been written.
struct FileMemory {
    std::mutex lock;
    std::map<std::string, FileVersion> files;

    // A path the system cannot look at (longer than it takes) is remembered as such, so that
    // what is said about it is said once.
    void remember(const std::string& path) {
        FileVersion v;
        if (!versionOf(path, v)) v = FileVersion{};
        std::lock_guard g(lock);
        files[path] = v;
    }
    bool holds(const std::string& path) {
        std::lock_guard g(lock);
        auto it = files.find(path);
        if (it == files.end()) return false;
        FileVersion v;
        if (!versionOf(path, v)) v = FileVersion{};
        if (v == it->second) return true;
        files.erase(it);  // changed or gone: a new file
        return false;
    }
    // Forgets the files that are no longer listed, so the memory stays as small as the
    // directory.
    void keepOnly(const std::set<std::string>& listed) {
        std::lock_guard g(lock);
        for (auto it = files.begin(); it != files.end();)
            it = listed.count(it->first) ? std::next(it) : files.erase(it);
    }
    void clear() {
        std::lock_guard g(lock);
        files.clear();
    }
};

FileMemory& settledFiles() {
    static FileMemory* m = new FileMemory;  // lives as long as the worker threads
    return *m;
}
FileMemory& unmovableRejects() {
    static FileMemory* m = new FileMemory;  // lives as long as the worker threads
    return *m;
}
FileMemory& overlongPaths() {
    static FileMemory* m = new FileMemory;  // lives as long as the worker threads
    return *m;
}

std::string watchDir() { return paths::fromConfig(settings().watchPath); }

// A rejected request goes to the error directory under its own name.
void rejectJobFile(const AlarmJob& job) {
    const GatewaySettings& s = settings();
    const paths::NameExt ne = paths::split(job.path);
    const char* target = s.moveJobs.load() != 0 ? s.errorPath : s.watchLogPath;
    if (target[0] != '\0') {
        const std::string to = paths::join(paths::fromConfig(target), ne.name + ne.ext);
        std::remove(to.c_str());
        if (std::rename(job.path, to.c_str()) != 0 && !unmovableRejects().holds(job.path)) {
            char line[kFileLineSize];
            std::snprintf(line, sizeof line, "could not move %s to %s", job.path, to.c_str());
            fileLog(line);
            windowLog(job.Szenario, line, kColorRed);
            unmovableRejects().remember(job.path);
        }
    }
    windowLog(nullptr, "Bad request !", kColorBlue);
}

void handleJobFile(const std::string& path) {
    if (isSettledFile(path)) return;
    AlarmJob job;
    if (!readJobFile(path, job)) return;

    const bool valid =
        job.PhoneNumber[0] != '\0' && (job.Message[0] != '\0' || job.Szenario[0] != '\0');
    if (valid && job.Szenario[0] != '\0' && job.Message[0] == '\0') {
        ProfileFile texts("KORLIN.INI");
        texts.readString("Messages", job.AlarmKey, "", sizeof job.Message, job.Message);
        if (job.Message[0] == '\0')
            std::snprintf(job.Message, sizeof job.Message, "ALARM %s", job.AlarmKey);
    }
    if (alarm_exists(job)) return;
    if (!paths::exists(path)) return;

    if (!valid) {
        rejectJobFile(job);
        return;
    }
    char line[256];
    if (job.Szenario[0] != '\0') {
        std::snprintf(line, sizeof line, "Sending alarm %s to %s", job.Szenario, job.PhoneNumber);
    } else {
        job.mini = 1;
        std::snprintf(line, sizeof line, "Sending mini-message to %s", job.PhoneNumber);
    }
    fileLog(line);
    windowLog(nullptr, line, kColorGrey);
    new_alarm(job);
    clock::sleepMs(500);
}

}  // namespace

void rememberSettledFile(const std::string& path) { settledFiles().remember(path); }
bool isSettledFile(const std::string& path) { return settledFiles().holds(path); }
void resetSettledFilesForTest() {
    settledFiles().clear();
    unmovableRejects().clear();
    overlongPaths().clear();
}

bool readJobFile(const std::string& path, AlarmJob& job) {
    std::memset(&job, 0, sizeof job);
    if (path.size() >= sizeof job.path) {
        // The job could not name its file for the move; leave the file where it is.
        if (!overlongPaths().holds(path)) {
            fileLog("ERROR: job file path too long, left in place: " + path);
            windowLog(nullptr, "ERROR: job file path too long, left in place: " + path,
                      kColorRed);
            overlongPaths().remember(path);
        }
        return false;
    }
    ProfileFile file(path.c_str());
    clock::sleepMs(100);  // the writer gets time to finish the file
    std::memcpy(job.path, path.c_str(), path.size() + 1);
    file.readString("Alarm", "Szenario", "", sizeof job.Szenario, job.Szenario);
    file.readString("Alarm", "PhoneNumber", "", sizeof job.PhoneNumber, job.PhoneNumber);
    file.readString("Alarm", "Name", "", sizeof job.Name, job.Name);
    file.readString("Alarm", "Message", "", sizeof job.Message, job.Message);
    file.readString("Alarm", "AlarmKey", "", sizeof job.AlarmKey, job.AlarmKey);
    job.dbentry = file.readInt("Alarm", "dbentry", 8);
    job.Rings = file.readInt("Alarm", "Rings", 8);
    job.Flash = file.readInt("Alarm", "Flash", 0);
    job.ConfirmType = file.readInt("Alarm", "ConfirmType", job.Rings);
    job.SendConfirmAck = static_cast<std::uint8_t>(file.readInt("Alarm", "SendConfirmAck", 1));
    return paths::exists(path);
}

int scanJobDirectory() {
    const GatewaySettings& s = settings();
    const std::string dir = watchDir();
    const std::vector<std::string> names = listMatching(dir, s.fileMask);
    std::set<std::string> listed;
    int queued = 0;
    for (const std::string& name : names) {
        const std::string path = paths::join(dir, name);
        listed.insert(path);
        if (jobTable().count.load() >= kJobLimit) return queued;  // the rest wait
        const int countBefore = jobTable().count.load();
        handleJobFile(path);
        if (jobTable().count.load() > countBefore) ++queued;
    }
    // Only a complete listing shows which remembered files are gone.
    settledFiles().keepOnly(listed);
    unmovableRejects().keepOnly(listed);
    overlongPaths().keepOnly(listed);
    return queued;
}

void readJobsThread() {
    DirWatch watch;
    bool failureLogged = false;
    auto arm = [&] {
        const std::string dir = watchDir();
        if (watch.arm(dir)) {
            failureLogged = false;
            return;
        }
        if (!failureLogged) {
            char line[kFileLineSize];
            std::snprintf(line, sizeof line,
                          "ERROR: cannot watch %s (%s), scanning every %d s instead", dir.c_str(),
                          std::strerror(errno), settings().watchTimeout.load());
            fileLog(line);
            windowLog(nullptr, line, kColorRed);
            failureLogged = true;
        }
    };
    arm();
    for (;;) {
        // A time-out of 0 would scan back to back; a quarter second keeps the thread calm.
        const std::int64_t timeoutMs =
            std::max<std::int64_t>(250, std::int64_t{settings().watchTimeout.load()} * 1000);
        if (watch.armed()) {
            if (watch.wait(timeoutMs) == 0) arm();  // a fresh watch also survives a new dir
        } else {
            clock::sleepMs(timeoutMs);
            arm();
        }
        if (jobTable().count.load() >= kJobLimit) {
            clock::sleepMs(1000);
            continue;
        }
        scanJobDirectory();
    }
}

}  // namespace gsms
