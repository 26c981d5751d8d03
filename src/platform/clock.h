// The one clock of the gateway: every sleep, time-out and time stamp goes through here.
//
// GSMS_TIME_SCALE (test use only) speeds up sleeps and time-outs by that factor, e.g.
// GSMS_TIME_SCALE=20 turns a 60 s pause into 3 s. The default is 1: real time. Wall-clock
// time stamps (`wallSeconds`, `localNow`) are never scaled; a test may shift them with
// `setWallOffsetForTest`.
// Thread safety: all functions may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>

namespace gsms::clock {

// Sleep for `ms` milliseconds of gateway time (divided by the time scale).
void sleepMs(std::int64_t ms);

// Sleep for `ms` real milliseconds, whatever the time scale: for pauses that spare the CPU
// (a port that is gone) rather than time the dialogue with the modem.
void pauseRealMs(std::int64_t ms);

// Milliseconds on a monotonic clock, in gateway time (multiplied by the time scale), so
// that a time-out measured with it agrees with `sleepMs`.
std::int64_t monotonicMs();

// A steady-clock deadline `ms` milliseconds of gateway time from now.
std::chrono::steady_clock::time_point deadlineAfterMs(std::int64_t ms);

// The speed-up factor in force (1 unless GSMS_TIME_SCALE says otherwise).
double timeScale();

// Seconds since 1970-01-01 UTC (plus the test offset).
std::int64_t wallSeconds();

// Local broken-down time of now (plus the test offset).
std::tm localNow();

// Local broken-down time of a given wall time in seconds.
std::tm localTime(std::int64_t seconds);

// Tests: shift the wall clock by `seconds` (0 restores it). Not for production use.
void setWallOffsetForTest(std::int64_t seconds);

}  // namespace gsms::clock
