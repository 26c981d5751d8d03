// InputAssembler: splits what the client sends the modem into command lines and SMS texts.
//
// Fed one byte at a time, it says what the byte did. In command state a line ends with CR;
// LF (so CR LF endings), NUL and other control bytes are dropped. After the "> " prompt
// (beginText) the bytes are SMS text up to Ctrl-Z (send) or ESC (cancel). Both buffers are
// capped: bytes past the cap are dropped and the line or text is marked overflowed.
// Thread safety: none; one owner feeds it.
#pragma once

#include <cstddef>
#include <string>

namespace gsms::sim {

class InputAssembler {
public:
    static constexpr std::size_t kMaxCommand = 256;  // a real modem's command buffer is smaller
    static constexpr std::size_t kMaxText = 1024;    // far past any single SMS

    enum class Step {
        Held,     // kept in the line or text (a modem echoes it)
        Dropped,  // ignored
        Line,     // CR ended a non-empty command line: line()
        Send,     // Ctrl-Z ended the text: text()
        Cancel,   // ESC abandoned the text
    };

    Step feed(unsigned char byte);
    // From now on bytes are SMS text.
    void beginText();
    // Back to command state with empty buffers.
    void reset();

    bool inText() const { return inText_; }
    // The finished line or text, valid after Line / Send until the next feed.
    const std::string& line() const { return done_; }
    const std::string& text() const { return done_; }
    // The finished line or text was cut at its cap.
    bool overflowed() const { return doneOverflow_; }

private:
    Step keep(unsigned char byte, std::size_t cap);
    Step finish(Step step);

    std::string current_;  // the line or text being assembled
    std::string done_;     // the last finished one
    bool overflow_ = false;
    bool doneOverflow_ = false;
    bool inText_ = false;
};

}  // namespace gsms::sim
