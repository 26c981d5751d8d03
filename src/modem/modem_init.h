// Brings the modem into service on the engine thread, before any other modem user exists
// (so it takes no lock): probe, wake-up, PIN, functionality, network, text mode, character
// set and the service centre.
#pragma once

#include <string>

namespace gsms {

// 0 when the modem is ready; otherwise the exit code for the fatal stop, with `message`
// holding the line it reports: kExitRestart, or kExitSimLocked when the SIM is locked
// ("SIM PUK", "PH-SIM PIN", ...: no PIN is sent then) or refused the PIN. The PIN is sent
// only when the SIM answers "SIM PIN". Runs the tech-alarm watchdog itself when the modem
// is not found.
[[nodiscard]] int initModem(std::string& message);

}  // namespace gsms
