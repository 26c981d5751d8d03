#include "modem/modem_state.h"

#include <strings.h>

#include <cstring>

#include "core/activity.h"
#include "core/log.h"
#include "modem/pin_mask.h"
#include "platform/clock.h"
#include "platform/file_append.h"
#include "platform/ini_file.h"
#include "platform/serial_port.h"

namespace gsms {
namespace {

// The capture mode a line meets: switched by the thread that talks to the modem, under
// modemLock.
enum class Mode : unsigned char {
    Listing,   // listCapture: the IncomingThread lists received messages
    Response,  // responseCapture: the signal poll, and the re-synchronisation after a failure
    Plain,     // neither
};

// CapturedOk and CapturedFail also append the line: the IncomingThread tells from the capture
// whether a final result was the modem's last line or a line of a message's text.
enum class Action : unsigned char {
    Ignore, Ok, Fail, Capture, CapturedOk, CapturedFail, Cpin, Cfun, Cmgf, Cmgl, Csca
};

struct Rule {
    Mode mode;
    const char* prefix;  // "" matches every line
    bool anyCase;
    Action action;
};

// Read top to bottom: the first rule of the current mode whose prefix begins the line applies.
// "+CMS ERROR" (GSM 07.05) and "+CME ERROR" (07.07) are final results like ERROR: a refused
// submission fails as soon as the modem says so.
constexpr Rule kRules[] = {
    {Mode::Listing, "OK", false, Action::CapturedOk},
    {Mode::Listing, "ERROR", false, Action::CapturedFail},
    {Mode::Listing, "+CMS ERROR", false, Action::CapturedFail},
    {Mode::Listing, "+CME ERROR", false, Action::CapturedFail},
    {Mode::Listing, "", false, Action::Capture},  // the listing itself, echo included

    {Mode::Response, "OK", false, Action::Ok},
    {Mode::Response, "", false, Action::Capture},  // failures too: the waiter reads them

    {Mode::Plain, "at", true, Action::Ignore},  // the modem's echo of a command
    {Mode::Plain, "OK", false, Action::Ok},
    {Mode::Plain, "ERROR", false, Action::Fail},
    {Mode::Plain, "+CMS ERROR", false, Action::Fail},
    {Mode::Plain, "+CME ERROR", false, Action::Fail},
    {Mode::Plain, "+CPIN", false, Action::Cpin},
    {Mode::Plain, "+CFUN", false, Action::Cfun},
    {Mode::Plain, "+CMGF", false, Action::Cmgf},
    {Mode::Plain, "+CMGL", false, Action::Cmgl},
    {Mode::Plain, "+CSCA", false, Action::Csca},
    // +CSQ answers, unsolicited result codes (RING, +CMTI, +CREG), the echoed SMS text and the
    // line that ends it: only in the daily log.
    {Mode::Plain, "", false, Action::Ignore},
};

bool begins(std::string_view line, const Rule& r) {
    const std::size_t n = std::strlen(r.prefix);
    if (line.size() < n) return false;
    return r.anyCase ? strncasecmp(line.data(), r.prefix, n) == 0
                     : line.compare(0, n, r.prefix) == 0;
}

// The value part: the line from its eighth character on (after "+XXXX: ").
std::string_view valuePart(std::string_view line) {
    return line.size() > 7 ? line.substr(7) : std::string_view();
}

template <std::size_t N>
void storeText(char (&out)[N], std::string_view value) {
    std::size_t n = value.size() < N - 1 ? value.size() : N - 1;
    if (n > 0) std::memcpy(out, value.data(), n);  // an empty value may have no data at all
    out[n] = '\0';
}

void appendCapture(ModemState& s, std::string_view line) {
    std::lock_guard lock(s.captureMutex);
    // A full capture stops appending: its tail is lost, the buffer stays within bounds.
    std::size_t room = ModemState::kCaptureSize - 1 - s.captureBuffer.size();
    if (room == 0) return;
    std::string piece = std::string(line) + "\r";
    s.captureBuffer.append(piece, 0, piece.size() < room ? piece.size() : room);
}

void apply(ModemState& s, Action action, std::string_view line) {
    switch (action) {
        case Action::Ignore: return;
        case Action::Ok: {
            std::lock_guard lock(s.okMutex);
            ++s.okCount;
            s.event(ModemEvent::Ok).set();
            return;
        }
        case Action::Fail: {
            std::lock_guard lock(s.textMutex);
            storeText(s.errorText, line);
        }
            s.event(ModemEvent::Error).set();
            return;
        case Action::Capture: appendCapture(s, line); return;
        case Action::CapturedOk:
            appendCapture(s, line);
            apply(s, Action::Ok, line);
            return;
        case Action::CapturedFail:
            appendCapture(s, line);
            apply(s, Action::Fail, line);
            return;
        case Action::Cpin: {
            const std::string_view v = valuePart(line);
            s.pinReady = v.size() >= 5 && strncasecmp(v.data(), "READY", 5) == 0;
            {
                std::lock_guard lock(s.textMutex);
                storeText(s.cpinText, v);
            }
            s.event(ModemEvent::Cpin).set();
            return;
        }
        case Action::Cfun:
            s.cfunValue = ini::parseInt(valuePart(line));
            s.event(ModemEvent::Cfun).set();
            return;
        case Action::Cmgf:
            s.cmgfValue = ini::parseInt(valuePart(line));
            s.okCountAtCmgf = s.okCount.load();
            s.event(ModemEvent::Cmgf).set();
            return;
        case Action::Cmgl: {
            std::lock_guard lock(s.textMutex);
            storeText(s.cmglText, valuePart(line));
        }
            s.event(ModemEvent::Cmgl).set();
            return;
        case Action::Csca: {
            std::lock_guard lock(s.textMutex);
            storeText(s.cscaText, valuePart(line));
        }
            s.event(ModemEvent::Csca).set();
            return;
    }
}

}  // namespace

void ModemState::clearCapture() {
    std::lock_guard lock(captureMutex);
    captureBuffer.clear();
}

std::string ModemState::capture() {
    std::lock_guard lock(captureMutex);
    return captureBuffer;
}

std::string ModemState::lockedText(const char* text) {
    std::lock_guard lock(textMutex);
    return text;
}

std::string ModemState::cmgl() { return lockedText(cmglText); }
std::string ModemState::csca() { return lockedText(cscaText); }
std::string ModemState::cpin() { return lockedText(cpinText); }
std::string ModemState::lastError() { return lockedText(errorText); }

// Never destroyed: the InputThread uses it until the process ends.
ModemState& modemState() {
    static ModemState* state = new ModemState;
    return *state;
}

std::atomic<SerialPort*>& serialPortRef() {
    static std::atomic<SerialPort*> port{nullptr};
    return port;
}

void rawTrace(unsigned char byte) {
    // The trace is switched on by creating the file.
    (void)files::append("tevrak.log", std::string_view(reinterpret_cast<const char*>(&byte), 1),
                        files::IfMissing::Skip);
}

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

void classifyLine(ModemState& s, std::string_view line) {
    fileLog(loggedLine(line));  // every modem line, echoes included
    const Mode mode = s.listCapture.load()       ? Mode::Listing
                      : s.responseCapture.load() ? Mode::Response
                                                 : Mode::Plain;
    for (const Rule& rule : kRules) {
        if (rule.mode != mode || !begins(line, rule)) continue;
        apply(s, rule.action, line);
        return;
    }
}

void deliver(ModemState& s, LineAssembler::Fed fed, const LineAssembler& assembler) {
    switch (fed) {
        case LineAssembler::Fed::NeedMore: return;
        case LineAssembler::Fed::Line: classifyLine(s, assembler.line()); return;
        case LineAssembler::Fed::Continuation: fileLog(assembler.shown()); return;
        case LineAssembler::Fed::Prompt: s.event(ModemEvent::Prompt).set(); return;
    }
}

void inputThread() {
    ModemState& s = modemState();
    LineAssembler assembler;
    PinMask traceMask;
    bool hungUp = false;
    for (;;) {
        beat(Heart::Reader);
        SerialPort* port = serialPortRef().load();
        unsigned char byte = 0;
        const int n = port != nullptr ? port->read(&byte, 1) : 0;
        if (n < 0) {
            // Gone (unplugged, or its pseudo-terminal closed): every read fails at once, so
            // pause rather than spin; the signal supervision ends the process in time.
            if (!hungUp) {
                fileLog("modem port hung up");
                windowLog(nullptr, "modem port hung up", kColorRed);
                hungUp = true;
                setPortHungUp(true);
            }
            clock::pauseRealMs(100);
            continue;
        }
        if (n == 0) {
            clock::sleepMs(1);
            continue;
        }
        if (hungUp) setPortHungUp(false);
        hungUp = false;
        rawTrace(traceMask.feed(byte));
        const LineAssembler::Fed fed = assembler.feed(byte);
        deliver(s, fed, assembler);
    }
}

}  // namespace gsms
