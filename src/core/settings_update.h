// saveSettings: after the Settings dialog has stored the operator's values in
// GatewaySettings, writes them to sections "Config" and "Modem2" of TEVRAK.INI and reports
// them in both logs. Runs on the UI thread; it only reads the record. Nothing is restarted:
// port, mode, PIN (of either modem) and the incoming flag take effect at the next start.
#pragma once

namespace gsms {

// Writes Port, Mode, RetryCount, RetryDelay, IncomingEnable, QualityPollEverySecs, Number
// and PIN (those two only when not empty), TechAlarmNbr and SleepMinAfterAlarm, then logs
// seven grey report lines. With a second modem named, also its Port, Mode and PIN (that one
// only when not empty) in section "Modem2" and one more line ("Second modem: ..."); with none
// named, section Modem2 is left alone, or its Port emptied when it named one ("Second modem:
// none"). A failed write goes unnoticed. Always returns 0.
int saveSettings();

}  // namespace gsms
