#include "pdu_submit.h"

#include <cstdint>
#include <vector>

#include "json_records.h"

namespace gsms::sim {
namespace {

// TS 23.038 6.2.1: what a phone shows for each default-alphabet septet (0x1B, the escape,
// shows nothing by itself).
constexpr char32_t kSeptets[128] = {
    U'@', U'£', U'$', U'¥', U'è', U'é', U'ù', U'ì',  // 0x00
    U'ò', U'Ç', U'\n', U'Ø', U'ø', U'\r', U'Å', U'å',
    U'Δ', U'_', U'Φ', U'Γ', U'Λ', U'Ω', U'Π', U'Ψ',  // 0x10
    U'Σ', U'Θ', U'Ξ', 0, U'Æ', U'æ', U'ß', U'É',
    U' ', U'!', U'"', U'#', U'¤', U'%', U'&', U'\'',  // 0x20
    U'(', U')', U'*', U'+', U',', U'-', U'.', U'/',
    U'0', U'1', U'2', U'3', U'4', U'5', U'6', U'7',  // 0x30
    U'8', U'9', U':', U';', U'<', U'=', U'>', U'?',
    U'¡', U'A', U'B', U'C', U'D', U'E', U'F', U'G',  // 0x40
    U'H', U'I', U'J', U'K', U'L', U'M', U'N', U'O',
    U'P', U'Q', U'R', U'S', U'T', U'U', U'V', U'W',  // 0x50
    U'X', U'Y', U'Z', U'Ä', U'Ö', U'Ñ', U'Ü', U'§',
    U'¿', U'a', U'b', U'c', U'd', U'e', U'f', U'g',  // 0x60
    U'h', U'i', U'j', U'k', U'l', U'm', U'n', U'o',
    U'p', U'q', U'r', U's', U't', U'u', U'v', U'w',  // 0x70
    U'x', U'y', U'z', U'ä', U'ö', U'ñ', U'ü', U'à',
};

// 6.2.1.1: the extension table behind the escape; a code it lacks shows as its main-table
// character.
char32_t extended(unsigned septet) {
    switch (septet) {
        case 0x0A: return U'\f';
        case 0x14: return U'^';
        case 0x28: return U'{';
        case 0x29: return U'}';
        case 0x2F: return U'\\';
        case 0x3C: return U'[';
        case 0x3D: return U'~';
        case 0x3E: return U']';
        case 0x40: return U'|';
        case 0x65: return U'€';
        default: return kSeptets[septet & 0x7F];
    }
}

void putUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Reads octets front to back; every read is checked against the end.
struct Octets {
    std::string_view bytes;
    std::size_t at = 0;
    bool take(int& v) {
        if (at >= bytes.size()) return false;
        v = static_cast<unsigned char>(bytes[at++]);
        return true;
    }
    bool take(std::size_t n, std::string_view& v) {
        if (bytes.size() - at < n) return false;
        v = bytes.substr(at, n);
        at += n;
        return true;
    }
};

}  // namespace

bool decodeSubmit(std::string_view hexLine, int tpduLength, DecodedSubmit& out,
                  std::string& why) {
    std::string octets;
    if (!fromHex(hexLine, octets) || octets.empty()) {
        why = "not an even number of hex digits";
        return false;
    }
    const auto scaLength = static_cast<std::size_t>(static_cast<unsigned char>(octets[0]));
    if (1 + scaLength > octets.size() ||
        octets.size() - 1 - scaLength != static_cast<std::size_t>(tpduLength)) {
        why = "the TPDU is not as long as AT+CMGS said";
        return false;
    }
    Octets in{std::string_view(octets).substr(1 + scaLength)};
    DecodedSubmit d;
    int daDigits = 0, toa = 0, udl = 0;
    if (!in.take(d.firstOctet) || (d.firstOctet & 0x03) != 0x01) {
        why = "not an SMS-SUBMIT";
        return false;
    }
    int mr = 0;
    std::string_view address;
    if (!in.take(mr) || !in.take(daDigits) || daDigits > 20 || !in.take(toa) ||
        !in.take(static_cast<std::size_t>((daDigits + 1) / 2), address) || !in.take(d.pid) ||
        !in.take(d.dcs)) {
        why = "destination, PID or DCS cut short";
        return false;
    }
    if ((toa & 0x70) == 0x10) d.to = "+";
    for (int i = 0; i < daDigits; ++i) {
        const int nibble = static_cast<unsigned char>(address[static_cast<std::size_t>(i / 2)]) >>
                           (i % 2 == 0 ? 0 : 4) & 0x0F;
        if (nibble > 0x0B) {
            why = "a destination digit that is none";
            return false;
        }
        d.to += "0123456789*#"[nibble];
    }
    switch (d.firstOctet >> 3 & 0x03) {  // TP-VPF
        case 0: break;
        case 2:
            if (!in.take(d.validity)) {
                why = "validity period cut short";
                return false;
            }
            break;
        default: {
            std::string_view skipped;  // enhanced or absolute: seven octets
            if (!in.take(7, skipped)) {
                why = "validity period cut short";
                return false;
            }
        }
    }
    // TS 23.038 clause 4: the general data coding group and the data coding / class group.
    int alphabet = 0;
    if ((d.dcs & 0xC0) == 0x00) {
        if (d.dcs & 0x20) {
            why = "compressed text";
            return false;
        }
        alphabet = d.dcs >> 2 & 0x03;
        if (d.dcs & 0x10) d.messageClass = d.dcs & 0x03;
    } else if ((d.dcs & 0xF0) == 0xF0) {
        alphabet = d.dcs & 0x04 ? 1 : 0;
        d.messageClass = d.dcs & 0x03;
    } else {
        why = "a data coding scheme this simulator does not take";
        return false;
    }
    if (alphabet == 3) {
        why = "reserved alphabet";
        return false;
    }
    d.alphabet = alphabet == 0 ? "gsm7" : alphabet == 1 ? "8bit" : "ucs2";
    const bool septets = alphabet == 0;
    std::string_view ud;
    if (!in.take(udl) || !in.take(in.bytes.size() - in.at, ud)) {
        why = "no user data length";
        return false;
    }
    const std::size_t udOctets = septets ? (static_cast<std::size_t>(udl) * 7 + 7) / 8
                                         : static_cast<std::size_t>(udl);
    if (ud.size() != udOctets || udOctets > 140) {
        why = "user data not as long as its length says";
        return false;
    }

    std::size_t headerOctets = 0;
    if (d.firstOctet & 0x40) {  // TP-UDHI
        const std::size_t udhl = ud.empty() ? 0 : static_cast<unsigned char>(ud[0]);
        headerOctets = 1 + udhl;
        if (ud.empty() || headerOctets > ud.size()) {
            why = "user data header longer than the user data";
            return false;
        }
        for (std::size_t i = 1; i + 1 < headerOctets;) {
            const int iei = static_cast<unsigned char>(ud[i]);
            const std::size_t len = static_cast<unsigned char>(ud[i + 1]);
            if (i + 2 + len > headerOctets) {
                why = "an information element past the header";
                return false;
            }
            auto at = [&](std::size_t k) { return static_cast<unsigned char>(ud[i + 2 + k]); };
            if (iei == 0x00 && len == 3) {
                d.reference = at(0), d.total = at(1), d.sequence = at(2);
            } else if (iei == 0x08 && len == 4) {
                d.reference = at(0) << 8 | at(1), d.total = at(2), d.sequence = at(3);
            }
            i += 2 + len;
        }
        if (d.total > 0 && (d.sequence < 1 || d.sequence > d.total)) {
            why = "a part number outside its message";
            return false;
        }
    }

    if (septets) {
        // The header takes whole septets (with fill bits); the text follows.
        const std::size_t skip = (headerOctets * 8 + 6) / 7;
        std::vector<unsigned> values;
        for (std::size_t n = 0; n < static_cast<std::size_t>(udl); ++n) {
            const std::size_t bit = n * 7;
            unsigned v = static_cast<unsigned char>(ud[bit / 8]) >> (bit % 8);
            if (bit % 8 > 1 && bit / 8 + 1 < ud.size())
                v |= static_cast<unsigned>(static_cast<unsigned char>(ud[bit / 8 + 1]))
                     << (8 - bit % 8);
            if (n >= skip) values.push_back(v & 0x7F);
        }
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (values[i] != 0x1B) {
                putUtf8(d.text, kSeptets[values[i]]);
            } else if (i + 1 < values.size()) {
                putUtf8(d.text, extended(values[++i]));
            }
        }
    } else if (alphabet == 2) {
        const std::string_view units = ud.substr(headerOctets);
        if (units.size() % 2 != 0) {
            why = "UCS-2 text of an odd number of octets";
            return false;
        }
        for (std::size_t i = 0; i < units.size(); i += 2) {
            char32_t u = static_cast<unsigned char>(units[i]) << 8 |
                         static_cast<unsigned char>(units[i + 1]);
            if (u >= 0xD800 && u < 0xDC00 && i + 3 < units.size()) {
                const char32_t low = static_cast<unsigned char>(units[i + 2]) << 8 |
                                     static_cast<unsigned char>(units[i + 3]);
                if (low >= 0xDC00 && low < 0xE000) {
                    u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
            }
            putUtf8(d.text, u);
        }
    } else {
        for (unsigned char c : ud.substr(headerOctets)) putUtf8(d.text, c);
    }
    out = std::move(d);
    return true;
}

}  // namespace gsms::sim
