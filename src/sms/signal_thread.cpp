#include "sms/signal_thread.h"

#include <mutex>
#include <string>

#include "core/activity.h"
#include "core/log.h"
#include "core/process_exit.h"
#include "core/settings.h"
#include "modem/at_sender.h"
#include "modem/modem_link.h"
#include "platform/clock.h"
#include "sms/path_state.h"
#include "sms/tech_alarm.h"

namespace gsms {
namespace {

constexpr int kNoMeasurement = 99;
constexpr std::int64_t kCsqWaitMs = 2000;
constexpr std::int64_t kCopsWaitMs = 10000;

// The number 6 characters after the start of "+CSQ:", i.e. behind the blank the modem puts
// there; an answer without the blank loses its first digit ("+CSQ:15,99" reads 5).
// -1 when there is no "+CSQ:" at all.
int readCsq(const std::string& capture) {
    std::size_t at = capture.find("+CSQ:");
    if (at == std::string::npos) return -1;
    std::size_t i = at + 6;
    while (i < capture.size() && (capture[i] == ' ' || capture[i] == '\t')) ++i;
    int value = 0;
    for (; i < capture.size() && capture[i] >= '0' && capture[i] <= '9'; ++i)
        if (value < 1000) value = value * 10 + (capture[i] - '0');  // no overflow on junk
    return value;
}

// One poll; the caller holds the link's modemLock.
SignalOutcome pollLocked(ModemLink& link, bool& reselectionFailed) {
    ModemState& s = link.state();
    s.clearCapture();
    s.responseCapture = true;
    s.event(ModemEvent::Ok).reset();
    (void)sendCommand(link, "at+csq", "\r");
    (void)waitOk(link, kCsqWaitMs);  // only the captured text counts
    s.responseCapture = false;

    int value = readCsq(s.capture());
    if (value > 0 && value != kNoMeasurement) {
        link.signalQuality() = value;
        reselectionFailed = false;
        return SignalOutcome::Good;
    }
    link.signalQuality() = 0;
    s.event(ModemEvent::Ok).reset();
    (void)sendCommand(link, "at+cops", "=0,0\r");
    if (waitOk(link, kCopsWaitMs) == 0) return SignalOutcome::ReselectOk;
    if (reselectionFailed) return SignalOutcome::GiveUp;
    reselectionFailed = true;
    return SignalOutcome::ReselectFailed;
}

// Leaves `lock` held on GiveUp, so that the thread can end the process with it.
SignalOutcome poll(ModemLink& link, bool& reselectionFailed, std::unique_lock<std::mutex>& lock) {
    lock = std::unique_lock(link.modemLock());
    SignalOutcome outcome = pollLocked(link, reselectionFailed);
    link.signalRead() = true;
    if (outcome == SignalOutcome::GiveUp) return outcome;
    lock.unlock();
    notify(kNotifySignal);
    return outcome;
}

}  // namespace

// Nobody talks to the modem any more: the lock is kept until the process is gone.
void giveUpForReinit() {
    const char* line = "Signal lost, exiting for reinit";
    markEngineStopped();
    fileLog(line);
    windowLog(nullptr, line, kColorRed);
    raiseTechAlarm();
    clock::sleepMs(20000);
    endProcess(1);
}

std::int64_t signalGiveUpMs() {
    const std::int64_t period = settings().qualityPollMs.load();
    return 2 * ((period > 0 ? period : 1) + kCsqWaitMs + kCopsWaitMs);
}

std::atomic<int>& signalQuality() { return firstModem().signalQuality(); }

SignalOutcome signalPoll(ModemLink& link, bool& reselectionFailed) {
    std::unique_lock<std::mutex> lock;
    return poll(link, reselectionFailed, lock);
}

void signalThread(ModemLink& link) {
    bool reselectionFailed = false;
    for (;;) {
        // Read each time: a settings change applies from the next sleep on. A period of 0
        // still sleeps a moment so that a waiting submission gets modemLock between polls.
        const int period = settings().qualityPollMs.load();
        clock::sleepMs(period > 0 ? period : 1);
        // The orderly stop lets no new poll begin; a port that is gone has nothing to poll
        // (the LinkThread keeps the time instead).
        if (stopRequested() || link.portHungUp()) continue;
        std::unique_lock<std::mutex> lock;
        const SignalOutcome outcome = poll(link, reselectionFailed, lock);
        if (outcome == SignalOutcome::GiveUp) {
            // One modem: the process ends here, the lock kept. Two: this path is down while
            // the other carries the alarms; the polls go on, and a good reading brings it back.
            pathLost(link, "signal lost");
            lock.unlock();
            notify(kNotifySignal);
        } else if (outcome == SignalOutcome::Good) {
            pathBack(link);
        }
    }
}

}  // namespace gsms
