// Signal and network supervision: polls at+csq every "QualityPollEverySecs", reselects the
// network with at+cops when the signal is gone, and ends the process for a fresh start after
// the second failed reselection without a good reading in between.
//
// Thread contract: signalQuality is written by the SignalThread only and read by the front
// ends on notification code 99. signalPoll takes modemLock for one poll and may run on any
// thread that holds no other modem exchange; the reselection flag belongs to its caller.
#pragma once

#include <atomic>

namespace gsms {

// The last signal strength read, 0..31; 0 when there is no usable reading. Written by the
// SignalThread only; read by the front ends on notification code 99.
std::atomic<int>& signalQuality();

enum class SignalOutcome {
    Good,            // a reading other than 0 and 99: the flag is cleared
    ReselectOk,      // no usable signal, at+cops answered OK: the flag is kept
    ReselectFailed,  // no usable signal, at+cops unanswered: the flag is now set
    GiveUp,          // as ReselectFailed, but the flag was set already
};

// One poll: at+csq under responseCapture, stores signalQuality, reselects with "at+cops=0,0"
// when there is no usable signal. Notifies code 99 after releasing modemLock, except on GiveUp.
SignalOutcome signalPoll(bool& reselectionFailed);

// The SignalThread routine; returns only with the process.
[[noreturn]] void signalThread();

}  // namespace gsms
