// saveSettings: after the Settings dialog has stored the operator's values in
// GatewaySettings, writes them to section "Config" of TEVRAK.INI and reports them in both
// logs. Runs on the UI thread; it only reads the record. Nothing is restarted: port, mode,
// PIN and the incoming flag take effect at the next start.
#pragma once

namespace gsms {

// Writes Port, Mode, RetryCount, RetryDelay, IncomingEnable, QualityPollEverySecs, Number
// and PIN (those two only when not empty), TechAlarmNbr and SleepMinAfterAlarm, then logs
// seven grey report lines. A failed write goes unnoticed. Always returns 0.
int saveSettings();

}  // namespace gsms
