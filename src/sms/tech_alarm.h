// The tech-alarm watchdog: runs "plasto.cmd <TechAlarmNbr>" at most once per quiet period
// ("SleepMinAfterAlarm" minutes), the time of the last alarm kept in section "WatchDog",
// key "LastAlarm" of TEVRAK.INI so that the limit holds across restarts.
// Called by the engine start-up and the signal supervision shortly before the process ends.
#pragma once

namespace gsms {

void raiseTechAlarm();

}  // namespace gsms
