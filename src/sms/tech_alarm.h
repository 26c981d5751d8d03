// The tech-alarm watchdog: runs "plasto.cmd <TechAlarmNbr>" at most once per quiet period
// ("SleepMinAfterAlarm" minutes), the time of the last alarm kept in section "WatchDog",
// key "LastAlarm" of TEVRAK.INI so that the limit holds across restarts.
//
// Within one run the quiet period is measured on the monotonic clock, so that a wall clock
// set back or forward changes nothing; at the first alarm of a run the stamp decides, and a
// stamp in the future (a clock that ran ahead and was set right) counts as no earlier alarm.
// A script that cannot be started is named in red ("ERROR: tech alarm <n> not raised: cannot
// start plasto.cmd (<reason>)") and stamps nothing, so that the next attempt tries again.
// Called by the engine start-up and the signal supervision shortly before the process ends,
// from any thread (one alarm at a time).
//
// With two modems each path has its quiet period: a second path lost in the quiet time of the
// first still raises the alarm. The second modem's stamp is key "LastAlarm2"; the first
// modem's and the process's (every path down) is "LastAlarm", as with one modem.
#pragma once

#include <cstdint>

namespace gsms {

// The clocks the quiet period is judged by.
struct TechAlarmTime {
    std::int64_t wallSeconds = 0;  // the stamp kept across restarts
    std::int64_t monotonicMs = 0;  // within this run
};

void raiseTechAlarm();
void raiseTechAlarm(const TechAlarmTime& now);
// For the path of modem 1 or 2 (1 is the same as the process's own).
void raiseTechAlarm(int path);
void raiseTechAlarm(int path, const TechAlarmTime& now);

// Waits up to limitMs (gateway time) for the scripts started here to end. True when none
// runs any more. A service manager ends what a stopped service left running, so the engine
// waits for the script before it ends the process there.
bool waitForTechAlarmScripts(std::int64_t limitMs);

// Forgets the alarm raised in this run (tests).
void resetTechAlarmForTest();

}  // namespace gsms
