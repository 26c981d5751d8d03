// Received SMS as a modem lists them in PDU mode (3GPP TS 23.040 SMS-DELIVER): the sender, the
// text in UTF-8 and the place of a part in a long message, decoded without a modem.
//
// Every length in a PDU comes from whoever sent the message and is checked before it is used:
// a hostile PDU is refused with a reason, never read beyond its end.
// Thread safety: pure functions, callable from any thread.
#pragma once

#include <string>
#include <string_view>

namespace gsms {

// The place of a PDU in a long message (concatenation header, IEI 0x00 or 0x08).
struct MessagePart {
    int reference = 0;  // the long message's reference, 8 or 16 bits
    int total = 0;      // its number of parts; 0: the PDU is a message of its own
    int sequence = 0;   // this part's number, 1 to total
    bool wide = false;  // a 16-bit reference (IEI 0x08)
};

struct DeliverMessage {
    // "+" and digits for an international number, digits for any other number, else the
    // alphanumeric name in UTF-8, as one line (control characters escaped, text::shownText).
    std::string sender;
    // UTF-8, every character as sent but NUL, which no command argument can carry (left out).
    // GSM 7-bit text through the default alphabet, or the national language tables its header
    // names (gsmToUtf8); UCS-2 as UTF-16 (a lone surrogate U+FFFD, but for a half of a pair
    // at either end of a part of a long message, kept for joinSurrogates as its own three
    // bytes); 8-bit data each octet as the ISO 8859-1 character of its value.
    std::string text;
    MessagePart part;
};

// Decodes one PDU line of a listing. `hex` begins with the service centre address, as GSM
// 07.05 lists it; a modem that leaves the address out is recognised by `tpduLength`, the
// length the listing announces for the PDU without it. 0 when decoded; -1 when not, and
// `why` says what is wrong ("not a received message", "user data shorter than its length").
[[nodiscard]] int decodeDeliver(std::string_view hex, int tpduLength, DeliverMessage& out,
                                std::string& why);

// A text of parts put together as UTF-8: the halves of a surrogate pair that a sender split
// between two parts become their one character, a half left alone U+FFFD.
[[nodiscard]] std::string joinSurrogates(std::string_view text);

}  // namespace gsms
