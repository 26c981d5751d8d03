#include "sms/sms_coding.h"

#include <algorithm>
#include <utility>

#include "platform/text_encoding.h"
#include "sms/gsm_alphabet.h"

namespace gsms {
namespace {

// Latin Extended-A (U+0100 to U+017F) by base letter; '?' where the letter is two.
constexpr char kExtendedA[] =
    "AaAaAaCcCcCcCcDd"
    "DdEeEeEeEeEeGgGg"
    "GgGgHhHhIiIiIiIi"
    "Ii??JjKkkLlLlLlL"
    "lLlNnNnNnnNnOoOo"
    "Oo??RrRrRrSsSsSs"
    "SsTtTtTtUuUuUuUu"
    "UuUuWwYyYZzZzZzs";
static_assert(sizeof kExtendedA == 0x80 + 1);

// The rest: the ligatures of Extended-A, letters of Extended-B that Central and Eastern
// European and Vietnamese texts use, and punctuation.
constexpr std::pair<char32_t, const char*> kPlain[] = {
    {0x0132, "IJ"}, {0x0133, "ij"}, {0x0152, "OE"}, {0x0153, "oe"},
    {0x0180, "b"},  {0x0181, "B"},  {0x0191, "F"},  {0x0192, "f"},  {0x0197, "I"},
    {0x019A, "l"},  {0x01A0, "O"},  {0x01A1, "o"},  {0x01AF, "U"},  {0x01B0, "u"},
    {0x01B5, "Z"},  {0x01B6, "z"},  {0x01CD, "A"},  {0x01CE, "a"},  {0x01CF, "I"},
    {0x01D0, "i"},  {0x01D1, "O"},  {0x01D2, "o"},  {0x01D3, "U"},  {0x01D4, "u"},
    {0x01E6, "G"},  {0x01E7, "g"},  {0x01E8, "K"},  {0x01E9, "k"},  {0x0218, "S"},
    {0x0219, "s"},  {0x021A, "T"},  {0x021B, "t"},  {0x02C6, "^"},  {0x02DC, "~"},
    {0x2010, "-"},  {0x2011, "-"},  {0x2012, "-"},  {0x2013, "-"},  {0x2014, "-"},
    {0x2015, "-"},  {0x2018, "'"},  {0x2019, "'"},  {0x201A, "'"},  {0x201B, "'"},
    {0x201C, "\""}, {0x201D, "\""}, {0x201E, "\""}, {0x201F, "\""}, {0x2026, "..."},
    {0x2032, "'"},  {0x2033, "\""}, {0x2039, "<"},  {0x203A, ">"},  {0x2044, "/"},
    {0x2122, "TM"}, {0x2212, "-"},
};

bool isWideBlank(char32_t c) {
    return (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Semi-octets of a destination, low digit first, an odd count padded with F; "*" and "#"
// are the codes A and B (TS 23.040 clause 9.1.2.3).
std::string semiOctets(std::string_view digits) {
    auto nibble = [](char c) { return c == '*' ? 0xA : c == '#' ? 0xB : c - '0'; };
    std::string out;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int lo = nibble(digits[i]);
        const int hi = i + 1 < digits.size() ? nibble(digits[i + 1]) : 0xF;
        out.push_back(static_cast<char>(hi << 4 | lo));
    }
    return out;
}

// Septets packed after `fillBits` zero bits. When the last octet would end in seven spare
// bits, they hold a CR, so that a receiver cannot take them for an "@" (TS 23.038 6.1.2.3.1).
std::string packSeptets(std::string_view septets, int fillBits) {
    std::string out;
    unsigned acc = 0;
    int bits = fillBits;
    for (unsigned char s : septets) {
        acc |= static_cast<unsigned>(s & 0x7F) << bits;
        bits += 7;
        while (bits >= 8) {
            out.push_back(static_cast<char>(acc & 0xFF));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits == 1) acc |= 0x0D << 1;
    if (bits > 0) out.push_back(static_cast<char>(acc & 0xFF));
    return out;
}

std::string ucs2(std::u32string_view text) {
    std::string out;
    auto unit = [&out](char32_t u) {
        out.push_back(static_cast<char>(u >> 8 & 0xFF));
        out.push_back(static_cast<char>(u & 0xFF));
    };
    for (char32_t c : text) {
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
    }
    return out;
}

int ucs2Units(char32_t c) { return c >= 0x10000 ? 2 : 1; }

}  // namespace

std::string plainForm(char32_t c) {
    if (c >= 0x100 && c < 0x180 && kExtendedA[c - 0x100] != '?')
        return std::string(1, kExtendedA[c - 0x100]);
    for (const auto& [from, to] : kPlain)
        if (from == c) return to;
    if (isWideBlank(c)) return " ";
    return "?";
}

std::string foldToLatin1(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (char32_t c : text::codePoints(utf8)) {
        if (c <= 0xFF) out.push_back(static_cast<char>(c));
        else out += plainForm(c);
    }
    return out;
}

std::string gsm7Code(char32_t c) {
    if (c == 0x1B || c == 0) return {};
    for (int code = 0; code < 128; ++code)
        if (gsmDefaultAlphabet[code] == c) return std::string(1, static_cast<char>(code));
    for (int code = 0; code < 128; ++code)
        if (gsmDefaultExtension[code] == c) return std::string{'\x1B', static_cast<char>(code)};
    return {};
}

SmsSplit splitSms(std::u32string_view text) {
    SmsSplit split;
    std::vector<int> units;  // per character
    units.reserve(text.size());
    for (char32_t c : text) {
        const std::string code = gsm7Code(c);
        if (code.empty()) {
            split.alphabet = SmsAlphabet::Ucs2;
            break;
        }
        units.push_back(static_cast<int>(code.size()));
    }
    const bool gsm7 = split.alphabet == SmsAlphabet::Gsm7;
    if (!gsm7) {
        units.clear();
        for (char32_t c : text) units.push_back(ucs2Units(c));
    }
    const int single = gsm7 ? kGsm7Single : kUcs2Single;
    const int part = gsm7 ? kGsm7Part : kUcs2Part;
    int total = 0;
    for (int u : units) total += u;
    const int room = total <= single ? single : part;
    // A character never straddles two parts: an escaped one or a surrogate pair moves on whole.
    SmsSplit::Part current;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (current.units + units[i] > room) {
            current.end = i;
            split.parts.push_back(current);
            current = SmsSplit::Part{i, i, 0};
        }
        current.units += units[i];
    }
    if (!units.empty()) {
        current.end = units.size();
        split.parts.push_back(current);
    }
    split.left = split.parts.empty() ? single : room - split.parts.back().units;
    return split;
}

std::vector<std::string> submitTpdus(std::string_view number, std::u32string_view text,
                                     bool flash, std::uint8_t reference) {
    const SmsSplit split = splitSms(text);
    const bool gsm7 = split.alphabet == SmsAlphabet::Gsm7;
    const bool concatenated = split.parts.size() > 1;

    const bool international = !number.empty() && number.front() == '+';
    const std::string_view digits = number.substr(international ? 1 : 0);
    std::string head;
    // SMS-SUBMIT, relative validity period, user data header when concatenated.
    head.push_back(static_cast<char>(0x11 | (concatenated ? 0x40 : 0)));
    head.push_back('\x00');  // message reference: the modem sets it
    head.push_back(static_cast<char>(digits.size()));
    head.push_back(static_cast<char>(international ? 0x91 : 0x81));
    head += semiOctets(digits);
    head.push_back('\x00');  // protocol identifier: plain short message
    // Default alphabet or UCS-2; flash is message class 0.
    head.push_back(static_cast<char>((gsm7 ? 0x00 : 0x08) | (flash ? 0x10 : 0x00)));
    head.push_back(static_cast<char>(167));  // 12 h + (167 - 143) x 30 min = 24 hours

    std::vector<std::string> out;
    for (std::size_t p = 0; p < split.parts.size(); ++p) {
        const SmsSplit::Part& part = split.parts[p];
        const std::u32string_view chars = text.substr(part.first, part.end - part.first);
        std::string header;
        if (concatenated)
            header = {'\x05', '\x00', '\x03', static_cast<char>(reference),
                      static_cast<char>(split.parts.size()), static_cast<char>(p + 1)};
        std::string userData;
        int length = 0;
        if (gsm7) {
            std::string septets;
            for (char32_t c : chars) septets += gsm7Code(c);
            // The text starts at the septet boundary after the header.
            const int headerSeptets = static_cast<int>((header.size() * 8 + 6) / 7);
            const int fill = headerSeptets * 7 - static_cast<int>(header.size() * 8);
            length = headerSeptets + static_cast<int>(septets.size());
            userData = header + packSeptets(septets, fill);
        } else {
            userData = header + ucs2(chars);
            length = static_cast<int>(userData.size());
        }
        out.push_back(head + static_cast<char>(length) + userData);
    }
    return out;
}

std::string pduLine(std::string_view tpdu) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "00";
    for (unsigned char b : tpdu) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

}  // namespace gsms
