// The three threads of the alarm job pipeline, and the single passes they repeat (so that
// the tests can drive one pass at a time). Each thread returns only with the process.
#pragma once

#include <cstdint>
#include <string>

#include "jobs/job_table.h"

namespace gsms {

// Watches the watch directory and queues new job files.
[[noreturn]] void readJobsThread();
// Sweeps the job table every 500 ms and submits the unfinished jobs.
[[noreturn]] void processingThread();
// Sweeps the job table every second: records finished jobs and moves their files.
[[noreturn]] void reportThread();

// One scan of the watch directory; returns the number of jobs queued.
int scanJobDirectory();
// Reads section "Alarm" of a job file into job (zero-filled first). False when the file is
// gone or its path does not fit the job.
bool readJobFile(const std::string& path, AlarmJob& job);
// One dispatch sweep over the table.
void dispatchSweep();
// One report sweep over the table, with the stamp taken at its start.
void reportSweep();
// The report of one finished job (DBF row, move, success line, free_alarm).
void reportJob(int slot, std::uint32_t stamp);

// Job files that were settled but stayed in the watch directory (move failed, or no target
// directory): remembered by path, size and modification time so that they are not queued
// again; a file that changes afterwards is a new job.
void rememberSettledFile(const std::string& path);
[[nodiscard]] bool isSettledFile(const std::string& path);
void resetSettledFilesForTest();

// "<dir>/<stamp as %08X>-<name><ext>", the stamp counted up until the name is free, so that
// an earlier result file is never replaced.
std::string resultFileName(const std::string& dir, std::uint32_t stamp, const std::string& name,
                           const std::string& ext);

}  // namespace gsms
