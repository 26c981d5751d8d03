// ModemSimulator: an AtModem served on the master side of a pseudo-terminal.
//
// start() opens the pseudo-terminal (slave side raw), makes the link and the control socket,
// opens the record files, applies the start controls and starts the serving thread. stop()
// (also the destructor) ends the thread and removes the link and the socket.
//
// The simulator keeps a descriptor of the slave open itself, so the master never reads EIO
// and the client may close and reopen the port at will. The "hangup" control closes both
// (the client then reads EIO, as from an unplugged modem) and removes the link; the controls
// go on working. "hangup N" brings a new pseudo-terminal back under the same link after N s,
// as a USB modem's /dev/serial/by-id link comes back when it is plugged in again.
//
// Thread safety: the serving thread alone touches the master, the control socket and its
// clients. control(), submissions() and commands() may be called from any thread while it
// runs; mutex_ guards the modem, the output queue, the kept records and the record files.
// start() and stop() belong to the owner's thread.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "at_modem.h"
#include "json_records.h"

namespace gsms::sim {

struct Options {
    std::string linkPath;     // symbolic link to the slave (a stale link is replaced); "": none
    std::string controlPath;  // UNIX stream socket for controls; "": none
    std::string recordPath;   // JSON lines, one per submission; "": none
    std::string tracePath;    // JSON lines, one per command line received; "": none
    std::vector<std::string> startControls;  // control lines applied before serving
};

class ModemSimulator {
public:
    static constexpr std::size_t kKept = 10000;  // records kept in memory, the oldest go

    explicit ModemSimulator(Options options = {});
    ~ModemSimulator();
    ModemSimulator(const ModemSimulator&) = delete;
    ModemSimulator& operator=(const ModemSimulator&) = delete;

    // false (with error() saying why, nothing left behind) when the pseudo-terminal, the
    // link, the socket, a record file or a start control fails.
    [[nodiscard]] bool start();
    void stop();

    // The slave at start; after a "hangup N" the link points to a new one.
    const std::string& slavePath() const { return slavePath_; }
    const std::string& error() const { return error_; }

    // One control line: "ok", or "error: " and why. Takes effect at the next byte served.
    std::string control(const std::string& line);
    std::vector<Submission> submissions() const;
    std::vector<std::string> commands() const;

private:
    using Clock = std::chrono::steady_clock;
    struct ControlClient {
        int fd = -1;
        std::string pending;    // bytes of an unfinished line
        bool overlong = false;  // the line passed kMaxControlLine: answer once, at its end
    };
    static constexpr std::size_t kMaxControlLine = 4096;
    static constexpr std::size_t kMaxInput = 4096;
    static constexpr std::size_t kMaxQueued = 65536;  // a line nobody reads drops the rest

    bool fail(const std::string& why);
    // "" on success, else why not.
    std::string openTerminal();
    std::string makeLink();
    void removeLink();
    void hangUpLine(std::string& input);
    bool comeBack();
    bool openControlSocket();
    void cleanup();
    void serve();
    void absorb(Output& out);
    bool delayQueued() const;
    int flushOutput(Clock::time_point now);
    void readControl(ControlClient& c);
    void releaseExclusive();
    void wake();

    Options options_;
    std::string slavePath_;
    std::string slave_;  // the slave now: written by start() and then by the serving thread
    std::string error_;
    int master_ = -1;
    int keep_ = -1;    // our own descriptor of the slave
    int wake_ = -1;    // eventfd: stop, or output queued by a control
    int listen_ = -1;  // control socket
    bool linked_ = false;
    bool socketMade_ = false;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> hangUp_{false};  // a control hung the line up: the serving thread closes it
    std::atomic<int> backAfterS_{-1};  // and brings it back after so many seconds (-1: never)

    mutable std::mutex mutex_;
    AtModem modem_;
    std::deque<OutputChunk> queue_;
    std::size_t queued_ = 0;  // bytes in queue_ not yet written
    std::deque<Submission> submissions_;
    std::deque<std::string> commands_;
    JsonLines record_;
    JsonLines trace_;

    // Serving thread only.
    std::size_t frontWritten_ = 0;
    bool frontTimed_ = false;
    Clock::time_point frontDue_;
    Clock::time_point nextByteAt_;
};

}  // namespace gsms::sim
