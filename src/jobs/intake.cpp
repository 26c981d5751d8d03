// ReadJobsThread: turns job files in the watch directory into queued jobs, each file version
// once, and only once the file is whole.
#include "jobs/intake.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string_view>

#include "core/activity.h"
#include "core/log.h"
#include "core/profile_file.h"
#include "core/settings.h"
#include "jobs/file_memory.h"
#include "jobs/job_journal.h"
#include "jobs/job_move.h"
#include "platform/clock.h"
#include "platform/dir_watch.h"
#include "platform/file_replace.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"

namespace gsms {

namespace {

constexpr std::int64_t kReadPauseMs = 100;   // the writer gets time to finish the file
constexpr std::int64_t kQueuePauseMs = 500;  // after each queued job

std::string watchDir() { return paths::fromConfig(settings().watchPath); }

FileVersion versionOf(const DirEntry& e) { return FileVersion{e.id, e.size, e.mtimeNs}; }
FileVersion versionOf(const files::SteadyRead& r) {
    return FileVersion{r.id, r.size, r.mtimeNs};
}

// A text to send into the job's message: UTF-8, cut after kMessageChars characters.
void setMessage(AlarmJob& job, std::string_view utf8) {
    const std::size_t n = text::utf8Head(utf8, kMessageChars);
    std::memcpy(job.Message, utf8.data(), n);
    job.Message[n] = '\0';
}

void fillJob(const ini::Text& text, AlarmJob& job) {
    const auto str = [&text](const char* key, char* out, std::size_t capacity) {
        const std::string v = text.value("Alarm", key).value_or("");
        const std::size_t n = text::utf8HeadBytes(v, capacity - 1);
        std::memcpy(out, v.data(), n);
        out[n] = '\0';
    };
    const auto num = [&text](const char* key, int def) {
        const auto v = text.value("Alarm", key);
        return v && !v->empty() ? ini::parseInt(*v) : def;
    };
    job.fileEncoding = text.encoding;
    str("Szenario", job.Szenario, sizeof job.Szenario);
    str("PhoneNumber", job.PhoneNumber, sizeof job.PhoneNumber);
    str("Name", job.Name, sizeof job.Name);
    setMessage(job, text.value("Alarm", "Message").value_or(""));
    str("AlarmKey", job.AlarmKey, sizeof job.AlarmKey);
    job.dbentry = num("dbentry", 8);
    job.Rings = num("Rings", 8);
    job.Flash = num("Flash", 0);
    job.ConfirmType = num("ConfirmType", job.Rings);
    job.SendConfirmAck = static_cast<std::uint8_t>(num("SendConfirmAck", 1));
}

// Why a request is bad, or nullptr when it is a valid one.
const char* badRequestReason(const AlarmJob& job) {
    if (job.PhoneNumber[0] == '\0') return "no PhoneNumber";
    if (job.Message[0] == '\0' && job.Szenario[0] == '\0') return "neither Message nor Szenario";
    return nullptr;
}

// A rejected request goes to the error directory, under its own name while that is free.
// The first time: "Bad request: <file>: <reason>" in the daily log; every time: "Bad request !"
// in the window. A failed move is said once per file version.
void rejectJobFile(const AlarmJob& job, const FileVersion& version, const std::string& reason,
                   bool again) {
    if (!again) fileLog(std::string("Bad request: ") + job.path + ": " + reason);
    const GatewaySettings& s = settings();
    const char* target = s.moveJobs.load() != 0 ? s.errorPath : s.watchLogPath;
    if (target[0] != '\0') {
        const auto stamp = static_cast<std::uint32_t>(clock::wallSeconds());
        if (moveJobFile(jobFileRef(job), target, stamp, true, nullptr, again) != 0)
            fileMemory().mark(version, FileMemory::State::Unmovable);
    }
    windowLog(nullptr, "Bad request !", kColorBlue);
}

// A job file the journal knows as finished (sent or failed for good before a restart or a kill)
// goes to the ReportThread as it is, never to the modem again.
bool recoverJobFile(AlarmJob& job, const std::string& bytes, const FileVersion& version,
                    const JobJournal::Finished& done, std::optional<std::uint64_t> before) {
    fillJob(ini::Text(bytes), job);
    job.mini = job.Szenario[0] == '\0' ? 1 : 0;
    job.status = done.status;
    job.sent_at = done.sentAt;
    job.rowWritten = done.rowWritten ? 1 : 0;
    FileMemory& memory = fileMemory();
    if (!memory.claim(version, job.fileDigest)) return false;
    const std::string line =
        std::string(done.status == STATUS_SENT ? "Already sent, not sent again: "
                                               : "Already failed, not sent again: ") +
        job.path;
    fileLog(line);
    windowLog(nullptr, line, kColorGrey);
    if (queue_finished(job) < 0) {
        memory.unclaim(version, before);
        return false;
    }
    return true;
}

// Handles one listed file; true when it was queued (for sending, or for its report alone).
bool handleJobFile(const std::string& dir, const DirEntry& entry, DirWatch* watch) {
    FileMemory& memory = fileMemory();
    const std::string path = paths::join(dir, entry.name);
    AlarmJob job;
    std::memset(&job, 0, sizeof job);
    FileMemory::Seen seen = memory.look(versionOf(entry), clock::monotonicMs());
    switch (seen.state) {
    case FileMemory::State::Queued:
    case FileMemory::State::Ours:
    case FileMemory::State::Overlong:
        return false;
    case FileMemory::State::Unmovable:
        if (path.size() < sizeof job.path) {
            std::memcpy(job.path, path.c_str(), path.size() + 1);
            job.fileDev = entry.id.dev;
            job.fileIno = entry.id.ino;
            rejectJobFile(job, versionOf(entry), "", true);
        }
        return false;
    case FileMemory::State::Waiting:
        break;
    }
    if (path.size() >= sizeof job.path) {
        // The job could not name its file for the move; leave the file where it is.
        const std::string line = "ERROR: job file path too long, left in place: " + path;
        fileLog(line);
        windowLog(nullptr, line, kColorRed);
        memory.mark(versionOf(entry), FileMemory::State::Overlong);
        return false;
    }
    std::memcpy(job.path, path.c_str(), path.size() + 1);

    const files::SteadyRead read =
        files::readSteady(path, [] { clock::sleepMs(kReadPauseMs); });
    if (read.outcome == files::SteadyRead::Gone || read.outcome == files::SteadyRead::Changed)
        return false;  // a later scan sees what became of it
    const FileVersion version =
        read.outcome == files::SteadyRead::Read ? versionOf(read) : versionOf(entry);
    seen = memory.look(version, clock::monotonicMs());
    if (seen.state != FileMemory::State::Waiting) return false;
    job.fileDev = version.id.dev;
    job.fileIno = version.id.ino;
    const bool settled = seen.unchangedMs >= kSettleMs;
    if (read.outcome == files::SteadyRead::Unreadable) {
        if (settled)
            rejectJobFile(job, version,
                          std::string("not readable (") + std::strerror(read.error) + ")", false);
        return false;
    }
    const std::uint64_t digest = contentDigest(read.bytes);
    if (seen.queuedDigest == digest) {
        // Touched, or written again with the same bytes: the job was queued already.
        memory.mark(version, FileMemory::State::Queued);
        return false;
    }
    job.fileSize = version.size;
    job.fileMtimeNs = version.mtimeNs;
    job.fileDigest = digest;
    JobJournal::Finished done;
    switch (jobJournal().lookup(jobFileVersion(job), &done)) {
    case JobJournal::Known::Ours:
        memory.markOurs(version.id);
        return false;
    case JobJournal::Known::Finished:
        return recoverJobFile(job, read.bytes, version, done, seen.queuedDigest);
    case JobJournal::Known::No:
        break;
    }
    const ini::Text text(read.bytes);
    fillJob(text, job);
    if (watch != nullptr) watch->catchUp();
    const char* reason = badRequestReason(job);
    // A file that is invalid, stops inside a line or is still open to a local writer may be
    // one whose writer is not done: it waits until it has stayed unchanged for a while.
    const bool unfinished = reason != nullptr || text.endsInsideLine() ||
                            (watch != nullptr && watch->beingWritten(entry.name));
    if (unfinished && !settled) return false;
    if (reason != nullptr) {
        rejectJobFile(job, version, reason, false);
        return false;
    }
    if (job.Szenario[0] != '\0' && job.Message[0] == '\0') {
        ProfileFile texts("KORLIN.INI");
        setMessage(job, texts.readString("Messages", job.AlarmKey, ""));
        if (job.Message[0] == '\0') {
            // The key as the job file spells it, in UTF-8 like every text to send.
            const std::string key = text.value("Alarm", "AlarmKey").value_or("");
            setMessage(job, "ALARM " + key.substr(0, text::utf8Head(key, sizeof job.AlarmKey - 1)));
        }
    }
    if (alarm_exists(job)) return false;  // another file with the same job is still queued
    if (!paths::exists(path)) return false;

    char line[256];
    if (job.Szenario[0] != '\0') {
        std::snprintf(line, sizeof line, "Sending alarm %s to %s", job.Szenario, job.PhoneNumber);
    } else {
        job.mini = 1;
        std::snprintf(line, sizeof line, "Sending mini-message to %s", job.PhoneNumber);
    }
    // Claimed before it is queued: from here on this version is never queued again, whatever
    // reporting does with the file and however long that takes.
    if (!memory.claim(version, digest)) return false;
    fileLog(line);
    windowLog(nullptr, line, kColorGrey);
    if (new_alarm(job) < 0) {
        memory.unclaim(version, seen.queuedDigest);  // offered again at a later scan
        return false;
    }
    clock::sleepMs(kQueuePauseMs);
    return true;
}

// A configuration that keeps results in the watch folder is named at start: those files are
// never taken as jobs.
void nameResultsInWatchFolder() {
    const GatewaySettings& s = settings();
    const std::string watch = watchDir();
    struct Target {
        const char* key;
        const char* value;
    };
    const std::vector<Target> targets =
        s.moveJobs.load() != 0
            ? std::vector<Target>{{"DonePath", s.donePath}, {"ErrorPath", s.errorPath}}
            : std::vector<Target>{{"WatchLogPath", s.watchLogPath}};
    for (const Target& t : targets) {
        if (t.value[0] == '\0' || !paths::sameDirectory(paths::fromConfig(t.value), watch))
            continue;
        const std::string line = std::string(t.key) + " is the watch folder " + watch +
                                 ": the results kept there are never taken as jobs";
        fileLog(line);
        windowLog(nullptr, line, kColorGrey);
    }
}

}  // namespace

void resetFileMemoryForTest() { fileMemory().clear(); }

bool readJobFile(const std::string& path, AlarmJob& job) {
    std::memset(&job, 0, sizeof job);
    if (path.size() >= sizeof job.path) return false;
    const files::SteadyRead read =
        files::readSteady(path, [] { clock::sleepMs(kReadPauseMs); });
    if (read.outcome != files::SteadyRead::Read) return false;
    std::memcpy(job.path, path.c_str(), path.size() + 1);
    fillJob(ini::Text(read.bytes), job);
    job.fileDev = read.id.dev;
    job.fileIno = read.id.ino;
    job.fileSize = read.size;
    job.fileMtimeNs = read.mtimeNs;
    job.fileDigest = contentDigest(read.bytes);
    return true;
}

int scanJobDirectory(DirWatch* watch) {
    const std::string dir = watchDir();
    std::vector<DirEntry> entries;
    if (listFolder(dir, settings().fileMask, entries)) {
        // Only a complete listing shows which remembered files are gone.
        std::vector<files::FileId> ids;
        std::set<std::string> names;
        for (const DirEntry& e : entries) {
            ids.push_back(e.id);
            names.insert(e.name);
        }
        fileMemory().listed(ids);
        jobJournal().listed(ids);
        if (watch != nullptr) watch->keepWriters(names);
    }
    // Oldest first, whatever order the directory keeps: with a backlog, the alarm dropped
    // first is among the first sent. The same time: by name.
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
        return a.mtimeNs != b.mtimeNs ? a.mtimeNs < b.mtimeNs : a.name < b.name;
    });
    int queued = 0;
    // Files named already as unusable (by identity), so that each is named once.
    static std::set<std::pair<std::uint64_t, std::uint64_t>> unnamable;
    for (const DirEntry& e : entries) {
        if (e.unnamable) {
            if (e.matches && unnamable.insert({e.id.dev, e.id.ino}).second) {
                const std::string line = "ERROR: cannot handle the job file " +
                                         paths::join(dir, e.name) +
                                         ": its name is no Unicode text, left in place";
                fileLog(line);
                windowLog(nullptr, line, kColorRed);
            }
            continue;
        }
        // Our own temporaries (a copy on its way in, a settings file being replaced) are never
        // jobs, whatever the mask.
        if (!e.matches || files::isTemporaryName(e.name)) continue;
        if (jobTable().count.load() >= kJobLimit) break;  // the rest wait
        if (handleJobFile(dir, e, watch)) ++queued;
    }
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
    nameResultsInWatchFolder();
    arm();
    for (;;) {
        // A time-out of 0 would scan back to back; a quarter second keeps the thread calm.
        std::int64_t timeoutMs =
            std::max<std::int64_t>(250, std::int64_t{settings().watchTimeout.load()} * 1000);
        // A file waiting to settle is looked at again as soon as it may have.
        if (auto settle = fileMemory().nextSettle(clock::monotonicMs(), kSettleMs))
            timeoutMs = std::min(timeoutMs, *settle + 50);
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
        if (stopRequested()) continue;  // no job is taken once a stop is requested
        scanJobDirectory(&watch);
    }
}

}  // namespace gsms
