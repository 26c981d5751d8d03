#include "sms/sms_deliver.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/text_encoding.h"
#include "sms/gsm_alphabet.h"

namespace gsms {
namespace {

using Octets = std::vector<std::uint8_t>;

constexpr int kMaxAddressDigits = 20;   // an address field holds at most 10 octets of digits
constexpr int kMaxScaOctets = 11;       // type and digits of the service centre address
constexpr int kMaxSeptets = 160;        // 140 octets of user data
constexpr int kMaxUserDataOctets = 140;

enum class Alphabet { Gsm7, EightBit, Ucs2, Compressed };

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool fromHex(std::string_view hex, Octets& out) {
    if (hex.size() % 2 != 0) return false;
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = hexValue(hex[i]);
        const int lo = hexValue(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return true;
}

// The septet starting at bit `bit` of `data`; the caller has checked that its 7 bits lie
// within `size` octets.
std::uint8_t septetAt(const std::uint8_t* data, std::size_t bit) {
    const std::size_t octet = bit / 8;
    const unsigned shift = bit % 8;
    unsigned v = data[octet] >> shift;
    if (shift > 1) v |= static_cast<unsigned>(data[octet + 1]) << (8 - shift);
    return static_cast<std::uint8_t>(v & 0x7F);
}

// A character of a text as it reaches the command: every one but NUL, which no argument can
// hold (some phones pad UCS-2 text with it).
void putChar(std::string& out, char32_t c) {
    if (c != 0) text::appendUtf8(out, c);
}

// 23.038 clause 4: general data coding (with or without automatic deletion), the message
// waiting groups, the data coding / message class group; reserved groups count as GSM 7-bit.
Alphabet alphabetOf(std::uint8_t dcs) {
    if ((dcs & 0x80) == 0) {
        if (dcs & 0x20) return Alphabet::Compressed;
        switch ((dcs >> 2) & 0x03) {
            case 1: return Alphabet::EightBit;
            case 2: return Alphabet::Ucs2;
            default: return Alphabet::Gsm7;
        }
    }
    if ((dcs & 0xF0) == 0xE0) return Alphabet::Ucs2;
    if ((dcs & 0xF0) == 0xF0) return (dcs & 0x04) ? Alphabet::EightBit : Alphabet::Gsm7;
    return Alphabet::Gsm7;
}

// TP-OA: `digits` semi-octets after the type octet, or packed septets for an alphanumeric
// name (type of number 5).
std::string address(const std::uint8_t* p, int digits, std::uint8_t type) {
    const int typeOfNumber = (type >> 4) & 0x07;
    std::string out;
    if (typeOfNumber == 5) {
        std::string codes;
        const std::size_t septets = static_cast<std::size_t>(digits) * 4 / 7;
        for (std::size_t k = 0; k < septets; ++k) codes.push_back(static_cast<char>(septetAt(p, k * 7)));
        return text::shownText(gsmToUtf8(codes));  // a name is one line
    }
    static constexpr char kDigit[] = "0123456789*#abc?";
    if (typeOfNumber == 1) out.push_back('+');
    for (int i = 0; i < digits; ++i) {
        const std::uint8_t octet = p[i / 2];
        out.push_back(kDigit[i % 2 == 0 ? octet & 0x0F : octet >> 4]);
    }
    return out;
}

// What a user-data header says of the text: the national language shift tables its 7-bit
// text is read with (IEI 0x24 single shift, 0x25 locking shift, TS 23.040 9.2.3.24.15-16).
struct TextTables {
    int locking = kGsmDefault;
    int single = kGsmDefault;
};

// The concatenation and national language elements of a user-data header; other elements are
// skipped by their length. False when an element runs past the header.
bool readHeader(const std::uint8_t* h, std::size_t size, MessagePart& part, TextTables& tables) {
    std::size_t i = 0;
    while (i < size) {
        if (size - i < 2 || size - i - 2 < h[i + 1]) return false;
        const std::uint8_t iei = h[i];
        const std::uint8_t length = h[i + 1];
        const std::uint8_t* data = h + i + 2;
        MessagePart found;
        if (iei == 0x00 && length == 3) found = {data[0], data[1], data[2], false};
        if (iei == 0x08 && length == 4) found = {data[0] << 8 | data[1], data[2], data[3], true};
        if (iei == 0x24 && length == 1) tables.single = data[0];
        if (iei == 0x25 && length == 1) tables.locking = data[0];
        // A part numbered outside its message is no part: the text stands alone.
        if (found.total > 1 && found.sequence >= 1 && found.sequence <= found.total)
            part = found;
        i += 2 + length;
    }
    return true;
}

int refuse(std::string& why, std::string reason) {
    why = std::move(reason);
    return -1;
}

}  // namespace

std::string joinSurrogates(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // A half is ED A0..AF xx (high) or ED B0..BF xx (low), which no valid UTF-8 holds.
    auto half = [&](std::size_t i) -> char32_t {
        if (i + 2 >= text.size() || static_cast<unsigned char>(text[i]) != 0xED) return 0;
        const auto b1 = static_cast<unsigned char>(text[i + 1]);
        const auto b2 = static_cast<unsigned char>(text[i + 2]);
        if (b1 < 0xA0 || b1 > 0xBF || (b2 & 0xC0) != 0x80) return 0;
        return 0xD000 | static_cast<char32_t>(b1 & 0x3F) << 6 | (b2 & 0x3F);
    };
    for (std::size_t i = 0; i < text.size();) {
        const char32_t high = half(i);
        if (high == 0) {
            out += text[i++];
            continue;
        }
        const char32_t low = half(i + 3);
        if (high <= 0xDBFF && low >= 0xDC00) {
            text::appendUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00));
            i += 6;
        } else {
            text::appendUtf8(out, 0xFFFD);
            i += 3;
        }
    }
    return out;
}

