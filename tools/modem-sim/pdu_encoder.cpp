#include "pdu_encoder.h"

#include <cstdint>

#include "sms/gsm_alphabet.h"

namespace gsms::sim {
namespace {

constexpr int kMaxSeptets = 160;
constexpr int kMaxOctets = 140;

// Semi-octets, low nibble first, padded with F.
std::string semiOctets(std::string_view digits) {
    std::string out;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int lo = digits[i] - '0';
        const int hi = i + 1 < digits.size() ? digits[i + 1] - '0' : 0x0F;
        out.push_back(static_cast<char>(hi << 4 | lo));
    }
    return out;
}

// Packs septets after `fillBits` zero bits.
std::string pack(std::string_view septets, int fillBits) {
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
    if (bits > 0) out.push_back(static_cast<char>(acc & 0xFF));
    return out;
}

// "yy/MM/dd,hh:mm:ss+zz" (zz in quarters of an hour) as seven swapped BCD octets; the sign
// of the zone is bit 3 of its first digit.
std::string timestampOctets(std::string_view t) {
    std::string digits;
    for (char c : t)
        if (c >= '0' && c <= '9') digits.push_back(c);
    digits.resize(14, '0');
    std::string out;
    for (std::size_t i = 0; i < 14; i += 2)
        out.push_back(static_cast<char>((digits[i + 1] - '0') << 4 | (digits[i] - '0')));
    if (t.find('-') != std::string_view::npos) out.back() = static_cast<char>(out.back() | 0x08);
    return out;
}

constexpr std::pair<char, unsigned char> kExtension[] = {
    {'^', 0x14}, {'{', 0x28}, {'}', 0x29}, {'\\', 0x2F}, {'[', 0x3C}, {'~', 0x3D}, {']', 0x3E}, {'|', 0x40},
};

}  // namespace

bool isNumber(std::string_view sender) {
    if (!sender.empty() && sender.front() == '+') sender.remove_prefix(1);
    if (sender.empty() || sender.size() > 20) return false;
    for (char c : sender)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string latin1ToGsmCodes(std::string_view latin1) {
    std::string out;
    for (char c : latin1) {
        bool escaped = false;
        for (const auto& [ch, code] : kExtension) {
            if (ch != c) continue;
            out.push_back('\x1B');
            out.push_back(static_cast<char>(code));
            escaped = true;
        }
        if (!escaped) out.push_back(static_cast<char>(latin1ToGsm[static_cast<unsigned char>(c)]));
    }
    return out;
}

std::string serviceCentreAddress(std::string_view number) {
    const bool international = !number.empty() && number.front() == '+';
    if (international) number.remove_prefix(1);
    const std::string digits = semiOctets(number);
    return std::string(1, static_cast<char>(digits.size() + 1)) +
           static_cast<char>(international ? 0x91 : 0x81) + digits;
}

std::string encodeDeliver(const DeliverPlan& plan, std::string& why) {
    std::string address;
    if (isNumber(plan.sender)) {
        const bool international = plan.sender.front() == '+';
        const std::string_view digits = std::string_view(plan.sender).substr(international ? 1 : 0);
        address = std::string(1, static_cast<char>(digits.size())) +
                  static_cast<char>(international ? 0x91 : 0x81) + semiOctets(digits);
    } else {
        const std::string codes = latin1ToGsmCodes(plan.sender);
        if (plan.sender.empty() || codes.size() > 11) {
            why = "sender: a number of up to 20 digits or a name of up to 11 characters";
            return {};
        }
        const std::string packed = pack(codes, 0);
        // The length counts the semi-octets the packed name fills.
        address = std::string(1, static_cast<char>((codes.size() * 7 + 3) / 4)) + '\xD0' + packed;
    }

    std::string header;
    if (plan.total > 0) {
        if (plan.reference > 0xFF) {
            header = {'\x08', '\x04', static_cast<char>(plan.reference >> 8),
                      static_cast<char>(plan.reference & 0xFF), static_cast<char>(plan.total),
                      static_cast<char>(plan.sequence)};
        } else {
            header = {'\x00', '\x03', static_cast<char>(plan.reference),
                      static_cast<char>(plan.total), static_cast<char>(plan.sequence)};
        }
        header.insert(header.begin(), static_cast<char>(header.size()));
    }

    std::string userData;
    int length = 0;
    if (plan.coding == Coding::Gsm7) {
        // The text begins at the septet boundary after the header.
        const int headerSeptets = static_cast<int>((header.size() * 8 + 6) / 7);
        const int fill = headerSeptets * 7 - static_cast<int>(header.size()) * 8;
        length = headerSeptets + static_cast<int>(plan.payload.size());
        userData = header + pack(plan.payload, fill);
    } else {
        length = static_cast<int>(header.size() + plan.payload.size());
        userData = header + plan.payload;
    }
    if (length > (plan.coding == Coding::Gsm7 ? kMaxSeptets : kMaxOctets)) {
        why = "text too long for one message";
        return {};
    }
    const char first = static_cast<char>(0x04 | (header.empty() ? 0 : 0x40));  // no more messages
    const char dcs = plan.coding == Coding::Gsm7 ? '\x00' : '\x08';
    return std::string(1, first) + address + '\x00' + dcs + timestampOctets(plan.timestamp) +
           static_cast<char>(length) + userData;
}

}  // namespace gsms::sim
