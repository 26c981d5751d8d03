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
#include "modem/modem_link.h"
#include "modem/modem_state.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "platform/thread.h"
#include "sms/path_state.h"
#include "sms/signal_thread.h"

namespace gsms {
namespace {

constexpr std::size_t kThreadStack = 0x20000;  // 128 KiB, as every worker

// Copied once at start: the settings' texts belong to the Settings dialog while the engine
// runs, and a change of them takes effect at the next start.
struct StartTexts {
    ModemLink* link;
    std::string portMode;
    ModemTexts modem;
};
const StartTexts* startTexts[2] = {};

void back(ModemLink& link, std::int64_t goneMs) {
    // Before the line, so that the status its notification brings is clear.
    link.started() = true;
    link.setPortHungUp(false);
    char line[64];
    std::snprintf(line, sizeof line, "modem port back after %lld s",
                  static_cast<long long>((goneMs + 500) / 1000));
    fileLog(link.named(line));
    windowLog(nullptr, link.named(line), kColorDefault);
    pathBack(link);
}

// From the loss until the modem is back in service, or the process ends (with two modems: or
// its SIM is retired).
void heal(const StartTexts& texts, SerialPort& port) {
    ModemLink& link = *texts.link;
    const std::int64_t since = link.portHungUpSinceMs();
    const std::int64_t limit = signalGiveUpMs();
    port.close();
    std::string named;  // the modem's last failure logged in this loss
    for (;;) {
        clock::sleepMs(kPortRetryMs);
        if (stopRequested()) continue;  // the orderly stop has the modem now
        std::unique_lock lock(link.modemLock());
        if (port.open()) {
            // The modem's waits work again; the hang-up stays until it is back in service.
            link.state().event(ModemEvent::Lost).reset();
            const std::int64_t gone = clock::monotonicMs() - since;
            port.configure(texts.portMode.c_str());
            port.setTimeouts(50);
            std::string message;
            const int failure = startModem(link, texts.modem, message);
            if (failure == 0) {
                back(link, gone);
                lock.unlock();
                wakeDispatch();  // the jobs that waited go out now
                return;
            }
            // Let go again: a modem still coming up may come back under a new device.
            port.close();
            if (failure == kExitSimLocked) {
                if (modemCount() == 1) fatalModemStop(message, failure);
                retire(link, message);
                return;
            }
            if (message != named) {
                fileLog(link.named(message));
                windowLog(nullptr, link.named(message), kColorDefault);
                named = message;
            }
        }
        // One modem: the process ends, modemLock kept. Two: the path is down, the tries go on.
        if (clock::monotonicMs() - since >= limit)
            pathLost(link, link.wasStarted() ? "modem port gone"
                                             : "not in service since the start");
    }
}

template <int N>
[[noreturn]] void linkThread() {
    const StartTexts& texts = *startTexts[N - 1];
    ModemLink& link = *texts.link;
    for (;;) {
        clock::sleepMs(kPortRetryMs);
        SerialPort* port = link.port().load();
        if (port != nullptr && link.portHungUp() && !link.retired()) heal(texts, *port);
    }
}

}  // namespace

void retire(ModemLink& link, const std::string& message) {
    link.retired() = true;
    link.started() = false;
    (void)link.setPortHungUp(true);
    const std::string line = link.named(message);
    fileLog(line);
    windowLog(nullptr, line, kColorRed);
    pathLost(link, "SIM refused");
}

void startLinkThread(ModemLink& link) {
    const GatewaySettings& s = settings();
    const int n = link.number() == 2 ? 2 : 1;
    startTexts[n - 1] = new StartTexts{&link, n == 2 ? s.modem2.portMode : s.portMode,
                                       modemTextsFromSettings(n)};
    startDetachedThread(n == 2 ? &linkThread<2> : &linkThread<1>,
                        n == 2 ? "LinkThread2" : "LinkThread", kThreadStack);
}

}  // namespace gsms
