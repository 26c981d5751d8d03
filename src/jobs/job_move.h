// The one way a job file leaves the watch folder (job_move.cpp): a request rejected by the
// watcher, or a job reported as sent or failed.
//
// Threads: the ReadJobsThread (rejections) and the ReportThread (results, and the moves it
// tries again) call moveJobFile, neither with jobTableLock held; the move checks that the file
// is still the one the watcher read (device and inode, when known). A result that lands in the
// watch folder is marked as the gateway's own in the watcher's memory (file_memory.h, which has
// a lock of its own) before it appears there, and in the journal (job_journal.h) once it is in
// place. resultFileName is pure.
#pragma once

#include <cstdint>
#include <string>

#include "jobs/job_table.h"
#include "platform/file_move.h"

namespace gsms {

// The job file to move: its path, the job's Szenario (the window lines' prefix) and the file
// the watcher read (unknown: 0 and 0).
struct JobFileRef {
    std::string path;
    std::string szenario;
    files::FileId id;
};
JobFileRef jobFileRef(const AlarmJob& job);

// What became of a move.
struct MoveResult {
    std::string to;     // the name the file got, or the last one tried
    int error = 0;      // why the file stayed where it was
    int lineError = 0;  // moved, but the line is missing: why
};

// Moves a job file out of the watch folder into the configured folder dir, never replacing a
// file there: a rejected request (ownNameFirst) under its own name while that is free, else,
// as every result, under "<dir>/<stamp as %08X>-<name><ext>", the stamp counted up until the
// name is free. Across file systems the file is copied and the source removed. A file that
// lands in the watch folder itself is remembered as the gateway's own, never to be taken as a
// job. With line, the line is added at the end of the moved file (in a copy of the gateway's
// own when the file is not the gateway's to write); when it cannot be, "could not add the
// success line to %s (%s)" goes to the daily log and in red to the window. When the file
// stays, "could not move %s to %s" goes there too. Unless quiet: then nothing is said. The
// window lines carry the job's Szenario as prefix. 0: moved; -1: the file is where it was.
int moveJobFile(const JobFileRef& file, const char* dir, std::uint32_t stamp, bool ownNameFirst,
                const std::string* line, bool quiet = false, MoveResult* result = nullptr);

// "<dir>/<stamp as %08X>-<name><ext>", the name cut between two characters where the whole
// would be longer than the folder's file system allows for a file name.
std::string resultFileName(const std::string& dir, std::uint32_t stamp, const std::string& name,
                           const std::string& ext);

}  // namespace gsms
