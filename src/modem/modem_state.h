// The answer side of the AT channel: the line assembler, the classifier, the modem events and
// the shared modem state.
//
// Thread contract: the InputThread alone feeds its LineAssembler and writes the appended part
// of captureBuffer, the parsed values and the texts; a waiting thread reads a value only after
// its event is set or its wait has ended. The capture flags are switched by the thread holding
// modemLock and read by the InputThread: they are atomics. captureMutex guards captureBuffer,
// textMutex the texts.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "modem/pin_mask.h"
#include "platform/event.h"

namespace gsms {

class SerialPort;

// Prompt: "> " arrived at the start of a line (the modem waits for the SMS text).
enum class ModemEvent { Ok = 0, Error, Cpin, Cfun, Cmgf, Cmgl, Csca, Prompt };
constexpr int kModemEventCount = 8;

struct ModemState {
    static constexpr std::size_t kCaptureSize = 32768;
    static constexpr std::size_t kCmglSize = 256;
    static constexpr std::size_t kCscaSize = 128;
    static constexpr std::size_t kCpinSize = 32;
    static constexpr std::size_t kErrorSize = 64;

    // Guards captureBuffer so that the commanding thread can read it after its wait.
    std::mutex captureMutex;
    std::string captureBuffer;  // never longer than kCaptureSize - 1
    std::atomic<bool> listCapture{false};
    std::atomic<bool> responseCapture{false};
    std::atomic<bool> pinReady{false};
    std::atomic<int> cfunValue{-1};
    std::atomic<int> cmgfValue{-1};
    // OK lines so far, and their number when the last +CMGF line came: tells whether the OK
    // behind a +CMGF answer is in yet (the re-synchronisation after a failure waits for it).
    std::atomic<unsigned> okCount{0};
    std::atomic<unsigned> okCountAtCmgf{0};
    // Held while an OK is counted and its event set, so that a waiter that resets the event
    // and reads the count together sees either both or neither.
    std::mutex okMutex;
    std::mutex textMutex;  // guards the four texts below
    char cmglText[kCmglSize] = {};
    char cscaText[kCscaSize] = {};
    char cpinText[kCpinSize] = {};    // the SIM's state: "READY", "SIM PIN", "SIM PUK", ...
    char errorText[kErrorSize] = {};  // the last failure line: "ERROR", "+CMS ERROR: 500"
    char smscNumber[128] = {};
    std::atomic<int> smscType{0};

    std::array<Event, kModemEventCount> events;
    Event& event(ModemEvent e) { return events[static_cast<int>(e)]; }

    void clearCapture();
    std::string capture();
    std::string cmgl();
    std::string csca();
    std::string cpin();
    std::string lastError();

private:
    std::string lockedText(const char* text);  // a copy of one of the texts, under textMutex
};

ModemState& modemState();

// The one serial port of the engine; null until the engine has created it.
std::atomic<SerialPort*>& serialPortRef();

// Appends one byte to "tevrak.log" in the current directory, only when that file exists.
void rawTrace(unsigned char byte);

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

// Classifies one complete line by the rule table (modem_state.cpp): logs it, then captures it,
// stores its value or sets its event. "ERROR", "+CMS ERROR" and "+CME ERROR" are failures:
// errorText takes the line and Error is set.
void classifyLine(ModemState& state, std::string_view line);

// Hands the assembler's outcome on: a Line to the classifier, a Continuation to the log only,
// a Prompt to the Prompt event.
void deliver(ModemState& state, LineAssembler::Fed fed, const LineAssembler& assembler);

// The line as the daily log shows it: NUL, the GSM "@", as "@".
std::string loggedLine(std::string_view line);

// The InputThread routine: reads the port byte by byte for ever. While the port is hung up it
// pauses 100 ms between reads and logs "modem port hung up" once.
[[noreturn]] void inputThread();

}  // namespace gsms
