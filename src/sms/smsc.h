// SMSC management: the service centre address the modem uses, kept in modemState()'s
// smscNumber and smscType.
// updateSmsc runs on the UI thread and takes modemLock; readSmsc runs under modemLock (or
// during the modem initialisation, before any other modem user exists).
#pragma once

#include <string_view>

namespace gsms {

// Writes smscNumber/smscType with at+csca, reads them back and logs both lines in grey.
// 0 when the modem answered OK to the write, -1 otherwise (nothing logged); -1 at once
// before the engine has created its port, and for a number that is not a phone number
// (dialableNumber; "ERROR changing the SMSC to <number>: not a phone number" in both logs).
[[nodiscard]] int updateSmsc();
// Queries at+csca? and parses the answer into smscNumber and smscType.
void readSmsc();
// Splits a +CSCA value part at runs of '"' and ',': the first piece is the number, the
// second (when present) the type; a missing type leaves smscType unchanged.
void parseSmsc(std::string_view value);

}  // namespace gsms
