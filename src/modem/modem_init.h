// Brings the modem into service on the engine thread, before any other modem user exists
// (so it takes no lock): probe, wake-up, PIN, functionality, network, text mode, character
// set and the service centre.
#pragma once

#include <string>

namespace gsms {

// 0 when the modem is ready; -1 with `message` holding the line the fatal stop reports.
// Runs the tech-alarm watchdog itself when the modem is not found.
[[nodiscard]] int initModem(std::string& message);

}  // namespace gsms
