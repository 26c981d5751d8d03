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
    ModemLink* link;
    std::string portMode;
    ModemTexts modem;
};
const StartTexts* startTexts = nullptr;

void back(ModemLink& link, std::int64_t goneMs) {
    // Before the line, so that the status its notification brings is clear.
    link.setPortHungUp(false);
    char line[64];
    std::snprintf(line, sizeof line, "modem port back after %lld s",
                  static_cast<long long>((goneMs + 500) / 1000));
    fileLog(link.named(line));
    windowLog(nullptr, link.named(line), kColorDefault);
}

// From the loss until the modem is back in service, or the process ends.
void heal(ModemLink& link, SerialPort& port) {
    const std::int64_t since = link.portHungUpSinceMs();
    const std::int64_t limit = signalGiveUpMs();
    port.close();
    std::string named;  // the modem's last failure logged in this loss
    for (;;) {
        clock::sleepMs(kPortRetryMs);
        if (stopRequested()) continue;  // the orderly stop has the modem now
        std::unique_lock lock(link.modemLock());
        if (port.open()) {
            const std::int64_t gone = clock::monotonicMs() - since;
            port.configure(startTexts->portMode.c_str());
            port.setTimeouts(50);
            std::string message;
            const int failure = startModem(link, startTexts->modem, message);
            if (failure == 0) {
                back(link, gone);
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
    ModemLink& link = *startTexts->link;
    for (;;) {
        clock::sleepMs(kPortRetryMs);
        SerialPort* port = link.port().load();
        if (port != nullptr && link.portHungUp()) heal(link, *port);
    }
}

}  // namespace

void startLinkThread(ModemLink& link) {
    startTexts = new StartTexts{&link, settings().portMode, modemTextsFromSettings()};
    startDetachedThread(linkThread, "LinkThread", kThreadStack);
}

}  // namespace gsms
