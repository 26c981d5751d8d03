// What the status shows, taken at one moment, and the three forms it is shown in: the status
// file (statusText), the Prometheus text file (metricsText) and the service manager's
// one-line STATUS= (statusLine).
//
// Thread safety: takeStatusSnapshot reads only atomics and the engine's locked copies
// (core/activity.h, the job table's count, the signal reading) and may run on any thread; the
// StatusThread is its caller. noteSignalPolled may be called from any thread and never
// blocks. The formatting functions are pure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/activity.h"

namespace gsms {

// One modem where there are two: each is shown on its own beside the first modem's lines.
struct ModemStatus {
    int number = 1;
    std::string port;
    std::string state;  // pathStateText: "in service", "path down", ...
    bool inService = false;  // in service with a usable signal
    bool signalRead = false;
    int signal = 0;
    std::uint64_t sent = 0, failed = 0;  // SMS it took; its failed attempts
};

// Everything the status shows, taken at one moment.
struct StatusSnapshot {
    long pid = 0;
    std::string pidStart;  // the system's mark of this process's start (processStartStamp)
    EngineStage stage = EngineStage::Starting;
    std::string port;         // as configured; empty before the settings are loaded
    bool portHungUp = false;
    bool signalPolled = false;  // the SignalThread has read the signal at least once
    int signal = 0;
    int queued = 0;   // jobs taken and not yet reported, the one being sent not counted
    int sending = 0;  // 0 or 1
    std::uint64_t sent = 0, failed = 0, retried = 0, received = 0;  // jobs; received SMS
    std::uint64_t partsSent = 0;  // SMS parts the modem took
    LastError lastError;
    std::int64_t started = 0;  // wall seconds
    std::int64_t now = 0;      // wall seconds
    std::vector<ModemStatus> modems;  // empty with one modem
};

[[nodiscard]] StatusSnapshot takeStatusSnapshot();

// The SignalThread's reading has been posted (kNotifySignal): from now on a snapshot shows
// the signal rather than "not read yet".
void noteSignalPolled();

// The status file: "key: value" lines in UTF-8 (see tevrak.ini(5) and gsmsd(8)), ended as the
// platform's text files are (CR LF on Windows).
[[nodiscard]] std::string statusText(const StatusSnapshot& s);
// The same in the Prometheus text exposition format, names prefixed "gsms_".
[[nodiscard]] std::string metricsText(const StatusSnapshot& s);
// One line for the service manager's STATUS=.
[[nodiscard]] std::string statusLine(const StatusSnapshot& s);

}  // namespace gsms
