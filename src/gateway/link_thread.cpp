#include "gateway/link_thread.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "core/activity.h"
#include "core/log.h"
#include "core/process_exit.h"
#include "core/settings.h"
#include "gateway/engine.h"
#include "gateway/modem_start.h"
#include "jobs/job_table.h"
#include "modem/at_sender.h"
#include "modem/modem_state.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "platform/thread.h"
#include "sms/signal_thread.h"

namespace gsms {
namespace {

constexpr std::size_t kThreadStack = 0x20000;  // 128 KiB, as every worker

// Copied once at start: the settings' texts belong to the Settings dialog while the engine
// runs, and a change of them takes effect at the next start.
struct StartTexts {
    std::string portMode;
    ModemTexts modem;
};
const StartTexts* startTexts = nullptr;

void back(std::int64_t goneMs) {
    setPortHungUp(false);  // before the line, so that the status its notification brings is clear
    char line[64];
    std::snprintf(line, sizeof line, "modem port back after %lld s",
                  static_cast<long long>((goneMs + 500) / 1000));
    fileLog(line);
    windowLog(nullptr, line, kColorDefault);
}

// From the loss until the modem is back in service, or the process ends.
void heal(SerialPort& port) {
    const std::int64_t since = portHungUpSinceMs();
    const std::int64_t limit = signalGiveUpMs();
    port.close();
    std::string named;  // the modem's last failure logged in this loss
    for (;;) {
        clock::sleepMs(kPortRetryMs);
        if (stopRequested()) continue;  // the orderly stop has the modem now
        std::unique_lock lock(modemLock());
        if (port.open()) {
            const std::int64_t gone = clock::monotonicMs() - since;
            port.configure(startTexts->portMode.c_str());
            port.setTimeouts(50);
            std::string message;
            const int failure = startModem(startTexts->modem, message);
            if (failure == 0) {
                back(gone);
                lock.unlock();
                jobQueued().set();  // the jobs that waited go out now
                return;
            }
            if (failure == kExitSimLocked) fatalModemStop(message, failure);
            // Let go again: a modem still coming up may come back under a new device.
            port.close();
            if (message != named) {
                fileLog(message);
                windowLog(nullptr, message, kColorDefault);
                named = message;
            }
        }
        if (clock::monotonicMs() - since >= limit) giveUpForReinit();  // modemLock kept
    }
}

[[noreturn]] void linkThread() {
    for (;;) {
        clock::sleepMs(kPortRetryMs);
        SerialPort* port = serialPortRef().load();
        if (port != nullptr && portHungUp()) heal(*port);
    }
}

}  // namespace

void startLinkThread() {
    startTexts = new StartTexts{settings().portMode, modemTextsFromSettings()};
    startDetachedThread(linkThread, "LinkThread", kThreadStack);
}

}  // namespace gsms
