// The modem's message format (at+cmgf) for the exchanges that speak PDU mode: the incoming
// listing and the PDU submission. Called with the link's modemLock held; every other modem user
// speaks text mode, so whoever switched to PDU mode switches back before modemLock goes.
#pragma once

#include <cstdint>

namespace gsms {

class ModemLink;

// "at+cmgf=0" (PDU) or "=1" (text): 0 for OK, 1 for a refusal, -1 when no answer came.
[[nodiscard]] int setMessageFormat(ModemLink& link, int format);

// Back to text mode, re-synchronising within resyncMs and trying once more when the first
// answer is missing. A modem that stays in PDU mode is named once ("ERROR: the modem did not
// return to text mode (at+cmgf=1)"), whoever met it, until it takes text mode again.
void restoreTextMode(ModemLink& link, std::int64_t resyncMs);

}  // namespace gsms
