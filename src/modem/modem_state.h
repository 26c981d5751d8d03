// The answer side of the AT channel: the seven modem events and the shared modem state.
//
// Only the InputThread writes lineBuffer, the appended part of captureBuffer, the parsed
// values and the texts; a waiting thread reads a value only after its event is set or its OK
// wait has ended. The capture flags are switched by the thread holding modemLock and read by
// the InputThread: they are atomics. lineBuffer's first two bytes (the "> " prompt) are read
// by the submitting thread while the reader assembles the line: the buffer is atomic bytes.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

#include "platform/event.h"

namespace gsms {

class SerialPort;

enum class ModemEvent { Ok = 0, Error, Cpin, Cfun, Cmgf, Cmgl, Csca };
constexpr int kModemEventCount = 7;

struct ModemState {
    static constexpr std::size_t kLineSize = 512;
    static constexpr std::size_t kCaptureSize = 32768;
    static constexpr std::size_t kCmglSize = 256;
    static constexpr std::size_t kCscaSize = 128;

    std::array<std::atomic<char>, kLineSize> lineBuffer{};
    // Guards captureBuffer so that the commanding thread can read it after its wait.
    std::mutex captureMutex;
    std::string captureBuffer;  // never longer than kCaptureSize - 1
    std::atomic<bool> listCapture{false};
    std::atomic<bool> responseCapture{false};
    std::atomic<bool> pinReady{false};
    std::atomic<int> cfunValue{-1};
    std::atomic<int> cmgfValue{-1};
    std::mutex textMutex;  // guards cmglText and cscaText
    char cmglText[kCmglSize] = {};
    char cscaText[kCscaSize] = {};
    char smscNumber[128] = {};
    std::atomic<int> smscType{0};

    std::array<Event, kModemEventCount> events;
    Event& event(ModemEvent e) { return events[static_cast<int>(e)]; }

    void clearCapture();
    std::string capture();
    std::string cmgl();
    std::string csca();
};

ModemState& modemState();

// The one serial port of the engine; null until the engine has created it.
std::atomic<SerialPort*>& serialPortRef();

// Appends one byte to "tevrak.log" in the current directory, only when that file exists.
void rawTrace(unsigned char byte);

// Assembles modem lines from single bytes. CR, LF and NUL end a line; empty lines are never
// produced; a line longer than the buffer is delivered in pieces of kLineSize - 1 bytes.
class LineAssembler {
public:
    explicit LineAssembler(ModemState& state) : state_(state) {}
    // Feeds one byte; returns true when a complete line is ready in `line`.
    bool feed(unsigned char byte, std::string& line);

private:
    void clear();
    ModemState& state_;
    std::size_t length_ = 0;
};

// Classifies one complete line: logs it, then captures it or sets its event.
void classifyLine(ModemState& state, const std::string& line);

// The InputThread routine: reads the port byte by byte for ever.
[[noreturn]] void inputThread();

}  // namespace gsms
