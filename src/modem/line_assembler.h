// Modem lines put together from single bytes: a state machine with no thread and no port, fed
// by the InputThread (input_thread.h), and the form in which the daily log shows a line.
//
// Thread contract: a LineAssembler has no lock; one thread feeds it (the InputThread its own).
// loggedLine is pure and may run on any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "modem/pin_mask.h"

namespace gsms {

// Assembles modem lines from single bytes (a state machine: no thread, no port).
//
// A line ends only at CR or LF; empty lines are never produced. Every other byte belongs to
// the line, NUL included: in text mode with the GSM character set the modem sends "@" as 0x00.
// "> " at the start of a line is reported at once, whatever follows: the modem sends its
// prompt without a line end. A line longer than kLineSize - 1 bytes is handed over in pieces:
// the first as a Line (it begins where the line begins), the others as Continuation, which
// must never be taken for an answer.
class LineAssembler {
public:
    static constexpr std::size_t kLineSize = 512;
    enum class Fed {
        NeedMore,      // the byte was taken; nothing to hand over
        Line,          // line() holds a complete line, or the first piece of an overlong one
        Continuation,  // line() holds a further piece of an overlong line
        Prompt,        // the line so far is "> "
    };

    [[nodiscard]] Fed feed(unsigned char byte);
    // The text handed over by the last Line or Continuation.
    const std::string& line() const { return line_; }
    // The same text as the daily log shows it (loggedLine), the PIN masked across the pieces
    // of an overlong line: a PIN that begins in one piece stays hidden in the next.
    const std::string& shown() const { return shown_; }

private:
    Fed handOver(Fed kind);
    char lineBuffer_[kLineSize] = {};  // the line being assembled, from its first byte
    char shownBuffer_[kLineSize] = {};  // the same bytes, masked
    std::size_t length_ = 0;
    bool continuing_ = false;  // the bytes in lineBuffer_ continue an overlong line
    PinMask mask_;             // over the whole modem line, not one piece
    std::string line_;
    std::string shown_;
};

// The line as the daily log shows it: NUL, the GSM "@", as "@".
std::string loggedLine(std::string_view line);

}  // namespace gsms
