// Bringing a modem into service on its link: the modem dialogue (modem/modem_init.h), then the
// SMS services it calls for, the tech alarm when no modem answers and the service centre once
// it is ready. At start on the engine thread, before any other modem user exists (so without a
// lock); again on the LinkThread when the port is back, under the link's modemLock.
#pragma once

#include <string>

#include "modem/modem_init.h"

namespace gsms {

// 0 when the modem is ready and its service centre read (and logged as "SMSC <number> type
// <type>"); otherwise the exit code for the fatal stop, with `message` holding the line it
// reports (initModem's). A modem that answers nothing raises the tech alarm first.
[[nodiscard]] int startModem(ModemLink& link, std::string& message);
// The same with the port name and PIN given (initModem's texts).
[[nodiscard]] int startModem(ModemLink& link, const ModemTexts& texts, std::string& message);

}  // namespace gsms
