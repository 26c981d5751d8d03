// One modem link: the serial port and everything that belongs to one modem's AT channel. The
// answer state the InputThread fills (modem_state.h: events, capture, texts, SMSC number), the
// lock that makes one exchange at a time, the sender's pacing clock and its PIN mask, whether
// the port is gone, and the signal strength last read. The engine holds the links; today it
// creates one, firstModem.
//
// Thread contract: a link lives as long as the process (never destroyed: its InputThread and
// the other workers use it until the process ends). Its modemLock is held by the thread in an
// exchange with this modem; the pacing and the sent-bytes mask are used only under it (or by
// the engine thread at start-up, before any other modem user exists). The port pointer, the
// hang-up flag and the signal quality are atomics and may be read by any thread; the signal
// quality is written by the link's SignalThread only. The number and the name never change.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "modem/modem_state.h"
#include "modem/pin_mask.h"

namespace gsms {

class SerialPort;

class ModemLink {
public:
    // number: 1 or 2. name: what this link's log lines begin with; empty with one modem, so
    // that the lines are the same as ever.
    ModemLink(int number, std::string name);
    ModemLink(const ModemLink&) = delete;
    ModemLink& operator=(const ModemLink&) = delete;

    [[nodiscard]] int number() const { return number_; }
    [[nodiscard]] const std::string& name() const { return name_; }
    // `line` as this link logs it: "<name>: <line>", or the line alone without a name.
    [[nodiscard]] std::string named(std::string_view line) const;

    ModemState& state() { return state_; }
    // The port; null until the engine has created it.
    std::atomic<SerialPort*>& port() { return port_; }
    // One AT exchange at a time on this modem.
    std::mutex& modemLock() { return modemLock_; }
    // The last signal strength read, 0..31; 0 when there is no usable reading.
    std::atomic<int>& signalQuality() { return signalQuality_; }

    // The port is gone (a read or write on it failed): sets the hang-up flag and, once per
    // loss, logs "modem port hung up" in both logs (red). The LinkThread clears the flag once
    // the modem is back. Nothing is submitted, polled or listed on this link meanwhile.
    void notePortLost();
    // Returns the value before; setting it notes the time of the loss (gateway milliseconds).
    bool setPortHungUp(bool hungUp);
    [[nodiscard]] bool portHungUp() const { return hungUp_.load(); }
    [[nodiscard]] std::int64_t portHungUpSinceMs() const { return hungUpAt_.load(); }

    // The AT sender's own (at_sender.cpp), used under modemLock: the time of the last
    // transmission, on the monotonic clock so that a change of the system time neither stalls
    // nor skips the pacing, and the mask of the bytes written.
    struct Pacing {
        std::atomic<std::int64_t> lastTransmissionMs{0};
        std::atomic<bool> transmitted{false};
        PinMask sentMask;
    };
    Pacing& pacing() { return pacing_; }

    // What the SMS services name once for this modem until it changes again: that it stays in
    // PDU mode (restoreTextMode), that it refuses PDU mode for a submission (sendSms).
    std::atomic<bool>& stuckInPduNamed() { return stuckInPduNamed_; }
    std::atomic<bool>& pduRefusalNamed() { return pduRefusalNamed_; }

private:
    const int number_;
    const std::string name_;
    ModemState state_;
    std::atomic<SerialPort*> port_{nullptr};
    std::mutex modemLock_;
    std::atomic<int> signalQuality_{0};
    std::atomic<bool> hungUp_{false};
    std::atomic<std::int64_t> hungUpAt_{0};
    Pacing pacing_;
    std::atomic<bool> stuckInPduNamed_{false};
    std::atomic<bool> pduRefusalNamed_{false};
};

// The first modem's link (number 1, no name), created at first use and never destroyed. The
// engine starts it; the windows and the first modem's workers reach it here.
ModemLink& firstModem();

}  // namespace gsms
