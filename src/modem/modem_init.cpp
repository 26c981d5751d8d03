#include "modem/modem_init.h"

#include <cstdio>
#include <initializer_list>

#include "engine/log.h"
#include "engine/settings.h"
#include "modem/at_sender.h"
#include "modem/modem_state.h"
#include "platform/clock.h"
#include "sms/smsc.h"
#include "sms/tech_alarm.h"

namespace gsms {
namespace {

// One exchange: pause, reset the events, send.
void exchange(std::initializer_list<ModemEvent> reset, const char* command, const char* suffix) {
    clock::sleepMs(500);
    for (ModemEvent e : reset) modemState().event(e).reset();
    (void)sendCommand(command, suffix);
}

std::string withPort(const char* format) {
    char line[sizeof GatewaySettings::portName + 128];  // a port name of any length
    std::snprintf(line, sizeof line, format, settings().portName);
    return line;
}

}  // namespace

int initModem(std::string& message) {
    ModemState& s = modemState();
    // Probe: the engine has already paused 500 ms after starting the reader.
    s.event(ModemEvent::Ok).reset();
    (void)sendCommand("at", "\r");
    if (waitOk(5000) != 0) {
        // Wake-up: end any SMS text the modem may still wait for, then restore it.
        const unsigned char ctrlZ = 0x1A;
        (void)writeRaw(&ctrlZ, 1);
        for (const char* suffix : {"\r", "\r", "&f\r"}) {
            clock::sleepMs(500);
            (void)sendCommand("at", suffix);
        }
        exchange({ModemEvent::Ok}, "at", "\r");
        if (waitOk(5000) != 0) {
            raiseTechAlarm();
            message = withPort("** init_gsms ** ERROR: GSM modem not found on port %s");
            return -1;
        }
    }
    message = withPort("** init_gsms ** ERROR: init of GSM modem on port %s failed.");

    exchange({ModemEvent::Cpin}, "at+cpin", "?\r");
    if (s.event(ModemEvent::Cpin).wait(5000) != 0) return -1;
    if (!s.pinReady) {
        if (settings().pin[0] == '\0') {
            message = "** init_gsms ** ERROR: PIN not entered.";
            return -1;
        }
        windowLog(nullptr, "** init_gsms ** Entering PIN code...", kColorDefault);
        exchange({ModemEvent::Ok}, "at+cpin", "=\"");
        (void)sendCommand(settings().pin, "\"\r");
        if (waitOk(30000) != 0) {
            message = "** init_gsms ** ERROR: Cannot enter PIN code. SIM present ?";
            return -1;
        }
    }
    message = withPort("** init_gsms ** ERROR: init of GSM modem on port %s failed.");

    exchange({ModemEvent::Cfun, ModemEvent::Error}, "at+cfun", "?\r");
    int cfun = waitCfunOrError(5000);
    if (cfun < 0) return -1;
    if (cfun == 0 && s.cfunValue != 1) {
        exchange({ModemEvent::Ok}, "at+cfun", "=1\r");
        if (waitOk(5000) != 0) return -1;
    }

    bool registered = false;
    for (int attempt = 0; attempt < 5 && !registered; ++attempt) {
        exchange({ModemEvent::Ok}, "at+cops", "=0,0\r");
        registered = waitOk(10000) == 0;
    }
    if (!registered) return -1;

    exchange({ModemEvent::Cmgf}, "at+cmgf", "?\r");
    if (s.event(ModemEvent::Cmgf).wait(5000) != 0) return -1;
    if (s.cmgfValue != 1) {
        exchange({ModemEvent::Ok}, "at+cmgf", "=1\r");
        if (waitOk(5000) != 0) return -1;
    }

    exchange({ModemEvent::Ok}, "at+cscs", "=\"GSM\"\r");
    if (waitOk(5000) != 0) return -1;

    clock::sleepMs(500);
    readSmsc();
    // Which service centre the modem uses is the first thing to check when SMS do not arrive.
    char line[200];
    std::snprintf(line, sizeof line, "SMSC %s type %d", modemState().smscNumber,
                  modemState().smscType.load());
    fileLog(line);
    return 0;
}

}  // namespace gsms
