// ProcessingThread (dispatch.cpp): sends the unfinished jobs of the job table, one attempt per
// job per sweep in slot order, retries failed alarms and marks each settled job finished.
//
// Threads: processingThread is the ProcessingThread's body; it sweeps with dispatchSweep,
// which takes jobTableLock and releases it around each submission, so that sendSms (which
// takes modemLock) never runs under it. The tests call dispatchSweep on their own thread
// with no ProcessingThread running.
#pragma once

namespace gsms {

// Sweeps the job table every 500 ms, or as soon as a job is queued, and submits the
// unfinished jobs. Returns only with the process.
[[noreturn]] void processingThread();

// One dispatch sweep over the table.
void dispatchSweep();

}  // namespace gsms
