// ReportThread (report.cpp): takes every finished job out of the job table, records its outcome
// in the scenario's status table (alarms only), moves the job file to the done or error folder
// with the success line of a sent job (job_move.h) and frees the slot.
//
// Threads: reportThread is the ReportThread's body; it wakes on jobFinished, set by the
// ProcessingThread. A finished job is changed by no other thread, so a report looks at the
// slot under jobTableLock and then writes the table and moves the file without it. The tests
// call reportSweep and reportJob on their own thread with no ReportThread running.
#pragma once

#include <cstdint>

namespace gsms {

// Sweeps the job table as soon as a job is finished, else every second: records finished jobs
// and moves their files. Returns only with the process.
[[noreturn]] void reportThread();

// One report sweep over the table, with the stamp taken at its start.
void reportSweep();

// The report of one finished job (status row, move, success line, free_alarm); a slot that is
// empty or holds an unfinished job is left alone.
void reportJob(int slot, std::uint32_t stamp);

}  // namespace gsms
