// ProcessingThread (dispatch.cpp): sends the unfinished jobs of the job table, one attempt per
// job per sweep in slot order, retries failed alarms and marks each settled job finished.
//
// Threads: processingThread is the ProcessingThread's body; it sweeps with dispatchSweep,
// which takes jobTableLock and releases it around each submission, so that the submit
// function (which takes the modem link's modemLock, through sendSms) never runs under it. The
// tests call dispatchSweep on their own thread with no ProcessingThread running.
// setSubmitFunction may be called from any thread; a sweep picks the function up at its next
// submission.
#pragma once

namespace gsms {

class ModemLink;

// How a job's SMS reaches the modem, with sendSms's arguments and meaning: number and text
// as the job holds them, flash 1 for a flash SMS and 0 for a normal one. 0: the modem took
// the whole message; -1: any failure (a part refused or not answered in time, a number that
// is not one), which dispatch counts as one failed attempt. It blocks for the modem dialogue
// and takes the modem's lock itself.
// link: the modem of the sweep.
using SubmitFn = int (*)(ModemLink& link, const char* number, const char* text, int flash);

// Sets the function dispatch submits with and returns the one it replaces; nullptr sets the
// default, sendSms.
SubmitFn setSubmitFunction(SubmitFn submit);

// The ProcessingThread of a modem: sweeps the job table every 500 ms, or as soon as a job is
// queued or handed to this modem, and submits the unfinished jobs on it. Returns only with
// the process.
[[noreturn]] void processingThread(ModemLink& link);

// One dispatch sweep over the table, on the given modem or the first.
void dispatchSweep(ModemLink& link);
void dispatchSweep();

}  // namespace gsms
