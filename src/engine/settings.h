// GatewaySettings: the process-wide settings record from section "Config" of TEVRAK.INI.
//
// loadConfiguration() fills it once on the engine thread before any worker exists. Later the
// UI thread (settings dialog) may change fields while workers read them: the integer fields
// are atomics; the text fields the dialog changes (port, mode, PIN, number) are read by
// workers only at start-up.
#pragma once

#include <atomic>
#include <cstddef>

namespace gsms {

struct GatewaySettings {
    char portName[64] = {};
    char portMode[64] = {};
    std::atomic<int> watchTimeout{0};
    std::atomic<int> moveJobs{0};
    char watchLogPath[260] = {};
    char watchPath[260] = {};
    char donePath[260] = {};
    char errorPath[260] = {};
    char fileMask[260] = {};
    char cmdLineFormat[260] = {};
    char pin[10] = {};
    std::atomic<int> retryCount{0};
    std::atomic<int> retryDelay{0};
    std::atomic<int> capitalizeCommands{0};
    std::atomic<int> techAlarmNbr{0};
    std::atomic<int> sleepMinAfterAlarm{0};
    std::atomic<int> maxMsgLength{0};
    std::atomic<int> floodProtection{0};
    std::atomic<int> incomingEnable{0};
    std::atomic<int> qualityPollMs{0};  // held in milliseconds
    char number[128] = {};
};

GatewaySettings& settings();

// Always succeeds (returns 0). Missing keys are written back with their defaults.
int loadConfiguration();

// Zeroes the record (tests).
void resetSettingsForTest();

}  // namespace gsms
