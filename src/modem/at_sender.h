// The sending side of the AT channel, on one modem link (modem_link.h).
//
// One exchange: take the link's modemLock (not during the modem initialisation at start-up,
// which runs before any other modem user exists); reset the events to be waited on;
// sendCommand; wait; read the stored value; release modemLock. The waits never reset an event.
// Thread safety: sendCommand, writeRaw and the waits are called by the thread holding the
// link's modemLock; the link's time of the last transmission is therefore written by one
// thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace gsms {

class ModemLink;

// Sends command (upper-cased when "CapitalizeCommands" is set) followed by suffix (kept as
// given), paced by "FloodProtection". 0 when handed to the port, -1 when no port exists yet.
int sendCommand(ModemLink& link, const char* command, const char* suffix);
// Writes exactly these bytes, without pacing. Bytes written, -1 on error; a short write
// is logged.
int writeRaw(ModemLink& link, const void* bytes, std::size_t count);
// 0 when Ok is set, -1 on time-out.
[[nodiscard]] int waitOk(ModemLink& link, std::int64_t ms);
// 0 for Ok, 1 for Error, -1 on time-out.
[[nodiscard]] int waitOkOrError(ModemLink& link, std::int64_t ms);
// 0 for Cfun, 1 for Error, -1 on time-out.
[[nodiscard]] int waitCfunOrError(ModemLink& link, std::int64_t ms);

// Brings the modem back to a clean command line after a failed or timed-out exchange; called
// with modemLock held, before it is released. Writes ESC (0x1B), which ends a text entry the
// modem may still be in without sending it, then sends "at" once a second until the modem
// answers OK or budgetMs pass, then "at+cmgf?", whose answer comes after every answer still
// in flight, so that no late answer can end the next exchange's wait. `heard` receives the
// other lines that came before the first OK (a late "+CMGS: <mr>" says that a submission went
// out after all). 0 when the modem answered, -1 (logged) when it did not, at once when the
// port is gone.
[[nodiscard]] int resynchronise(ModemLink& link, std::int64_t budgetMs, std::string& heard);

// Forgets the link's time of the last transmission (tests).
void resetPacingForTest(ModemLink& link);

}  // namespace gsms
