#include "modem/modem_state.h"

#include <strings.h>

#include <cstring>

#include "engine/log.h"
#include "modem/pin_mask.h"
#include "modem/serial_port.h"
#include "platform/clock.h"
#include "platform/file_append.h"
#include "platform/ini_file.h"

namespace gsms {
namespace {

bool beginsWith(const std::string& line, const char* prefix) {
    return line.compare(0, std::strlen(prefix), prefix) == 0;
}

// The value part: the line from its eighth character on (after "+XXXX: ").
std::string valuePart(const std::string& line) { return line.size() > 7 ? line.substr(7) : ""; }

template <std::size_t N>
void storeText(char (&out)[N], const std::string& value) {
    std::size_t n = value.size() < N - 1 ? value.size() : N - 1;
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
}

void appendCapture(ModemState& s, const std::string& line) {
    std::lock_guard lock(s.captureMutex);
    // A full capture stops appending: its tail is lost, the buffer stays within bounds.
    std::size_t room = ModemState::kCaptureSize - 1 - s.captureBuffer.size();
    if (room == 0) return;
    std::string piece = line + "\r";
    s.captureBuffer.append(piece, 0, piece.size() < room ? piece.size() : room);
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

std::string ModemState::cmgl() {
    std::lock_guard lock(textMutex);
    return cmglText;
}

std::string ModemState::csca() {
    std::lock_guard lock(textMutex);
    return cscaText;
}

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

void LineAssembler::clear() {
    for (std::size_t i = 0; i < length_ && i < ModemState::kLineSize; ++i)
        state_.lineBuffer[i].store(0, std::memory_order_relaxed);
    length_ = 0;
}

bool LineAssembler::feed(unsigned char byte, std::string& line) {
    const bool end = byte == '\r' || byte == '\n' || byte == '\0';
    if (end) {
        if (length_ == 0) return false;  // no empty lines
        line.clear();
        for (std::size_t i = 0; i < length_; ++i) line.push_back(state_.lineBuffer[i].load());
        clear();
        return true;
    }
    state_.lineBuffer[length_++].store(static_cast<char>(byte));
    if (length_ == ModemState::kLineSize - 1) {
        // Too long for the line buffer: hand over what fits and go on with the rest.
        line.clear();
        for (std::size_t i = 0; i < length_; ++i) line.push_back(state_.lineBuffer[i].load());
        clear();
        return true;
    }
    return false;
}

void classifyLine(ModemState& s, const std::string& line) {
    fileLog(maskPin(line));
    if (s.listCapture.load()) {
        if (beginsWith(line, "OK")) s.event(ModemEvent::Ok).set();
        else if (beginsWith(line, "ERROR")) s.event(ModemEvent::Error).set();
        else appendCapture(s, line);
        return;
    }
    if (s.responseCapture.load()) {
        if (beginsWith(line, "OK")) s.event(ModemEvent::Ok).set();
        else appendCapture(s, line);
        return;
    }
    // The rules in order; the first that matches applies.
    if (line.size() >= 2 && strncasecmp(line.c_str(), "at", 2) == 0) return;  // echo
    if (beginsWith(line, "OK")) {
        s.event(ModemEvent::Ok).set();
    } else if (beginsWith(line, "ERROR")) {
        s.event(ModemEvent::Error).set();
    } else if (beginsWith(line, "+CPIN")) {
        std::string v = valuePart(line);
        s.pinReady = v.size() >= 5 && strncasecmp(v.c_str(), "READY", 5) == 0;
        s.event(ModemEvent::Cpin).set();
    } else if (beginsWith(line, "+CFUN")) {
        s.cfunValue = ini::parseInt(valuePart(line));
        s.event(ModemEvent::Cfun).set();
    } else if (beginsWith(line, "+CMGF")) {
        s.cmgfValue = ini::parseInt(valuePart(line));
        s.event(ModemEvent::Cmgf).set();
    } else if (beginsWith(line, "+CMGL")) {
        {
            std::lock_guard lock(s.textMutex);
            storeText(s.cmglText, valuePart(line));
        }
        s.event(ModemEvent::Cmgl).set();
    } else if (beginsWith(line, "+CSCA")) {
        {
            std::lock_guard lock(s.textMutex);
            storeText(s.cscaText, valuePart(line));
        }
        s.event(ModemEvent::Csca).set();
    }
    // Anything else (+CSQ answers, unsolicited codes, echoed SMS text) is only logged.
}

void inputThread() {
    ModemState& s = modemState();
    LineAssembler assembler(s);
    PinMask traceMask;
    std::string line;
    for (;;) {
        SerialPort* port = serialPortRef().load();
        unsigned char byte = 0;
        if (port == nullptr || port->read(&byte, 1) != 1) {
            clock::sleepMs(1);
            continue;
        }
        rawTrace(traceMask.feed(byte));
        if (assembler.feed(byte, line)) classifyLine(s, line);
    }
}

}  // namespace gsms
