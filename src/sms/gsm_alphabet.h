// The GSM 7-bit alphabets of 3GPP TS 23.038: the default alphabet and its extension table (the
// one copy of them, which the sending side's gsm7Code reads too), the national language
// locking and single shift tables, and the conversions built on them.
//
// latin1ToGsm: a character that exists in ISO 8859-1 and as a single default-alphabet code
// maps to that code; LF and CR to themselves; everything else (controls, 0x80-0x9F, the
// ASCII characters the default alphabet reaches only through its escape, and the inverted
// exclamation mark) to a blank. gsmToLatin1 is its inverse by the same rule.
// Everything here is constant or pure and may be used from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace gsms {

// A 7-bit table by code: the character, 0 where the table has none; 0x1B in a locking shift
// table is the escape to the single shift table.
using GsmTable = std::array<char16_t, 128>;

extern const GsmTable gsmDefaultAlphabet;
extern const GsmTable gsmDefaultExtension;  // behind the escape; 0x0A is the page break (FF)

// The national language identifiers of the shift tables (TS 23.038 6.2.1.2.4).
enum GsmLanguage : int {
    kGsmDefault = 0, kGsmTurkish, kGsmSpanish, kGsmPortuguese, kGsmBengali, kGsmGujarati,
    kGsmHindi, kGsmKannada, kGsmMalayalam, kGsmOriya, kGsmPunjabi, kGsmTamil, kGsmTelugu,
    kGsmUrdu,
};
// The tables of a language; nullptr for an unknown one and for Spanish's locking shift table,
// which does not exist: the default table stands in for them.
[[nodiscard]] const GsmTable* nationalLockingTable(int language);
[[nodiscard]] const GsmTable* nationalSingleShiftTable(int language);

// Codes, one per byte (unpacked septets, or text a modem sends with the GSM character set), to
// UTF-8 through the locking shift table of `lockingLanguage` and, behind each escape, the
// single shift table of `singleLanguage` (the default alphabet and its extension table for 0
// or an unknown language). As the alphabet says: a code the single shift table lacks is read
// from the locking shift table; two escapes, or one at the end, are a blank. A code that no
// table holds (a reserved place, a byte of 0x80 or above) is U+FFFD.
[[nodiscard]] std::string gsmToUtf8(std::string_view codes, int lockingLanguage = kGsmDefault,
                                    int singleLanguage = kGsmDefault);

extern const std::array<std::uint8_t, 256> latin1ToGsm;
extern const std::array<std::uint8_t, 256> gsmToLatin1;

}  // namespace gsms
