// One modem link: the serial port and everything that belongs to one modem's AT channel. The
// answer state the InputThread fills (modem_state.h: events, capture, texts, SMSC number), the
// lock that makes one exchange at a time, the sender's pacing clock and its PIN mask, whether
// the port is gone or the path is down, and the signal strength last read. The engine holds
// one or two links: firstModem, and secondModem where TEVRAK.INI names a second modem (an
// alternative path on another network).
//
// Thread contract: a link lives as long as the process (never destroyed: its InputThread and
// the other workers use it until the process ends). Its modemLock is held by the thread in an
// exchange with this modem; the pacing and the sent-bytes mask are used only under it (or by
// the engine thread at start-up, before any other modem user exists). The port pointer, the
// hang-up flag and the signal quality are atomics and may be read by any thread; the signal
// quality is written by the link's SignalThread only. The number never changes; the name is
// set by the engine before any worker of the link runs (setName), and never after.
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
    void setName(std::string name) {
        name_ = std::move(name);
        state_.logName = name_.empty() ? std::string() : name_ + ": ";
    }
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

    // In service: started with the modem's dialogue, its port there and its path not down.
    // Only a link in service is given a submission, a poll or a listing.
    [[nodiscard]] bool inService() const {
        return started_.load() && !hungUp_.load() && !down_.load();
    }
    std::atomic<bool>& started() { return started_; }
    // The path is down: its signal or its port was lost for the supervision's time, or its
    // SIM refused to work. Set and cleared by the supervision (gateway/path_state.h), which
    // says so in the logs.
    std::atomic<bool>& down() { return down_; }
    [[nodiscard]] bool isDown() const { return down_.load(); }
    // The SIM refused the PIN or is locked: the modem is never started again in this run
    // (each start would spend one of the SIM's tries).
    std::atomic<bool>& retired() { return retired_; }

    // What the status shows of this modem: its SMS taken and its failed attempts (dispatch
    // counts them), and whether its SignalThread has read the signal yet.
    std::atomic<std::uint64_t>& sentCount() { return sent_; }
    std::atomic<std::uint64_t>& failedCount() { return failed_; }
    std::atomic<bool>& signalRead() { return signalRead_; }
    [[nodiscard]] std::uint64_t sent() const { return sent_.load(); }
    [[nodiscard]] std::uint64_t failed() const { return failed_.load(); }
    [[nodiscard]] bool signalWasRead() const { return signalRead_.load(); }
    [[nodiscard]] int signal() const { return signalQuality_.load(); }
    [[nodiscard]] bool wasStarted() const { return started_.load(); }
    [[nodiscard]] bool isRetired() const { return retired_.load(); }

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
    std::string name_;
    ModemState state_;
    std::atomic<SerialPort*> port_{nullptr};
    std::mutex modemLock_;
    std::atomic<int> signalQuality_{0};
    std::atomic<bool> hungUp_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> down_{false};
    std::atomic<bool> retired_{false};
    std::atomic<std::uint64_t> sent_{0};
    std::atomic<std::uint64_t> failed_{0};
    std::atomic<bool> signalRead_{false};
    std::atomic<std::int64_t> hungUpAt_{0};
    Pacing pacing_;
    std::atomic<bool> stuckInPduNamed_{false};
    std::atomic<bool> pduRefusalNamed_{false};
};

// The first modem's link (number 1, no name), created at first use and never destroyed. The
// engine starts it; the windows and the first modem's workers reach it here.
ModemLink& firstModem();
// The second modem's link (number 2), or null while the engine has created none. Created once
// by the engine at start (createSecondModem), before any worker runs; never destroyed.
ModemLink* secondModem();
ModemLink& createSecondModem();
// The links there are: the first, and the second where one was created.
[[nodiscard]] int modemCount();
// Link 1 or 2 (number within 1..modemCount()).
ModemLink& modemLink(int number);
// The link other than this one, or null with one modem.
ModemLink* otherModem(const ModemLink& link);

}  // namespace gsms
