// Brings the modem into service: probe, wake-up, PIN, functionality, network, text mode and
// character set, on one modem link. The service centre is read by the caller
// (gateway/modem_start.h). It takes no lock: at start it runs on the engine thread before any
// other modem user exists; when the port is back, the LinkThread holds the link's modemLock
// around it.
#pragma once

#include <string>

namespace gsms {

class ModemLink;

// 0 when the modem is ready; otherwise the exit code for the fatal stop, with `message`
// holding the line it reports: kExitRestart, or kExitSimLocked when the SIM is locked
// ("SIM PUK", "PH-SIM PIN", ...: no PIN is sent then) or refused the PIN. The PIN is sent
// only when the SIM answers "SIM PIN". `notFound` is set when the modem answered nothing,
// not even after the wake-up: the caller raises the tech alarm then.
[[nodiscard]] int initModem(ModemLink& link, std::string& message, bool& notFound);

// What the dialogue takes from the settings: the port name (for its messages) and the PIN.
// Copied at start for the modem's later returns: the window's Settings dialog writes the
// settings' texts without a lock, and a change of them takes effect at the next start.
struct ModemTexts {
    std::string portName;
    std::string pin;
};
[[nodiscard]] ModemTexts modemTextsFromSettings();
// Those of modem 1 (section Config) or 2 (section Modem2).
[[nodiscard]] ModemTexts modemTextsFromSettings(int number);
// The same with these texts; the one above takes them from the settings as they are now.
[[nodiscard]] int initModem(ModemLink& link, const ModemTexts& texts, std::string& message,
                            bool& notFound);

}  // namespace gsms
