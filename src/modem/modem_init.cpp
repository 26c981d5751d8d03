#include "modem/modem_init.h"

#include <strings.h>

#include <cstdio>
#include <initializer_list>

#include "core/log.h"
#include "core/process_exit.h"
#include "core/settings.h"
#include "modem/at_sender.h"
#include "modem/modem_link.h"
#include "platform/clock.h"

namespace gsms {
namespace {

// One exchange: pause, reset the events, send.
void exchange(ModemLink& link, std::initializer_list<ModemEvent> reset, const char* command,
              const char* suffix) {
    clock::sleepMs(500);
    for (ModemEvent e : reset) link.state().event(e).reset();
    (void)sendCommand(link, command, suffix);
}

std::string withPort(const char* format, const std::string& port) {
    char line[sizeof GatewaySettings::portName + 128];  // a port name of any length
    std::snprintf(line, sizeof line, format, port.c_str());
    return line;
}

// The SIM state of a +CPIN answer without the blanks around it.
std::string trimmed(std::string state) {
    while (!state.empty() && state.back() == ' ') state.pop_back();
    const std::size_t first = state.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : state.substr(first);
}

// A SIM that asks for anything but its PIN gets no code from the gateway: every wrong try
// brings a SIM closer to its PUK, and a PUK wrong ten times destroys it.
std::string lockedMessage(const std::string& state) {
    const bool puk = state.find("PUK") != std::string::npos;
    return "** init_gsms ** ERROR: SIM locked (" + state + "): " +
           (puk ? "enter the PUK in a phone" : "the gateway enters only the SIM PIN");
}

}  // namespace

ModemTexts modemTextsFromSettings() { return modemTextsFromSettings(1); }

ModemTexts modemTextsFromSettings(int number) {
    const GatewaySettings& s = settings();
    if (number == 2) return {s.modem2.portName, s.modem2.pin};
    return {s.portName, s.pin};
}

int initModem(ModemLink& link, std::string& message, bool& notFound) {
    return initModem(link, modemTextsFromSettings(), message, notFound);
}

int initModem(ModemLink& link, const ModemTexts& texts, std::string& message, bool& notFound) {
    notFound = false;
    ModemState& s = link.state();
    // Probe: the engine has already paused 500 ms after starting the reader.
    s.event(ModemEvent::Ok).reset();
    (void)sendCommand(link, "at", "\r");
    if (waitOk(link, 5000) != 0) {
        // Wake-up: drop any SMS text the modem may still wait for (ESC; Ctrl-Z would send
        // whatever was typed into it, commands included), then restore it.
        const unsigned char esc = 0x1B;
        (void)writeRaw(link, &esc, 1);
        for (const char* suffix : {"\r", "\r", "&f\r"}) {
            clock::sleepMs(500);
            (void)sendCommand(link, "at", suffix);
        }
        exchange(link, {ModemEvent::Ok}, "at", "\r");
        if (waitOk(link, 5000) != 0) {
            notFound = true;
            message = withPort("** init_gsms ** ERROR: GSM modem not found on port %s",
                               texts.portName);
            return kExitRestart;
        }
    }
    message = withPort("** init_gsms ** ERROR: init of GSM modem on port %s failed.",
                       texts.portName);

    exchange(link, {ModemEvent::Cpin}, "at+cpin", "?\r");
    if (s.event(ModemEvent::Cpin).wait(5000) != 0) return kExitRestart;
    if (!s.pinReady) {
        const std::string state = trimmed(s.cpin());
        if (strcasecmp(state.c_str(), "SIM PIN") != 0) {
            message = lockedMessage(state);
            return kExitSimLocked;
        }
        if (texts.pin.empty()) {
            message = "** init_gsms ** ERROR: PIN not entered.";
            return kExitRestart;
        }
        windowLog(nullptr, "** init_gsms ** Entering PIN code...", kColorDefault);
        exchange(link, {ModemEvent::Ok, ModemEvent::Error}, "at+cpin", "=\"");
        (void)sendCommand(link, texts.pin.c_str(), "\"\r");
        const int answer = waitOkOrError(link, 30000);
        if (answer == 1) {
            // Started again, the gateway would spend the SIM's next try with the same PIN.
            message = "** init_gsms ** ERROR: PIN refused by the SIM";
            return kExitSimLocked;
        }
        if (answer != 0) {
            message = "** init_gsms ** ERROR: Cannot enter PIN code. SIM present ?";
            return kExitRestart;
        }
    }
    message = withPort("** init_gsms ** ERROR: init of GSM modem on port %s failed.",
                       texts.portName);

    exchange(link, {ModemEvent::Cfun, ModemEvent::Error}, "at+cfun", "?\r");
    int cfun = waitCfunOrError(link, 5000);
    if (cfun < 0) return kExitRestart;
    if (cfun == 0 && s.cfunValue != 1) {
        exchange(link, {ModemEvent::Ok}, "at+cfun", "=1\r");
        if (waitOk(link, 5000) != 0) return kExitRestart;
    }

    bool registered = false;
    for (int attempt = 0; attempt < 5 && !registered; ++attempt) {
        exchange(link, {ModemEvent::Ok}, "at+cops", "=0,0\r");
        registered = waitOk(link, 10000) == 0;
    }
    if (!registered) return kExitRestart;

    exchange(link, {ModemEvent::Cmgf}, "at+cmgf", "?\r");
    if (s.event(ModemEvent::Cmgf).wait(5000) != 0) return kExitRestart;
    if (s.cmgfValue != 1) {
        exchange(link, {ModemEvent::Ok}, "at+cmgf", "=1\r");
        if (waitOk(link, 5000) != 0) return kExitRestart;
    }

    exchange(link, {ModemEvent::Ok}, "at+cscs", "=\"GSM\"\r");
    if (waitOk(link, 5000) != 0) return kExitRestart;

    return 0;
}

}  // namespace gsms
