#include "modem/at_sender.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/activity.h"
#include "core/log.h"
#include "core/settings.h"
#include "modem/modem_link.h"
#include "platform/clock.h"
#include "platform/serial_port.h"

namespace gsms {
namespace {

constexpr std::size_t kCommandSize = 1024;

}  // namespace

int sendCommand(ModemLink& link, const char* command, const char* suffix) {
    ModemLink::Pacing& pacing = link.pacing();
    const int gap = settings().floodProtection.load();
    std::int64_t now = clock::monotonicMs();
    if (gap != 0 && pacing.transmitted.load()) {
        while (now - pacing.lastTransmissionMs.load() < gap) {
            clock::sleepMs(1);
            now = clock::monotonicMs();
        }
    }
    if (link.port().load() == nullptr) return -1;

    char buffer[kCommandSize];
    // Cut command and suffix to the buffer rather than overrun it.
    int n = std::snprintf(buffer, sizeof buffer, "%s", command != nullptr ? command : "");
    std::size_t len = n < 0 ? 0 : static_cast<std::size_t>(n);
    if (len > sizeof buffer - 1) len = sizeof buffer - 1;
    if (settings().capitalizeCommands.load() != 0) {
        for (std::size_t i = 0; i < len; ++i)
            buffer[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(buffer[i])));
    }
    if (suffix != nullptr) {
        int m = std::snprintf(buffer + len, sizeof buffer - len, "%s", suffix);
        len += m < 0 ? 0 : static_cast<std::size_t>(m);
        if (len > sizeof buffer - 1) len = sizeof buffer - 1;
    }
    (void)writeRaw(link, buffer, len);
    if (gap != 0) {
        pacing.lastTransmissionMs = now;
        pacing.transmitted = true;
    }
    return 0;
}

int writeRaw(ModemLink& link, const void* bytes, std::size_t count) {
    beat(Heart::Modem);  // the dialogue with the modem moves on
    SerialPort* port = link.port().load();
    int written = port != nullptr ? port->write(bytes, count) : -1;
    // -1 is a failure of the line itself (a time-out writes short instead): the port is gone.
    if (port != nullptr && written < 0) link.notePortLost();
    // The PIN goes out after "at+cpin=\"" in a write of its own: the mask follows the stream.
    // Writes never overlap (modemLock, or the engine thread alone at start-up).
    PinMask& sentMask = link.pacing().sentMask;
    std::string shownBytes(static_cast<const char*>(bytes), count);
    for (char& c : shownBytes)
        c = static_cast<char>(sentMask.feed(static_cast<unsigned char>(c)));
    if (written < 0 || static_cast<std::size_t>(written) < count) {
        char line[256];
        int shown = count > 200 ? 200 : static_cast<int>(count);  // the line never overruns
        std::snprintf(line, sizeof line, "Failed writing to COM-Port (count:%d buf:%*.*s)",
                      static_cast<int>(count), shown, shown, shownBytes.c_str());
        fileLog(link.named(line));
    }
    return written;
}

int waitOk(ModemLink& link, std::int64_t ms) {
    ModemState& s = link.state();
    return waitAny({&s.event(ModemEvent::Ok), &s.event(ModemEvent::Lost)}, ms) == 0 ? 0 : -1;
}

int waitOkOrError(ModemLink& link, std::int64_t ms) {
    ModemState& s = link.state();
    const int got =
        waitAny({&s.event(ModemEvent::Ok), &s.event(ModemEvent::Error), &s.event(ModemEvent::Lost)},
                ms);
    return got == 2 ? -1 : got;  // a lost port answers as a modem that fell silent
}

int waitCfunOrError(ModemLink& link, std::int64_t ms) {
    ModemState& s = link.state();
    return waitAny({&s.event(ModemEvent::Cfun), &s.event(ModemEvent::Error)}, ms);
}

int resynchronise(ModemLink& link, std::int64_t budgetMs, std::string& heard) {
    ModemState& s = link.state();
    const std::int64_t end = clock::monotonicMs() + budgetMs;
    auto left = [&] { return end - clock::monotonicMs(); };

    // Under responseCapture every line but OK is kept for the caller, failures included.
    s.clearCapture();
    s.responseCapture = true;
    const unsigned char esc = 0x1B;
    (void)writeRaw(link, &esc, 1);
    int answered = -1;
    // A port that is gone answers nothing: the LinkThread needs the lock to open it again.
    while (answered != 0 && left() > 0 && !link.portHungUp()) {
        s.event(ModemEvent::Ok).reset();
        (void)sendCommand(link, "at", "\r");
        answered = waitOk(link, left() < 1000 ? left() : 1000);
    }
    s.responseCapture = false;
    heard = s.capture();
    s.clearCapture();

    // The OK taken may have been a late answer or ESC's, and a busy modem may hold further
    // "at"s: their OKs are still to come. A query with an answer of its own is answered after
    // all of them, so once its +CMGF line (or a failure) is in, only its own OK is left.
    if (answered == 0) {
        s.event(ModemEvent::Cmgf).reset();
        s.event(ModemEvent::Error).reset();
        (void)sendCommand(link, "at+cmgf", "?\r");
        const int fence = waitAny({&s.event(ModemEvent::Cmgf), &s.event(ModemEvent::Error)},
                                  left() > 2000 ? left() : 2000);
        // The query's own OK: counted once it is in, so that none is waited for twice. Reset
        // and count are read together: an OK counted just before must not set the event after
        // the reset, where the next command's wait would take it for its own.
        bool ownOkToCome = false;
        {
            std::lock_guard lock(s.okMutex);
            s.event(ModemEvent::Ok).reset();
            ownOkToCome = s.okCount.load() == s.okCountAtCmgf.load();
        }
        if (fence == 0 && ownOkToCome) (void)waitOk(link, 1000);
        if (fence < 0) answered = -1;
    }
    if (answered != 0) fileLog(link.named("Modem does not answer after the failed exchange"));
    return answered;
}

void resetPacingForTest(ModemLink& link) {
    link.pacing().transmitted = false;
    link.pacing().lastTransmissionMs = 0;
}

}  // namespace gsms
