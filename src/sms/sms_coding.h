// How a text (UTF-8) becomes SMS, for the two codings of the "SmsCoding" key.
//
// SmsCoding 0, text mode: the text in ISO 8859-1 (foldToLatin1), which latin1ToGsm then
// turns into the default alphabet as it always has.
// SmsCoding 1, PDU mode (3GPP TS 23.038, 23.040): the GSM 7-bit default alphabet with its
// extension table when every character is in it, else UCS-2 (UTF-16, so that a character
// beyond the BMP goes out as its surrogate pair); a text longer than one SMS as one
// concatenated message (information element 00, 8-bit reference), each part an SMS-SUBMIT
// with a relative validity period of 167 (24 hours).
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gsms {

// The "SmsCoding" values.
constexpr int kSmsCodingText = 0;
constexpr int kSmsCodingPdu = 1;

// UTF-8 to ISO 8859-1 for text mode: characters ISO 8859-1 has stay; the others become their
// nearest plain form where there is one (Latin Extended-A/B letters their base letter, "ž" "z",
// "Œ" "OE"; dashes "-", typographic quotes '"' and "'", "…" "...", "™" "TM", the wide
// blanks a blank), else "?". A malformed byte is a "?".
[[nodiscard]] std::string foldToLatin1(std::string_view utf8);
// The plain form foldToLatin1 gives one character outside ISO 8859-1; "?" when none.
[[nodiscard]] std::string plainForm(char32_t c);

enum class SmsAlphabet { Gsm7, Ucs2 };

// Septets per part: 160 alone, 153 in a concatenated message; UCS-2 units 70 and 67.
constexpr int kGsm7Single = 160;
constexpr int kGsm7Part = 153;
constexpr int kUcs2Single = 70;
constexpr int kUcs2Part = 67;

// The default-alphabet code of a character, an extension-table character as 0x1B and its
// code; empty when the alphabet lacks it.
[[nodiscard]] std::string gsm7Code(char32_t c);

// How a text is cut into SMS: the alphabet, and per part its characters [first, end) of the
// text and its length in septets (Gsm7) or UTF-16 units (Ucs2).
struct SmsSplit {
    SmsAlphabet alphabet = SmsAlphabet::Gsm7;
    struct Part {
        std::size_t first = 0;
        std::size_t end = 0;
        int units = 0;
    };
    std::vector<Part> parts;  // none for an empty text
    // Units still free in the last part (a whole SMS for an empty text).
    int left = kGsm7Single;
};
[[nodiscard]] SmsSplit splitSms(std::u32string_view text);

// The SMS-SUBMIT TPDUs (binary, without the service centre address) of a text to a dialable
// number ("+" and digits, or digits, "*" and "#"), flash as class 0; `reference` numbers a
// concatenated message and is not used for a single SMS.
[[nodiscard]] std::vector<std::string> submitTpdus(std::string_view number,
                                                   std::u32string_view text, bool flash,
                                                   std::uint8_t reference);

// The PDU line for at+cmgs: "00" (the modem's own service centre) and the TPDU in upper-case
// hex. at+cmgs takes the TPDU's length in octets.
[[nodiscard]] std::string pduLine(std::string_view tpdu);

}  // namespace gsms
