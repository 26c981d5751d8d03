// ReadJobsThread (intake.cpp): turns job files in the watch folder into queued jobs, each file
// version once and only once the file is whole, and moves rejected requests out of the folder.
// Each scan takes the files oldest first (modification time, then name). A file the journal
// (job_journal.h) knows as finished is queued as finished, for its report alone ("Already
// sent, not sent again: <file>", or "Already failed, ..."); a result of ours it knows is
// never a job.
//
// Threads: readJobsThread is the ReadJobsThread's body and the only caller of
// scanJobDirectory in the engine; it queues with new_alarm and reads the job count (the job
// table's functions take jobTableLock, which intake never holds itself). readJobFile has no
// state and may run on any thread. What the watcher remembers of the folder (file_memory.h)
// is shared with the ReportThread only through moveJobFile (job_move.h). The tests call
// scanJobDirectory and resetFileMemoryForTest on their own thread with no ReadJobsThread
// running.
#pragma once

#include <cstdint>
#include <string>

#include "jobs/job_table.h"
#include "platform/dir_watch.h"

namespace gsms {

// Watches the watch directory and queues new job files. Returns only with the process.
[[noreturn]] void readJobsThread();

// How long a file that does not look finished (an invalid request, a last line without its
// line end, a file a local program still has open for writing) must stay unchanged before it
// is taken or rejected.
constexpr std::int64_t kSettleMs = 2000;

// One scan of the watch directory; returns the number of jobs queued (finished ones from the
// journal included). With the watch, the
// files it sees being written wait until they are closed or settled.
int scanJobDirectory(DirWatch* watch = nullptr);

// Reads section "Alarm" of a whole job file into job (zero-filled first), pausing 100 ms
// between looking at the file and reading it. False when the file is gone, was written to
// meanwhile or its path does not fit the job.
bool readJobFile(const std::string& path, AlarmJob& job);

// Forgets what the watcher remembers of the watch folder's files (tests).
void resetFileMemoryForTest();

}  // namespace gsms
