// Brings the modem into service: probe, wake-up, PIN, functionality, network, text mode and
// character set. The service centre is read by the caller (gateway/modem_start.h). It takes no
// lock: at start it runs on the engine thread before any other modem user exists; when the
// port is back, the LinkThread holds modemLock around it.
#pragma once

#include <string>

namespace gsms {

// 0 when the modem is ready; otherwise the exit code for the fatal stop, with `message`
// holding the line it reports: kExitRestart, or kExitSimLocked when the SIM is locked
// ("SIM PUK", "PH-SIM PIN", ...: no PIN is sent then) or refused the PIN. The PIN is sent
// only when the SIM answers "SIM PIN". `notFound` is set when the modem answered nothing,
// not even after the wake-up: the caller raises the tech alarm then.
[[nodiscard]] int initModem(std::string& message, bool& notFound);

}  // namespace gsms
