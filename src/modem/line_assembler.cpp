#include "modem/line_assembler.h"

namespace gsms {

LineAssembler::Fed LineAssembler::handOver(Fed kind) {
    line_.assign(lineBuffer_, length_);
    shown_.assign(shownBuffer_, length_);
    length_ = 0;
    return kind;
}

LineAssembler::Fed LineAssembler::feed(unsigned char byte) {
    const unsigned char masked = mask_.feed(byte);
    if (byte == '\r' || byte == '\n') {
        const bool continuing = continuing_;
        continuing_ = false;
        if (length_ == 0) return Fed::NeedMore;  // no empty lines
        return handOver(continuing ? Fed::Continuation : Fed::Line);
    }
    shownBuffer_[length_] = masked == '\0' ? '@' : static_cast<char>(masked);
    lineBuffer_[length_++] = static_cast<char>(byte);
    if (length_ == 2 && !continuing_ && lineBuffer_[0] == '>' && lineBuffer_[1] == ' ')
        return Fed::Prompt;
    if (length_ == kLineSize - 1) {
        // Too long for the buffer: hand over what fits, the rest follows as continuation.
        const Fed kind = continuing_ ? Fed::Continuation : Fed::Line;
        continuing_ = true;
        return handOver(kind);
    }
    return Fed::NeedMore;
}

std::string loggedLine(std::string_view line) {
    std::string out = maskPin(line);
    for (char& c : out)
        if (c == '\0') c = '@';
    return out;
}

}  // namespace gsms
