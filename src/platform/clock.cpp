#include "platform/clock.h"

#include <atomic>
#include <cstdlib>
#include <thread>

namespace gsms::clock {
namespace {

double readScale() {
    const char* env = std::getenv("GSMS_TIME_SCALE");
    if (env == nullptr || *env == '\0') return 1.0;
    char* end = nullptr;
    double v = std::strtod(env, &end);
    return (end != env && v >= 1.0 && v <= 1000.0) ? v : 1.0;
}

std::atomic<std::int64_t> wallOffset{0};

}  // namespace

double timeScale() {
    static const double scale = readScale();
    return scale;
}

void sleepMs(std::int64_t ms) {
    if (ms <= 0) {
        std::this_thread::yield();
        return;
    }
    auto us = static_cast<std::int64_t>(static_cast<double>(ms) * 1000.0 / timeScale());
    std::this_thread::sleep_for(std::chrono::microseconds(us > 0 ? us : 1));
}

void pauseRealMs(std::int64_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms > 0 ? ms : 0));
}

std::int64_t monotonicMs() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    return static_cast<std::int64_t>(static_cast<double>(us) * timeScale() / 1000.0);
}

std::chrono::steady_clock::time_point deadlineAfterMs(std::int64_t ms) {
    auto us = static_cast<std::int64_t>(static_cast<double>(ms) * 1000.0 / timeScale());
    return std::chrono::steady_clock::now() + std::chrono::microseconds(us);
}

std::int64_t wallSeconds() {
    return static_cast<std::int64_t>(std::time(nullptr)) + wallOffset.load();
}

std::tm localTime(std::int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm out{};
    localtime_r(&t, &out);
    return out;
}

std::tm localNow() { return localTime(wallSeconds()); }

void setWallOffsetForTest(std::int64_t seconds) { wallOffset.store(seconds); }

}  // namespace gsms::clock
