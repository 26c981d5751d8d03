// ReportThread: records each finished job in its scenario's status table, moves the job file
// to the done or error directory under a time-stamped name and frees the slot.
#include "jobs/report.h"

#include <dirent.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "db/database.h"
#include "jobs/job_move.h"
#include "jobs/job_table.h"
#include "platform/clock.h"
#include "platform/paths.h"

namespace gsms {

namespace {

// A scenario names a table inside the watch-log directory and nothing else: any file name
// will do ("a..b", ".hidden") but one with a separator or a control character, "." or "..".
bool isPlainName(const char* name) {
    if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return false;
    for (const char* p = name; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

// The alarm server may spell the table's name in another case ("ALARM1.DBF").
std::string findTable(const std::string& dir, const std::string& name) {
    const std::string exact = paths::join(dir, name);
    if (paths::exists(exact)) return exact;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return exact;
    std::string found = exact;
    while (dirent* e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            found = paths::join(dir, e->d_name);
            break;
        }
    }
    ::closedir(d);
    return found;
}

// `path`: the table's file, when its name was safe to look up. When the system refuses the
// file (missing, no rights, a read-only folder) its reason is named; `why` names a field that
// cannot hold its value.
void couldNotUpdate(const std::string& table, const std::string& path = "",
                    const std::string& why = {}) {
    std::string line = "ERROR : could not update " + table + why;
    if (const int problem = path.empty() ? 0 : paths::fileWriteProblem(path); problem != 0)
        line += std::string(" (") + std::strerror(problem) + ")";
    fileLog(line);
    windowLog(nullptr, line, kColorRed);
}

// Writes the job's outcome into its row, all of it or nothing: false when the row is not
// there, a field cannot hold its value (`why` then names it) or the write failed (the box of
// CDatabase has then been shown). A field the table lacks is left out, as before.
bool writeStatusRow(CDatabase& db, const AlarmJob& job, const char* timeText, std::string& why) {
    // A row that is not there must not be written into any other row.
    if (db.Go(static_cast<long>(job.dbentry) + 1) != 0) return false;
    std::vector<FieldValue> row;
    char ti[8], to[8];
    const auto put = [&](const char* name, const char* text, int number) {
        if (db.HasField(name)) row.push_back({name, text, number});
    };
    put("STATUS", nullptr, job.status);
    put("TIME", timeText, 0);
    for (int n = 1; n <= 4; ++n) {
        char name[8];
        std::snprintf(name, sizeof name, "TY%d", n);
        if (!db.HasField(name)) continue;
        std::vector<char> type(static_cast<std::size_t>(db.FieldLength(name)) + 1, '\0');
        if (!db.GetField(name, type.data()) || std::strcmp(type.data(), "SMS") != 0) continue;
        std::snprintf(ti, sizeof ti, "TI%d", n);
        std::snprintf(to, sizeof to, "TO%d", n);
        put(ti, timeText, 0);
        put(to, nullptr, job.status);
        break;
    }
    FieldRefusal refused;
    if (db.ReplaceAll(row.data(), row.size(), refused) == 1) return true;
    for (const FieldValue& v : row) {
        if (refused.name != v.name) continue;
        const std::string value =
            v.text ? '"' + std::string(v.text) + '"' : std::to_string(v.number);
        why = ": field " + refused.name + " (type " + std::string(1, refused.type) +
              ") cannot hold " + value;
        break;
    }
    return false;
}

void updateStatusRow(const AlarmJob& job, const char* timeText) {
    const std::string dir = paths::fromConfig(settings().watchLogPath);
    const std::string shown = paths::join(dir, std::string(job.Szenario) + ".dbf");
    if (!isPlainName(job.Szenario)) {
        couldNotUpdate(shown);
        return;
    }
    CDatabase db;
    const std::string path = findTable(dir, std::string(job.Szenario) + ".dbf");
    if (!db.Open(path.c_str())) {
        couldNotUpdate(shown, path);
        return;
    }
    std::string why;
    const bool written = writeStatusRow(db, job, timeText, why);
    db.Close();
    if (!written) couldNotUpdate(shown, why.empty() ? path : std::string(), why);
}

}  // namespace

void reportJob(int slot, std::uint32_t stamp) {
    AlarmJob* job;
    {
        std::lock_guard lock(jobTableLock());
        job = jobTable().slots[slot];
        if (job == nullptr || !job->finished) return;
    }
    // Finished: no other thread changes the job any more.
    const std::tm sent = clock::localTime(job->sent_at);
    char timeText[16];
    std::snprintf(timeText, sizeof timeText, "%02d%02d%02d", sent.tm_hour, sent.tm_min,
                  sent.tm_sec);
    if (!job->mini) updateStatusRow(*job, timeText);

    const GatewaySettings& s = settings();
    const bool move = s.moveJobs.load() != 0;
    const bool failed = job->status == STATUS_FAILED;
    const char* target = failed ? (move ? s.errorPath : s.watchLogPath)
                                : (move ? s.donePath : s.watchLogPath);
    // A file that stays in the watch folder (no target, or the move failed) is not sent again:
    // the watcher queued this version of it once and for all.
    if (target[0] != '\0') {
        char line[64];
        std::snprintf(line, sizeof line, "%d.%d.%d %d:%d ALARM successfully sent",
                      sent.tm_year + 1900, sent.tm_mon + 1, sent.tm_mday, sent.tm_hour,
                      sent.tm_min);
        const std::string successLine = line;
        (void)moveJobFile(*job, target, stamp, false, failed ? nullptr : &successLine);
    }
    free_alarm(slot);
}

void reportSweep() {
    const auto stamp = static_cast<std::uint32_t>(clock::wallSeconds());
    for (int slot = 0; slot < kJobSlots; ++slot) reportJob(slot, stamp);
}

void reportThread() {
    for (;;) {
        // Reset before the sweep: a job finished during it ends the pause at once.
        jobFinished().reset();
        reportSweep();
        (void)jobFinished().wait(1000);
    }
}

}  // namespace gsms
