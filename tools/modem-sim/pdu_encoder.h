// The simulator's own SMS-DELIVER encoder (3GPP TS 23.040), for the messages it stores and
// lists in PDU mode. Written apart from the gateway's decoder, so that each checks the other.
//
// Pure functions; no state.
#pragma once

#include <string>
#include <string_view>

namespace gsms::sim {

enum class Coding { Gsm7, Ucs2 };

struct DeliverPlan {
    // "+" and digits: an international number; digits: a national one; anything else (up
    // to 11 characters, default alphabet): an alphanumeric name.
    std::string sender;
    Coding coding = Coding::Gsm7;
    // Gsm7: default-alphabet codes, one per byte (an escape and its code for the extension
    // table); Ucs2: UCS-2 code units, big-endian.
    std::string payload;
    // A part of a long message (total > 0): a concatenation header, IEI 0x00, or 0x08 when
    // the reference does not fit in 8 bits.
    int reference = 0;
    int total = 0;
    int sequence = 0;
    std::string timestamp;  // "yy/MM/dd,hh:mm:ss+zz"
};

// Empty when the sender or the text does not fit, with `why` saying so; else the TPDU.
std::string encodeDeliver(const DeliverPlan& plan, std::string& why);

// The service centre address as it precedes a PDU in a listing: length, type, digits.
std::string serviceCentreAddress(std::string_view number);

// ISO 8859-1 text to default-alphabet codes: the extension-table characters as an escape and
// their code; what the alphabet lacks as a blank.
std::string latin1ToGsmCodes(std::string_view latin1);

// True for an optional "+" and 1 to 20 digits: a sender encoded as a number, not a name.
bool isNumber(std::string_view sender);

}  // namespace gsms::sim
