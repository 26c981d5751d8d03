// sendSms: the one path by which the gateway submits an SMS.
//
// Takes the link's modemLock itself for the whole submission (the caller must not hold it); blocks
// until the modem has answered every part, refused one, or a wait has run out. The text is
// UTF-8; "SmsCoding" says how it goes (sms/sms_coding.h). 0: text mode, the text folded into
// ISO 8859-1; a text longer than one SMS goes out as independent messages of 160 characters,
// or 140 as soon as any character is 0x80 or above. 1: PDU mode for the submission
// (at+cmgf=0, then at+cmgf=1 again before modemLock goes), one at+cmgs=<length> with its PDU
// line per part of one concatenated message; a modem that refuses PDU mode gets the text as
// with 0 ("SMS are sent in text mode: the modem refuses PDU mode", said once until it takes
// PDU mode again). "MaxMsgLength" cuts the text in characters (0: in ISO 8859-1 characters,
// 1: in characters as the recipient sees them). After a failure the modem is brought back to
// a clean command line before modemLock is released. Writes only to the daily log, except
// for a number that is not one and a modem that refuses PDU mode (both logs); the callers
// write their own window lines.
// dialableNumber and shownNumber are pure and may run on any thread.
#pragma once

#include <string>
#include <string_view>

namespace gsms {

class ModemLink;

// 0 when the modem answered OK to every part; -1 at the first failure, for a number that is
// not a phone number (see dialableNumber; nothing reaches the modem), for a text of more than
// 2047 characters (code points; a malformed byte counts as one and goes out as "?"), and
// before the engine has created the link's port.
[[nodiscard]] int sendSms(ModemLink& link, const char* number, const char* text, int flash);

// The one judge of what may go to the modem as a phone number: `typed` without its blanks
// (spaces and tabs) when that is an optional "+" followed by 1 to 20 digits, "*" or "#" (the
// last two for the service codes some networks use); "" for anything else.
[[nodiscard]] std::string dialableNumber(std::string_view typed);

// A number as the logs show it (text::shownText), so that it stays on its line.
[[nodiscard]] std::string shownNumber(std::string_view typed);

}  // namespace gsms