int decodeDeliver(std::string_view hex, int tpduLength, DeliverMessage& out, std::string& why) {
    Octets b;
    if (!fromHex(hex, b)) return refuse(why, "not an even count of hexadecimal digits");
    if (b.empty()) return refuse(why, "empty");
    const std::size_t total = b.size();
    std::size_t at;
    if (b[0] <= kMaxScaOctets && tpduLength >= 0 &&
        total == 1 + b[0] + static_cast<std::size_t>(tpduLength)) {
        at = 1 + b[0];
    } else if (tpduLength >= 0 && total == static_cast<std::size_t>(tpduLength)) {
        at = 0;  // a modem that lists the PDU without the service centre address
    } else {
        return refuse(why, std::to_string(total) + " octets, the listing announces " +
                               std::to_string(tpduLength) + " and a service centre address");
    }
    auto left = [&] { return total - at; };

    // First octet, the originating address, protocol identifier, coding, time stamp, length.
    if (left() < 3) return refuse(why, "cut before the sender");
    const std::uint8_t first = b[at];
    if ((first & 0x03) != 0) return refuse(why, "not a received message (SMS-DELIVER)");
    const int digits = b[at + 1];
    const std::uint8_t type = b[at + 2];
    if (digits > kMaxAddressDigits) return refuse(why, "sender address too long");
    at += 3;
    const std::size_t addressOctets = static_cast<std::size_t>(digits + 1) / 2;
    if (left() < addressOctets) return refuse(why, "cut inside the sender");
    out.sender = address(&b[at], digits, type);
    at += addressOctets;
    if (left() < 1 + 1 + 7 + 1) return refuse(why, "cut before the user data");
    const std::uint8_t dcs = b[at + 1];
    const int udl = b[at + 9];
    at += 10;

    const Alphabet alphabet = alphabetOf(dcs);
    if (alphabet == Alphabet::Compressed) return refuse(why, "compressed text");
    const bool septets = alphabet == Alphabet::Gsm7;
    if (udl > (septets ? kMaxSeptets : kMaxUserDataOctets))
        return refuse(why, "user data length " + std::to_string(udl) + " beyond the maximum");
    const std::size_t udOctets = septets ? (static_cast<std::size_t>(udl) * 7 + 7) / 8
                                         : static_cast<std::size_t>(udl);
    if (left() < udOctets) return refuse(why, "user data shorter than its length");
    const std::uint8_t* ud = &b[at];

    out.part = MessagePart{};
    std::size_t headerOctets = 0;
    TextTables tables;
    if (first & 0x40) {  // TP-UDHI: the user data begins with a header
        if (udOctets < 1 || static_cast<std::size_t>(ud[0]) + 1 > udOctets)
            return refuse(why, "user data header longer than the user data");
        headerOctets = static_cast<std::size_t>(ud[0]) + 1;
        if (!readHeader(ud + 1, ud[0], out.part, tables)) return refuse(why, "broken user data header");
    }

    out.text.clear();
    if (septets) {
        // The text starts at the septet boundary after the header (fill bits between).
        const std::size_t skip = (headerOctets * 8 + 6) / 7;
        if (skip > static_cast<std::size_t>(udl))
            return refuse(why, "user data header longer than the user data");
        std::string codes;
        for (std::size_t k = skip; k < static_cast<std::size_t>(udl); ++k)
            codes.push_back(static_cast<char>(septetAt(ud, k * 7)));
        out.text = gsmToUtf8(codes, tables.locking, tables.single);
    } else if (alphabet == Alphabet::EightBit) {
        // Data, not text: each octet as the ISO 8859-1 character of its value.
        for (std::size_t k = headerOctets; k < udOctets; ++k) putChar(out.text, ud[k]);
    } else {
        // UCS-2, read as UTF-16 as phones send it: a surrogate pair is one character, a lone
        // surrogate U+FFFD. A part of a long message keeps a half of a pair at its end (a
        // high surrogate) or start (a low one) for joinSurrogates, as some phones split a pair.
        const bool part = out.part.total > 0;
        for (std::size_t k = headerOctets; k + 1 < udOctets; k += 2) {
            const char32_t unit = static_cast<char32_t>(ud[k]) << 8 | ud[k + 1];
            char32_t c = unit;
            if (unit >= 0xD800 && unit <= 0xDFFF) {
                c = 0xFFFD;
                const bool last = k + 3 >= udOctets;
                const char32_t low = last ? 0 : static_cast<char32_t>(ud[k + 2]) << 8 | ud[k + 3];
                if (unit <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    k += 2;
                } else if (part && (unit <= 0xDBFF ? last : k == headerOctets)) {
                    out.text += static_cast<char>(0xE0 | unit >> 12);
                    out.text += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
                    out.text += static_cast<char>(0x80 | (unit & 0x3F));
                    continue;
                }
            }
            putChar(out.text, c);
        }
    }
    return 0;
}

}  // namespace gsms
