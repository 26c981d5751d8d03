// What the gateway shows those who watch it without the window: the status file in the
// profile folder, the Prometheus text file named by "PrometheusFile", and the service manager
// (readiness once the worker threads run, a one-line status, the watchdog). What they show is
// taken and formatted by status_snapshot.h; `gsmsd --status` and `--reload` read the status
// file back (status_client.h).
//
// startServiceStatus starts the StatusThread, which rewrites both files whenever the engine
// posts a notification (every signal poll, job queued, sent, failed or reported, and every
// window line), at most ten times a second, each file atomically (a reader sees the old one
// or the new one). With a watchdog asked for by the service manager it tells it "WATCHDOG=1"
// at half the interval while the engine proves alive (core/activity.h), and stops, with one
// red line, as soon as a loop stands still, so that the manager restarts a hung gateway.
//
// Thread safety: statusChanged and writeStatusNow may be called from any thread and never
// block; flushStatus from any thread but the StatusThread (it waits for it); startServiceStatus
// once, from the main thread. The publisher's lock guards the requests to the StatusThread and
// is taken by nothing else.
#pragma once

#include <cstdint>
#include <string>

namespace gsms {

constexpr const char* kStatusFileName = "gsmsd.status";

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

}  // namespace gsms
