#include "modem/pin_mask.h"

#include <cctype>

namespace gsms {
namespace {
constexpr std::string_view kPinCommand = "+CPIN=";
}  // namespace

unsigned char PinMask::feed(unsigned char byte) {
    if (masking_) {
        if (byte == '\r' || byte == '\n') {
            masking_ = false;
            return byte;
        }
        return byte == '"' || byte == ',' ? byte : static_cast<unsigned char>('*');
    }
    if (std::toupper(byte) == kPinCommand[matched_]) {
        if (++matched_ == kPinCommand.size()) {
            masking_ = true;
            matched_ = 0;
        }
    } else {
        // "+CPIN=" repeats none of its own beginning but the '+'.
        matched_ = byte == '+' ? 1 : 0;
    }
    return byte;
}

std::string maskPin(std::string_view line) {
    PinMask mask;
    std::string out;
    out.reserve(line.size());
    for (char c : line) out.push_back(static_cast<char>(mask.feed(static_cast<unsigned char>(c))));
    return out;
}

}  // namespace gsms
