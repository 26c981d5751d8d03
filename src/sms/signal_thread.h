// Signal and network supervision: polls at+csq every "QualityPollEverySecs", reselects the
// network with at+cops when the signal is gone, and ends the process for a fresh start after
// the second failed reselection without a good reading in between.
//
// Thread contract: a link's signal quality (ModemLink::signalQuality) is written by its
// SignalThread only and read by the front ends on notification code 99. signalPoll takes the
// link's modemLock for one poll and may run on any thread that holds no other modem exchange;
// the reselection flag belongs to its caller.
#pragma once

#include <atomic>
#include <cstdint>

namespace gsms {

class ModemLink;

// The first modem's signal quality (firstModem().signalQuality(), modem/modem_link.h), as the
// front ends and the status show it.
std::atomic<int>& signalQuality();

enum class SignalOutcome {
    Good,            // a reading other than 0 and 99: the flag is cleared
    ReselectOk,      // no usable signal, at+cops answered OK: the flag is kept
    ReselectFailed,  // no usable signal, at+cops unanswered: the flag is now set
    GiveUp,          // as ReselectFailed, but the flag was set already
};

// One poll: at+csq under responseCapture, stores the link's signal quality, reselects with
// "at+cops=0,0" when there is no usable signal. Notifies code 99 after releasing modemLock,
// except on GiveUp.
SignalOutcome signalPoll(ModemLink& link, bool& reselectionFailed);

// The SignalThread routine of `link`; returns only with the process. It skips its polls while
// the port is gone (the link's portHungUp).
[[noreturn]] void signalThread(ModemLink& link);

// The give-up: "Signal lost, exiting for reinit" (both logs, red), the tech alarm, 20 s, exit
// code 1. The caller holds modemLock and keeps it, so that nobody talks to the modem meanwhile.
[[noreturn]] void giveUpForReinit();

// The longest the supervision takes to give up on a modem that answers nothing, in gateway
// milliseconds: two polls, each a period after the last and each with an unanswered at+csq
// (2 s) and at+cops (10 s). 34 s with the default period of 5 s.
[[nodiscard]] std::int64_t signalGiveUpMs();

}  // namespace gsms
