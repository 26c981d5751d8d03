#include "sms/gsm_alphabet.h"

#include "platform/text_encoding.h"

namespace gsms {
namespace {

constexpr char16_t kEscape = 0x1B;
constexpr char32_t kReplacement = 0xFFFD;

// The default alphabet (TS 23.038 clause 6.2.1) by code.
constexpr GsmTable kDefault = {
    u'@', 0x00A3, u'$', 0x00A5, 0x00E8, 0x00E9, 0x00F9, 0x00EC,  // 0x00
    0x00F2, 0x00C7, u'\n', 0x00D8, 0x00F8, u'\r', 0x00C5, 0x00E5,
    0x0394, u'_', 0x03A6, 0x0393, 0x039B, 0x03A9, 0x03A0, 0x03A8,  // 0x10
    0x03A3, 0x0398, 0x039E, kEscape, 0x00C6, 0x00E6, 0x00DF, 0x00C9,
    u' ', u'!', u'"', u'#', 0x00A4, u'%', u'&', u'\'',  // 0x20
    u'(', u')', u'*', u'+', u',', u'-', u'.', u'/',
    u'0', u'1', u'2', u'3', u'4', u'5', u'6', u'7',  // 0x30
    u'8', u'9', u':', u';', u'<', u'=', u'>', u'?',
    0x00A1, u'A', u'B', u'C', u'D', u'E', u'F', u'G',  // 0x40
    u'H', u'I', u'J', u'K', u'L', u'M', u'N', u'O',
    u'P', u'Q', u'R', u'S', u'T', u'U', u'V', u'W',  // 0x50
    u'X', u'Y', u'Z', 0x00C4, 0x00D6, 0x00D1, 0x00DC, 0x00A7,
    0x00BF, u'a', u'b', u'c', u'd', u'e', u'f', u'g',  // 0x60
    u'h', u'i', u'j', u'k', u'l', u'm', u'n', u'o',
    u'p', u'q', u'r', u's', u't', u'u', u'v', u'w',  // 0x70
    u'x', u'y', u'z', 0x00E4, 0x00F6, 0x00F1, 0x00FC, 0x00E0,
};

struct Entry {
    std::uint8_t code;
    char16_t ch;
};

template <std::size_t N>
constexpr GsmTable sparse(const Entry (&entries)[N]) {
    GsmTable t{};
    for (const Entry& e : entries) t[e.code] = e.ch;
    return t;
}

// The extension table (clause 6.2.1.1).
constexpr GsmTable kExtension = sparse({
    {0x0A, 0x000C}, {0x14, u'^'}, {0x28, u'{'}, {0x29, u'}'}, {0x2F, u'\\'},
    {0x3C, u'['}, {0x3D, u'~'}, {0x3E, u']'}, {0x40, u'|'}, {0x65, 0x20AC},
});

// ISO 8859-1 and the default alphabet both ways: the characters both hold, but for the
// escape, the controls other than LF and CR, and the inverted exclamation mark, which stays
// a blank both ways.
constexpr bool shared(char16_t c) {
    return c <= 0xFF && c != 0xA1 && (c >= 0x20 || c == u'\n' || c == u'\r');
}

constexpr std::array<std::uint8_t, 256> buildLatin1ToGsm() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = 0x20;
    for (int code = 0; code < 128; ++code)
        if (shared(kDefault[code])) t[kDefault[code]] = static_cast<std::uint8_t>(code);
    return t;
}

constexpr std::array<std::uint8_t, 256> buildGsmToLatin1() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = 0x20;
    for (int code = 0; code < 128; ++code)
        if (shared(kDefault[code])) t[code] = static_cast<std::uint8_t>(kDefault[code]);
    return t;
}

constexpr std::array<std::uint8_t, 256> kLatin1ToGsm = buildLatin1ToGsm();
constexpr std::array<std::uint8_t, 256> kGsmToLatin1 = buildGsmToLatin1();
static_assert(kLatin1ToGsm[0xA1] == 0x20 && kGsmToLatin1[0x40] == 0x20);
static_assert(kLatin1ToGsm['@'] == 0x00 && kGsmToLatin1[0x24] == 0xA4 && kLatin1ToGsm['$'] == 0x02);

}  // namespace

const GsmTable gsmDefaultAlphabet = kDefault;
const GsmTable gsmDefaultExtension = kExtension;
const std::array<std::uint8_t, 256> latin1ToGsm = kLatin1ToGsm;
const std::array<std::uint8_t, 256> gsmToLatin1 = kGsmToLatin1;

std::string gsmToUtf8(std::string_view codes, int lockingLanguage, int singleLanguage) {
    const GsmTable* locking = nationalLockingTable(lockingLanguage);
    const GsmTable* single = nationalSingleShiftTable(singleLanguage);
    const GsmTable& main = locking ? *locking : kDefault;
    const GsmTable& shift = single ? *single : kExtension;
    std::string out;
    out.reserve(codes.size());
    auto put = [&out](char32_t c) { text::appendUtf8(out, c != 0 ? c : kReplacement); };
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const auto code = static_cast<std::uint8_t>(codes[i]);
        if (code >= 0x80) {
            put(kReplacement);
        } else if (main[code] != kEscape) {
            put(main[code]);
        } else if (i + 1 == codes.size()) {
            put(u' ');
        } else {
            const auto next = static_cast<std::uint8_t>(codes[++i]);
            if (next >= 0x80) put(kReplacement);
            else if (main[next] == kEscape) put(u' ');  // reserved for a further table
            else put(shift[next] != 0 ? shift[next] : main[next]);
        }
    }
    return out;
}

}  // namespace gsms
