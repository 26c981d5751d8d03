#include "input_assembler.h"

namespace gsms::sim {
namespace {

constexpr unsigned char kCtrlZ = 0x1A;
constexpr unsigned char kEsc = 0x1B;

}  // namespace

InputAssembler::Step InputAssembler::feed(unsigned char byte) {
    if (inText_) {
        if (byte == kCtrlZ) return finish(Step::Send);
        if (byte == kEsc) return finish(Step::Cancel);
        return keep(byte, kMaxText);  // CR and LF belong to the text
    }
    if (byte == '\r') {
        // An empty line gets no answer from a modem, so it is not a line at all.
        if (current_.empty() && !overflow_) return Step::Dropped;
        return finish(Step::Line);
    }
    if (byte < 0x20 || byte == 0x7F) return Step::Dropped;
    return keep(byte, kMaxCommand);
}

InputAssembler::Step InputAssembler::keep(unsigned char byte, std::size_t cap) {
    if (current_.size() >= cap) {
        overflow_ = true;
        return Step::Dropped;
    }
    current_.push_back(static_cast<char>(byte));
    return Step::Held;
}

InputAssembler::Step InputAssembler::finish(Step step) {
    done_.swap(current_);
    current_.clear();
    doneOverflow_ = overflow_;
    overflow_ = false;
    inText_ = false;
    return step;
}

void InputAssembler::beginText() {
    current_.clear();
    overflow_ = false;
    inText_ = true;
}

void InputAssembler::reset() {
    current_.clear();
    done_.clear();
    overflow_ = doneOverflow_ = inText_ = false;
}

}  // namespace gsms::sim
