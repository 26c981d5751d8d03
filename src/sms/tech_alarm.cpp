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
// Monotonic time of this run's alarm, per path: [0] the first modem's and the process's, [1]
// the second modem's.
std::optional<std::int64_t> raisedAtMs[2];
constexpr const char* kStampKey[2] = {"LastAlarm", "LastAlarm2"};
ChildGroup scripts;

int pathIndex(int path) { return path == 2 ? 1 : 0; }

// True when the stamp of an earlier run's alarm still keeps this one quiet.
bool stampKeepsQuiet(int index, std::int64_t nowSeconds, std::int64_t quietSeconds) {
    char last[40];
    tevrakIni().readString("WatchDog", kStampKey[index], "", sizeof last, last);
    if (std::strlen(last) != 8) return false;
    const auto stamp = static_cast<std::int64_t>(std::strtoul(last, nullptr, 16));
    const std::int64_t since = nowSeconds - stamp;
    return since >= 0 && since < quietSeconds;
}

}  // namespace

void raiseTechAlarm() { raiseTechAlarm(1); }
void raiseTechAlarm(const TechAlarmTime& now) { raiseTechAlarm(1, now); }
void raiseTechAlarm(int path) {
    raiseTechAlarm(path, {clock::wallSeconds(), clock::monotonicMs()});
}

void raiseTechAlarm(int path, const TechAlarmTime& now) {
    std::lock_guard lock(alarmLock);
    const int index = pathIndex(path);
    std::optional<std::int64_t>& raisedAt = raisedAtMs[index];
    const std::int64_t quietSeconds =
        static_cast<std::int64_t>(settings().sleepMinAfterAlarm.load()) * 60;
    if (raisedAt ? now.monotonicMs - *raisedAt < quietSeconds * 1000
                 : stampKeepsQuiet(index, now.wallSeconds, quietSeconds))
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
    raisedAt = now.monotonicMs;
    char stampText[16];
    std::snprintf(stampText, sizeof stampText, "%08X", static_cast<unsigned>(now.wallSeconds));
    tevrakIni().writeString("WatchDog", kStampKey[index], stampText);
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
    for (auto& raisedAt : raisedAtMs) raisedAt.reset();
}

}  // namespace gsms
