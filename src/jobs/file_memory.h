// What the watcher remembers of the files in the watch folder, by file (device and inode), for
// as long as the file stays there:
//   - the version it queued (size, modification time) and a digest of its bytes, so that a
//     job is queued once however long its file stays (reporting could not move it, or results
//     are kept in the watch folder) and a `touch` that leaves the bytes alone sends nothing;
//   - a version seen but not taken yet, with the time it was first seen, so that a file that
//     does not look finished is taken (or rejected) only once it has stayed unchanged;
//   - a rejected file that could not be moved, or whose path is too long, so that this is
//     said once;
//   - the result files the gateway puts into the watch folder, which are never jobs.
// A file missing from two complete listings in a row is forgotten (one listing may miss a
// file renamed while it runs), so the memory is as small as the folder; a file brought back
// later, such as a failed job moved back from the error folder, is a new drop.
//
// Threads: ReadJobsThread calls everything but markOurs; ReportThread (and the watcher's own
// rejection) call markOurs before a result appears in the watch folder. One lock inside.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/file_move.h"

namespace gsms {

// One version of a file.
struct FileVersion {
    files::FileId id;
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileVersion&) const = default;
};

class FileMemory {
public:
    enum class State {
        Waiting,    // seen, not taken yet
        Queued,     // this version was queued
        Unmovable,  // rejected, and the move failed (said once)
        Overlong,   // path too long to use (said once)
        Ours,       // a result file of the gateway
    };
    struct Seen {
        State state = State::Waiting;
        std::int64_t unchangedMs = 0;  // how long this version has been seen unchanged
        std::optional<std::uint64_t> queuedDigest;  // of the bytes once queued from this file
    };

    // What is remembered of this version; a version not seen before starts waiting now.
    Seen look(const FileVersion& version, std::int64_t nowMs);
    // Queues this version unless it is a result of ours. False: do not queue it.
    [[nodiscard]] bool claim(const FileVersion& version, std::uint64_t digest);
    // Takes back a claim whose job could not be queued; digest: what look() said was queued
    // from the file before.
    void unclaim(const FileVersion& version, std::optional<std::uint64_t> digest);
    // Sets the state of this version (Queued after a touch, Unmovable, Overlong).
    void mark(const FileVersion& version, State state);
    // A result of the gateway's is about to appear under this identity.
    void markOurs(const files::FileId& id);

    // A complete listing of the folder: every regular file in it, by identity.
    void listed(const std::vector<files::FileId>& ids);
    // Milliseconds until a waiting file has stayed unchanged for settleMs, if any will.
    [[nodiscard]] std::optional<std::int64_t> nextSettle(std::int64_t nowMs,
                                                         std::int64_t settleMs);
    std::size_t size();
    void clear();

private:
    struct Entry {
        FileVersion version;
        State state = State::Waiting;
        std::int64_t sinceMs = 0;  // first seen in this version
        std::optional<std::uint64_t> digest;
        int missed = 0;  // complete listings in a row without the file
    };
    struct Hash {
        std::size_t operator()(const files::FileId& id) const {
            return std::hash<std::uint64_t>()(id.ino * 31 + id.dev);
        }
    };
    std::mutex lock_;
    std::unordered_map<files::FileId, Entry, Hash> entries_;
};

// The process-wide memory of the watch folder.
FileMemory& fileMemory();

}  // namespace gsms
