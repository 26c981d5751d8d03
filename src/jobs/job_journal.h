// The job journal (job_journal.cpp): what the gateway knows of the job files in the watch
// folder across a restart or a kill, in "gsmsd.journal" of the profile folder.
//
// For each job file whose outcome is settled (the modem took its last part, or it failed for
// good) it keeps the file's identity as the watcher read it (device, inode, size, modification
// time, a digest of the bytes), the outcome, the time of the last attempt and whether the
// status row has been written. The record is on disk before the job is reported, so a file
// that is still in the watch folder at the next start (the gateway was killed before the move,
// or the move failed) is reported and moved, never sent again. The results the gateway keeps
// in the watch folder itself are kept there too (identity, size, digest), never to be taken as
// jobs. An entry goes once its file has been moved out of the watch folder or is missing from
// two complete listings in a row, so the journal is as small as the folder.
//
// The file: one record per line, "<fields> <CRC-32 of the fields as 8 hex digits>", appended
// and synced; a line that is torn (a kill or a power cut in the middle of a write) or damaged
// fails its check and is skipped. The file is rewritten compacted (platform/file_replace.h:
// a temporary, synced, renamed over the old one) when it is opened and whenever it holds
// many more records than entries.
//
// Threads: the ProcessingThread (finished), the ReportThread (rowWritten, moved, ours through
// moveJobFile) and the ReadJobsThread (lookup, listed, ours through moveJobFile). One lock
// inside (a leaf: nothing else is taken while it is held), held while a record is written;
// the log lines about the file are written after it is released. The file is opened at the
// first use, in the profile folder of that moment.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "jobs/job_table.h"
#include "platform/file_move.h"

namespace gsms {

constexpr const char* kJournalFileName = "gsmsd.journal";

// A digest of a job file's bytes that stays the same from one run to the next (FNV-1a, 64 bits).
std::uint64_t contentDigest(std::string_view bytes);

// One version of a job file, with a digest of its bytes.
struct JobFileVersion {
    files::FileId id;
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::uint64_t digest = 0;
    bool operator==(const JobFileVersion&) const = default;
};

// The job file a job was read from (unknown: id 0 and 0).
JobFileVersion jobFileVersion(const AlarmJob& job);

class JobJournal {
public:
    struct Finished {
        std::int32_t status = 0;  // STATUS_SENT or STATUS_FAILED
        std::int32_t sentAt = 0;  // the last attempt, seconds since 1970 (the row's time)
        bool rowWritten = false;
    };
    enum class Known { No, Finished, Ours };

    // The job file's outcome is settled: on disk when this returns (if the disk lets it).
    void finished(const JobFileVersion& version, std::int32_t status, std::int32_t sentAt);
    // Its status row has been written.
    void rowWritten(const files::FileId& id);
    // It has left the watch folder.
    void moved(const files::FileId& id);
    // A result of the gateway's now lies in the watch folder in this version.
    void ours(const JobFileVersion& version);
    // What the journal knows of this version: a finished job (its outcome in *finished), a
    // result of ours (same file, size and bytes; the time may differ), or nothing.
    Known lookup(const JobFileVersion& version, Finished* finished = nullptr);
    // A complete listing of the watch folder: every regular file in it, by identity.
    void listed(const std::vector<files::FileId>& ids);

    std::size_t size();
    // Forgets everything; the next use opens the file again (tests).
    void reset();

private:
    enum class Kind { Finished, Ours };
    struct Entry {
        Kind kind = Kind::Finished;
        JobFileVersion version;
        Finished outcome;
        int missed = 0;  // complete listings in a row without the file
    };
    struct Hash {
        std::size_t operator()(const files::FileId& id) const {
            return std::hash<std::uint64_t>()(id.ino * 31 + id.dev);
        }
    };
    // What the caller logs once the lock is released.
    struct Said {
        std::string line;
        bool failure = false;
    };

    void openLocked(std::vector<Said>& said);
    void load(const std::string& bytes, std::vector<Said>& said);
    void writeLocked(const std::string& record, std::vector<Said>& said);
    void compactLocked(std::vector<Said>& said);
    static void say(const std::vector<Said>& said);
    std::string recordOf(const files::FileId& id, const Entry& e) const;

    std::mutex lock_;
    bool open_ = false;
    bool failing_ = false;     // the last write failed (said once)
    bool unreadable_ = false;  // the file could not be read: appended to, never rewritten
    std::string path_;
    std::size_t records_ = 0;  // records in the file, live or not
    std::unordered_map<files::FileId, Entry, Hash> entries_;
};

// The process-wide journal.
JobJournal& jobJournal();

}  // namespace gsms
