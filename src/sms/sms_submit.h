// sendSms: the one path by which the gateway submits an SMS (text mode).
//
// Takes modemLock itself for the whole submission (the caller must not hold it); blocks
// until the modem has answered every part, refused one, or a wait has run out. A text longer
// than one SMS goes out as independent messages of 160 characters, or 140 as soon as any byte
// is 0x80 or above. After a failure the modem is brought back to a clean command line before
// modemLock is released. Writes only to the daily log, except for a number that is not one
// (both logs); the callers write their own window lines.
// dialableNumber and shownNumber are pure and may run on any thread.
#pragma once

#include <string>
#include <string_view>

namespace gsms {

// 0 when the modem answered OK to every part; -1 at the first failure, for a number that is
// not a phone number (see dialableNumber; nothing reaches the modem), for a text of more than
// 2047 characters, and before the engine has created its port.
[[nodiscard]] int sendSms(const char* number, const char* text, int flash);

// The one judge of what may go to the modem as a phone number: `typed` without its blanks
// (spaces and tabs) when that is an optional "+" followed by 1 to 20 digits, "*" or "#" (the
// last two for the service codes some networks use); "" for anything else.
[[nodiscard]] std::string dialableNumber(std::string_view typed);

// A number as the logs show it: control characters as \xNN, so that it stays on its line.
[[nodiscard]] std::string shownNumber(std::string_view typed);

}  // namespace gsms
