// The three threads of the alarm job pipeline, and the single passes they repeat (so that
// the tests can drive one pass at a time). Each thread returns only with the process.
#pragma once

#include <cstdint>
#include <string>

#include "jobs/job_table.h"
#include "platform/dir_watch.h"

namespace gsms {

// Watches the watch directory and queues new job files.
[[noreturn]] void readJobsThread();
// Sweeps the job table every 500 ms and submits the unfinished jobs.
[[noreturn]] void processingThread();
// Sweeps the job table every second: records finished jobs and moves their files.
[[noreturn]] void reportThread();

// How long a file that does not look finished (an invalid request, a last line without its
// line end, a file a local program still has open for writing) must stay unchanged before it
// is taken or rejected.
constexpr std::int64_t kSettleMs = 2000;

// One scan of the watch directory; returns the number of jobs queued. With the watch, the
// files it sees being written wait until they are closed or settled.
int scanJobDirectory(DirWatch* watch = nullptr);
// Reads section "Alarm" of a whole job file into job (zero-filled first), pausing 100 ms
// between looking at the file and reading it. False when the file is gone, was written to
// meanwhile or its path does not fit the job.
bool readJobFile(const std::string& path, AlarmJob& job);
// One dispatch sweep over the table.
void dispatchSweep();
// One report sweep over the table, with the stamp taken at its start.
void reportSweep();
// The report of one finished job (DBF row, move, success line, free_alarm).
void reportJob(int slot, std::uint32_t stamp);

// Moves a job file out of the watch folder into the configured folder dir, never replacing a
// file there: a rejected request (ownNameFirst) under its own name while that is free, else,
// as every result, under "<dir>/<stamp as %08X>-<name><ext>", the stamp counted up until the
// name is free. Across file systems the file is copied and the source removed. A file that
// lands in the watch folder itself is remembered as the gateway's own, never to be taken as a
// job. With line, the line is added at the end of the moved file (in a copy of the gateway's
// own when the file is not the gateway's to write); when it cannot be, "could not add the
// success line to %s (%s)" goes to the daily log and in red to the window. When the file
// stays, "could not move %s to %s" goes there too (unless quiet). The window lines carry the
// job's Szenario as prefix. 0: moved; -1: the file is where it was.
int moveJobFile(const AlarmJob& job, const char* dir, std::uint32_t stamp, bool ownNameFirst,
                const std::string* line, bool quiet = false);

// "<dir>/<stamp as %08X>-<name><ext>".
std::string resultFileName(const std::string& dir, std::uint32_t stamp, const std::string& name,
                           const std::string& ext);

// Forgets what the watcher remembers of the watch folder's files (tests).
void resetFileMemoryForTest();

}  // namespace gsms
