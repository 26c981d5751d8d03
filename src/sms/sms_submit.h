// sendSms: the one path by which the gateway submits an SMS (text mode).
//
// Takes modemLock itself for the whole submission (the caller must not hold it); blocks
// until the modem has answered every part or a wait has run out. A text longer than one SMS
// goes out as independent messages of 160 characters, or 140 as soon as any byte is 0x80 or
// above. Writes only to the daily log; the callers write their own window lines.
#pragma once

namespace gsms {

// 0 when the modem answered OK to every part; -1 at the first failure, for input beyond the
// working copies (a number of more than 59 characters without its spaces, a text of more than
// 2047 characters), and before the engine has created its port.
[[nodiscard]] int sendSms(const char* number, const char* text, int flash);

}  // namespace gsms
