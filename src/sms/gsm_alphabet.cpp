#include "sms/gsm_alphabet.h"

#include <utility>

namespace gsms {
namespace {

// Default-alphabet codes whose character is an ISO 8859-1 character other than its ASCII
// namesake.
constexpr std::pair<std::uint8_t, std::uint8_t> kNational[] = {
    {0x00, 0x40}, {0x01, 0xA3}, {0x02, 0x24}, {0x03, 0xA5}, {0x04, 0xE8}, {0x05, 0xE9},
    {0x06, 0xF9}, {0x07, 0xEC}, {0x08, 0xF2}, {0x09, 0xC7}, {0x0B, 0xD8}, {0x0C, 0xF8},
    {0x0E, 0xC5}, {0x0F, 0xE5}, {0x11, 0x5F}, {0x1C, 0xC6}, {0x1D, 0xE6}, {0x1E, 0xDF},
    {0x1F, 0xC9}, {0x24, 0xA4}, {0x5B, 0xC4}, {0x5C, 0xD6}, {0x5D, 0xD1}, {0x5E, 0xDC},
    {0x5F, 0xA7}, {0x60, 0xBF}, {0x7B, 0xE4}, {0x7C, 0xF6}, {0x7D, 0xF1}, {0x7E, 0xFC},
    {0x7F, 0xE0},
};

// Codes from 0x20 to 0x7A that hold their ASCII character.
constexpr bool holdsAscii(int code) {
    if (code < 0x20 || code > 0x7A) return false;
    if (code == 0x24 || code == 0x40) return false;
    if (code >= 0x5B && code <= 0x60) return false;
    return true;
}

// Blanks everywhere but the characters both alphabets hold at the same code.
constexpr std::array<std::uint8_t, 256> sharedCodes() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = 0x20;
    for (int c = 0; c < 128; ++c)
        if (holdsAscii(c)) t[c] = static_cast<std::uint8_t>(c);
    t[0x0A] = 0x0A;
    t[0x0D] = 0x0D;
    return t;
}

constexpr std::array<std::uint8_t, 256> buildGsmToLatin1() {
    auto t = sharedCodes();
    for (auto [gsm, latin] : kNational) t[gsm] = latin;
    return t;
}

constexpr std::array<std::uint8_t, 256> buildLatin1ToGsm() {
    auto t = sharedCodes();
    for (auto [gsm, latin] : kNational) t[latin] = gsm;
    return t;
}

}  // namespace

constexpr std::array<std::uint8_t, 256> kLatin1ToGsm = buildLatin1ToGsm();
constexpr std::array<std::uint8_t, 256> kGsmToLatin1 = buildGsmToLatin1();
const std::array<std::uint8_t, 256> latin1ToGsm = kLatin1ToGsm;
const std::array<std::uint8_t, 256> gsmToLatin1 = kGsmToLatin1;

// The inverted exclamation mark (default-alphabet 0x40) stays a blank both ways.
static_assert(kLatin1ToGsm[0xA1] == 0x20 && kGsmToLatin1[0x40] == 0x20);

}  // namespace gsms
