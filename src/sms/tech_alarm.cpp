#include "sms/tech_alarm.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "core/log.h"
#include "core/profile_file.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "platform/process_runner.h"

namespace gsms {
namespace {

constexpr const char* kScript = "plasto.cmd";

std::mutex alarmLock;
std::optional<std::int64_t> raisedAtMs;  // monotonic time of this run's alarm
ChildGroup scripts;

// True when the stamp of an earlier run's alarm still keeps this one quiet.
bool stampKeepsQuiet(std::int64_t nowSeconds, std::int64_t quietSeconds) {
    char last[40];
    tevrakIni().readString("WatchDog", "LastAlarm", "", sizeof last, last);
    if (std::strlen(last) != 8) return false;
    const auto stamp = static_cast<std::int64_t>(std::strtoul(last, nullptr, 16));
    const std::int64_t since = nowSeconds - stamp;
    return since >= 0 && since < quietSeconds;
}

}  // namespace

void raiseTechAlarm() { raiseTechAlarm({clock::wallSeconds(), clock::monotonicMs()}); }

void raiseTechAlarm(const TechAlarmTime& now) {
    std::lock_guard lock(alarmLock);
    const std::int64_t quietSeconds =
        static_cast<std::int64_t>(settings().sleepMinAfterAlarm.load()) * 60;
    if (raisedAtMs ? now.monotonicMs - *raisedAtMs < quietSeconds * 1000
                   : stampKeepsQuiet(now.wallSeconds, quietSeconds))
        return;

    const int number = settings().techAlarmNbr.load();
    char command[64];
    std::snprintf(command, sizeof command, "%s %d", kScript, number);
    ProcessRunner runner(command);
    if (runner.start(true, true) != 1) {
        const std::string line = "ERROR: tech alarm " + std::to_string(number) +
                                 " not raised: cannot start " + kScript + " (" +
                                 std::strerror(runner.startError()) + ")";
        fileLog(line);
        windowLog(nullptr, line, kColorRed);
        return;
    }
    // The outcome is not looked at: the alarm is fire-and-forget.
    (void)runner.detach(&scripts);
    raisedAtMs = now.monotonicMs;
    char stampText[16];
    std::snprintf(stampText, sizeof stampText, "%08X", static_cast<unsigned>(now.wallSeconds));
    tevrakIni().writeString("WatchDog", "LastAlarm", stampText);
}

bool waitForTechAlarmScripts(std::int64_t limitMs) {
    const std::int64_t deadline = clock::monotonicMs() + limitMs;
    while (scripts.running() > 0) {
        if (clock::monotonicMs() >= deadline) return false;
        clock::sleepMs(20);
    }
    return true;
}

void resetTechAlarmForTest() {
    std::lock_guard lock(alarmLock);
    raisedAtMs.reset();
}

}  // namespace gsms
