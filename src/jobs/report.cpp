// ReportThread: records each finished job in its scenario's status table, moves the job file
// to the done or error directory under a time-stamped name and frees the slot.
#include "jobs/report.h"

#include <dirent.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "db/database.h"
#include "jobs/job_journal.h"
#include "jobs/job_move.h"
#include "jobs/job_table.h"
#include "platform/clock.h"
#include "platform/file_append.h"
#include "platform/file_replace.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"

namespace gsms {

namespace {

// A failed move or success line is tried again after 2 s, then 4 s, then every 8 s (monotonic).
constexpr std::int64_t kRetryFirstMs = 2000;
constexpr std::int64_t kRetryMostMs = 8000;
// Beyond that many, a failed move waits for the next start (the journal keeps the job).
constexpr std::size_t kPendingMovesMost = 256;

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

// True when the row holds the outcome now.
bool updateStatusRow(const AlarmJob& job, const char* timeText) {
    const std::string dir = paths::fromConfig(settings().watchLogPath);
    const std::string shown = paths::join(dir, std::string(job.Szenario) + ".dbf");
    if (!isPlainName(job.Szenario)) {
        couldNotUpdate(shown);
        return false;
    }
    CDatabase db;
    const std::string path = findTable(dir, std::string(job.Szenario) + ".dbf");
    if (!db.Open(path.c_str())) {
        couldNotUpdate(shown, path);
        return false;
    }
    std::string why;
    const bool written = writeStatusRow(db, job, timeText, why);
    db.Close();
    if (!written) couldNotUpdate(shown, why.empty() ? path : std::string(), why);
    return written;
}

// The folder a result goes to now, or "" when it stays where it is.
const char* targetOf(bool failed) {
    const GatewaySettings& s = settings();
    const bool move = s.moveJobs.load() != 0;
    return failed ? (move ? s.errorPath : s.watchLogPath) : (move ? s.donePath : s.watchLogPath);
}

// A move (or the success line after it) that failed, tried again on a back-off until it
// works. The ReportThread's own: no lock.
struct PendingMove {
    JobFileRef file;
    std::uint64_t digest = 0;  // of the bytes reported (0: not known)
    bool failed = false;
    std::string line;    // the success line of a sent job
    std::string result;  // moved already: the line is still to be added to this file
    std::int64_t dueMs = 0;
    std::int64_t delayMs = 0;
};
std::vector<PendingMove>& pendingMoves() {
    static std::vector<PendingMove>* list = new std::vector<PendingMove>;  // as the thread
    return *list;
}

// The job file is no longer in the watch folder (or another file took its name): nothing is
// left to move.
bool sourceGone(const JobFileRef& file) {
    files::FileId now;
    return !files::identityOf(file.path, now) || (file.id.known() && !(now == file.id));
}

// The alarm server wrote a new job into the file meanwhile: the watcher takes that one, and
// the result of the old one must not carry it away.
bool rewritten(const PendingMove& p) {
    if (p.digest == 0) return false;
    const files::SteadyRead r = files::readSteady(p.file.path, [] {});
    return r.outcome == files::SteadyRead::Read && contentDigest(r.bytes) != p.digest;
}

void backOff(PendingMove& p, std::int64_t nowMs) {
    p.delayMs = p.delayMs == 0 ? kRetryFirstMs : std::min(p.delayMs * 2, kRetryMostMs);
    p.dueMs = nowMs + p.delayMs;
}

void keepTrying(PendingMove p) {
    std::vector<PendingMove>& list = pendingMoves();
    if (list.size() >= kPendingMovesMost) {
        // The journal still knows the job: it is reported again, not sent, at the next start.
        const std::string line = "ERROR: too many moves pending, " +
                                 (p.result.empty() ? p.file.path : p.result) +
                                 " is left as it is until the next start";
        fileLog(line);
        windowLog(p.file.szenario.c_str(), line, kColorRed);
        return;
    }
    backOff(p, clock::monotonicMs());
    list.push_back(std::move(p));
}

// One more try of a pending move or line; true when it is done with (worked, or nothing is
// left to do).
bool tryAgain(PendingMove& p, std::uint32_t stamp) {
    char text[kFileLineSize];
    if (p.result.empty()) {
        const char* target = targetOf(p.failed);
        if (target[0] == '\0') return true;  // no target any more: the file stays
        if (rewritten(p)) return true;
        MoveResult r;
        if (moveJobFile(p.file, target, stamp, false, p.failed ? nullptr : &p.line, true, &r) !=
            0)
            return sourceGone(p.file);
        jobJournal().moved(p.file.id);
        std::snprintf(text, sizeof text, "moved %s to %s after all", p.file.path.c_str(),
                      r.to.c_str());
        fileLog(text);
        windowLog(p.file.szenario.c_str(), text, kColorGrey);
        if (r.lineError == 0) return true;
        std::snprintf(text, sizeof text, "could not add the success line to %s (%s)",
                      r.to.c_str(), std::strerror(r.lineError));
        fileLog(text);
        windowLog(p.file.szenario.c_str(), text, kColorRed);
        p.result = r.to;
        return false;
    }
    if (files::append(p.result, p.line, files::IfMissing::Skip) != 0)
        return errno == ENOENT;  // taken away by the alarm server
    std::snprintf(text, sizeof text, "added the success line to %s after all", p.result.c_str());
    fileLog(text);
    windowLog(p.file.szenario.c_str(), text, kColorGrey);
    return true;
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
    const files::FileId id{job->fileDev, job->fileIno};
    // A row written before a restart is not written again: the alarm server may have used it
    // since.
    if (!job->mini && job->rowWritten == 0 && updateStatusRow(*job, timeText))
        jobJournal().rowWritten(id);

    const bool failed = job->status == STATUS_FAILED;
    const char* target = targetOf(failed);
    // A file that stays in the watch folder (no target, or the move failed) is not sent again:
    // the watcher queued this version of it once and for all, and the journal knows it.
    if (target[0] != '\0') {
        char line[64];
        std::snprintf(line, sizeof line, "%d.%d.%d %d:%d ALARM successfully sent",
                      sent.tm_year + 1900, sent.tm_mon + 1, sent.tm_mday, sent.tm_hour,
                      sent.tm_min);
        PendingMove p;
        p.file = jobFileRef(*job);
        p.digest = job->fileDigest;
        p.failed = failed;
        // In the file's own encoding: a UTF-16 file stays readable as such.
        const auto encoding = static_cast<text::Encoding>(job->fileEncoding);
        if (!failed) p.line = text::encodeMore(encoding, line);
        MoveResult r;
        if (moveJobFile(p.file, target, stamp, false, failed ? nullptr : &p.line, false, &r) ==
            0) {
            jobJournal().moved(id);
            if (r.lineError != 0) {
                p.result = r.to;
                keepTrying(std::move(p));
            }
        } else if (!sourceGone(p.file)) {
            keepTrying(std::move(p));
        }
    }
    free_alarm(slot);
}

void reportSweep() {
    const auto stamp = static_cast<std::uint32_t>(clock::wallSeconds());
    for (int slot = 0; slot < kJobSlots; ++slot) reportJob(slot, stamp);
}

void retryPendingMoves() {
    std::vector<PendingMove>& list = pendingMoves();
    if (list.empty()) return;
    const auto stamp = static_cast<std::uint32_t>(clock::wallSeconds());
    const std::int64_t now = clock::monotonicMs();
    for (auto it = list.begin(); it != list.end();) {
        if (it->dueMs > now) {
            ++it;
        } else if (tryAgain(*it, stamp)) {
            it = list.erase(it);
        } else {
            backOff(*it, clock::monotonicMs());
            ++it;
        }
    }
}

std::size_t pendingMoveCount() { return pendingMoves().size(); }

void resetPendingMovesForTest() { pendingMoves().clear(); }

void reportThread() {
    for (;;) {
        // Reset before the sweep: a job finished during it ends the pause at once.
        jobFinished().reset();
        reportSweep();
        retryPendingMoves();
        (void)jobFinished().wait(1000);
    }
}

}  // namespace gsms
