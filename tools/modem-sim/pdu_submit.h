// The simulator's own SMS-SUBMIT decoder (3GPP TS 23.040 clause 9.2.2.2, TS 23.038), for
// what a client submits in PDU mode. Written apart from the gateway's encoder, so that each
// checks the other.
//
// Pure functions; no state.
#pragma once

#include <string>
#include <string_view>

namespace gsms::sim {

struct DecodedSubmit {
    int firstOctet = 0;
    int pid = 0;
    int dcs = 0;
    int validity = -1;     // the relative validity period; -1 when none or not relative
    int messageClass = -1; // 0 to 3 from the data coding scheme; -1 for none
    std::string to;        // "+" and digits for an international number; "*" and "#" as such
    std::string alphabet;  // "gsm7", "8bit" or "ucs2"
    // A part of a concatenated message (information element 00 or 08); total 0 for none.
    int reference = -1;
    int total = 0;
    int sequence = 0;
    std::string text;      // UTF-8; an 8-bit message's octets as ISO 8859-1
};

// Decodes an AT+CMGS PDU line (hex: service centre address, then the TPDU) whose TPDU is
// `tpduLength` octets, as the command gave it. False, with `why`, for anything that is not a
// well-formed SMS-SUBMIT of that length.
bool decodeSubmit(std::string_view hexLine, int tpduLength, DecodedSubmit& out,
                  std::string& why);

}  // namespace gsms::sim
