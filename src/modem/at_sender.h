// The sending side of the AT channel.
//
// One exchange: take modemLock (not during the modem initialisation, which runs before any
// other modem user exists); reset the events to be waited on; sendCommand; wait; read the
// stored value; release modemLock. The waits never reset an event.
// Thread safety: sendCommand, writeRaw and the waits are called by the thread holding
// modemLock; the time of the last transmission is therefore written by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace gsms {

// One AT exchange at a time.
std::mutex& modemLock();

// Sends command (upper-cased when "CapitalizeCommands" is set) followed by suffix (kept as
// given), paced by "FloodProtection". 0 when handed to the port, -1 when no port exists yet.
int sendCommand(const char* command, const char* suffix);
// Writes exactly these bytes, without pacing. Bytes written, -1 on error; a short write
// is logged.
int writeRaw(const void* bytes, std::size_t count);
// 0 when Ok is set, -1 on time-out.
[[nodiscard]] int waitOk(std::int64_t ms);
// 0 for Ok, 1 for Error, -1 on time-out.
[[nodiscard]] int waitOkOrError(std::int64_t ms);
// 0 for Cfun, 1 for Error, -1 on time-out.
[[nodiscard]] int waitCfunOrError(std::int64_t ms);

// Forgets the time of the last transmission (tests).
void resetPacingForTest();

}  // namespace gsms
