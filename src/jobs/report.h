// ReportThread (report.cpp): takes every finished job out of the job table, records its outcome
// in the scenario's status table (alarms only), moves the job file to the done or error folder
// with the success line of a sent job (job_move.h) and frees the slot. A move or a success line
// that fails is tried again on a back-off (2 s, 4 s, then every 8 s) until it works, from a
// list of pending moves outside the job table (at most 256; beyond that the journal brings the
// job back at the next start): "could not move %s to %s" once when it fails, "moved %s to %s
// after all" once it worked ("added the success line to %s after all" for a line).
//
// Threads: reportThread is the ReportThread's body; it wakes on jobFinished, set by the
// ProcessingThread and by queue_finished. A finished job is changed by no other thread, so a
// report looks at the slot under jobTableLock and then writes the table and moves the file
// without it. The pending moves are the ReportThread's alone. The tests call reportSweep,
// reportJob and retryPendingMoves on their own thread with no ReportThread running.
#pragma once

#include <cstddef>
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

// Tries again each pending move whose time has come.
void retryPendingMoves();
std::size_t pendingMoveCount();
void resetPendingMovesForTest();

}  // namespace gsms
