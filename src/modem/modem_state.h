// The answer side of the AT channel: the modem events and the shared modem state, which the
// InputThread (input_thread.h) fills as the classifier (response_rules.h) says, from the lines
// the line assembler (line_assembler.h) puts together, and which the commanding threads read.
//
// One ModemState per modem link (modem_link.h).
//
// Thread contract: the link's InputThread alone feeds its LineAssembler and writes the appended
// part of captureBuffer, the byte count, the parsed values and the texts; a waiting thread reads
// a value only after its event is set or its wait has ended (the byte count at any time). The
// capture flags and smsText are switched by the thread holding the link's modemLock and read
// by the InputThread: they are atomics. captureMutex guards captureBuffer, textMutex the texts.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/event.h"

namespace gsms {

// Prompt: "> " arrived at the start of a line (the modem waits for the SMS text). Lost: the
// port is gone (ModemLink::setPortHungUp), so that an exchange's waits end at once rather
// than at their time-out; reset when the LinkThread has the port open again.
enum class ModemEvent { Ok = 0, Error, Cpin, Cfun, Cmgf, Cmgl, Csca, Prompt, Lost };
constexpr int kModemEventCount = 9;

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
    // The modem's lines may now carry an SMS's own text: a text-mode listing or read, or the
    // echo of a text-mode submission. The daily log marks such lines (response_rules.h).
    std::atomic<bool> smsText{false};
    // Bytes read from the modem so far: a long answer's waiter tells from it that the modem
    // still sends, when the capture is full or a long line is not yet complete.
    std::atomic<std::uint64_t> bytesIn{0};
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
    // What this modem's lines begin with in the daily log: "modem 2: " where two modems
    // write it, else nothing. Set with the link's name, before its InputThread runs.
    std::string logName;

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

// The first modem's state (firstModem().state(), modem_link.h), for the windows' SMSC dialogs.
ModemState& modemState();

}  // namespace gsms
