// What the gateway shows those who watch it without the window: the status file in the
// profile folder, the Prometheus text file named by "PrometheusFile", and the service manager
// (readiness once the worker threads run, a one-line status, the watchdog).
//
// startServiceStatus starts the StatusThread, which rewrites both files whenever the engine
// posts a notification (every signal poll, job queued, sent, failed or reported, and every
// window line), at most ten times a second, each file atomically (a reader sees the old one
// or the new one). With a watchdog asked for by the service manager it tells it "WATCHDOG=1"
// at half the interval while the engine proves alive (core/activity.h), and stops, with one
// red line, as soon as a loop stands still, so that the manager restarts a hung gateway.
//
// Thread safety: statusChanged and writeStatusNow may be called from any thread and never
// block; the formatting functions are pure; startServiceStatus once, from the main thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/activity.h"

namespace gsms {

constexpr const char* kStatusFileName = "gsmsd.status";

// Everything the status shows, taken at one moment.
struct StatusSnapshot {
    long pid = 0;
    EngineStage stage = EngineStage::Starting;
    std::string port;         // as configured; empty before the settings are loaded
    bool portHungUp = false;
    bool signalPolled = false;  // the SignalThread has read the signal at least once
    int signal = 0;
    int queued = 0;   // jobs taken and not yet reported, the one being sent not counted
    int sending = 0;  // 0 or 1
    std::uint64_t sent = 0, failed = 0, retried = 0, received = 0;
    LastError lastError;
    std::int64_t started = 0;  // wall seconds
    std::int64_t now = 0;      // wall seconds
};

[[nodiscard]] StatusSnapshot takeStatusSnapshot();

// The status file: "key: value" lines in UTF-8 (see tevrak.ini(5) and gsmsd(8)).
[[nodiscard]] std::string statusText(const StatusSnapshot& s);
// The same in the Prometheus text exposition format, names prefixed "gsms_".
[[nodiscard]] std::string metricsText(const StatusSnapshot& s);
// One line for the service manager's STATUS=.
[[nodiscard]] std::string statusLine(const StatusSnapshot& s);

// <profile folder>/gsmsd.status
[[nodiscard]] std::string statusFilePath();

// Starts the StatusThread (once per process).
void startServiceStatus();
// Something the status shows has changed: the thread writes soon.
void statusChanged();
// SIGUSR1: the thread writes at once.
void writeStatusNow();
// Has the thread write at once and waits up to limitMs (real time) until it has: the last
// status before the process ends. False when it did not finish in time.
bool flushStatus(std::int64_t limitMs);

// gsmsd --status: prints the status file of `dir` to out, and says so when the gateway that
// wrote it is no longer running. 0: it runs; 3: it does not run; 4: no status file (the exit
// codes of an LSB status action).
[[nodiscard]] int printStatus(const std::string& dir, std::FILE* out);

// gsmsd --reload (Windows): asks the gsmsd that wrote the status file of `dir` to read its
// settings again and says so on out. 0: asked; 3: it does not run (or cannot be asked);
// 4: no status file.
[[nodiscard]] int requestReload(const std::string& dir, std::FILE* out);

}  // namespace gsms
