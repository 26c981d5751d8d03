// SMSC management: the service centre address a modem uses, kept in its link's state
// (smscNumber and smscType).
// updateSmsc runs on the OperatorThread and takes the link's modemLock; readSmsc runs under it
// (or during the modem initialisation, before any other modem user exists).
#pragma once

#include <string_view>

namespace gsms {

class ModemLink;

// Writes smscNumber/smscType with at+csca, reads them back and logs both lines in grey.
// 0 when the modem answered OK to the write, -1 otherwise (nothing logged); -1 at once
// before the engine has created the link's port, and for a number that is not a phone number
// (dialableNumber; "ERROR changing the SMSC to <number>: not a phone number" in both logs).
[[nodiscard]] int updateSmsc(ModemLink& link);
// Queries at+csca? and parses the answer into smscNumber and smscType.
void readSmsc(ModemLink& link);
// Splits a +CSCA value part at runs of '"' and ',': the first piece is the number, the
// second (when present) the type; a missing type leaves smscType unchanged.
void parseSmsc(ModemLink& link, std::string_view value);

}  // namespace gsms
