#include "sms/tech_alarm.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/profile_file.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "platform/process_runner.h"

namespace gsms {

void raiseTechAlarm() {
    const std::int64_t now = clock::wallSeconds();
    char last[40];
    tevrakIni().readString("WatchDog", "LastAlarm", "", sizeof last, last);
    if (std::strlen(last) == 8) {
        // Signed: a stamp in the future (clock set back) also keeps the alarm quiet.
        auto stamp = static_cast<std::int64_t>(std::strtoul(last, nullptr, 16));
        if (now - stamp < static_cast<std::int64_t>(settings().sleepMinAfterAlarm.load()) * 60)
            return;
    }
    char stampText[16];
    std::snprintf(stampText, sizeof stampText, "%08X", static_cast<unsigned>(now));
    tevrakIni().writeString("WatchDog", "LastAlarm", stampText);

    char command[64];
    std::snprintf(command, sizeof command, "plasto.cmd %d", settings().techAlarmNbr.load());
    ProcessRunner runner(command);
    // Neither the start nor the outcome is looked at: the alarm is fire-and-forget.
    (void)runner.start(true, true);
    (void)runner.detach();
}

}  // namespace gsms
