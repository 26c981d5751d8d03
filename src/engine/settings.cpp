#include "engine/settings.h"

#include <cstdio>
#include <cstring>

#include "engine/profile_file.h"
#include "platform/paths.h"

namespace gsms {
namespace {

constexpr const char* kSection = "Config";
constexpr int kMissing = -9;

GatewaySettings theSettings;

template <std::size_t N>
void readText(const char* key, const char* def, char (&out)[N]) {
    tevrakIni().readString(kSection, key, def, N, out);
}

// Reads a text key; when empty, writes its default and reads it again.
template <std::size_t N>
void readTextWithDefault(const char* key, const char* def, char (&out)[N]) {
    readText(key, "", out);
    if (out[0] == '\0') {
        tevrakIni().writeString(kSection, key, def);
        readText(key, "", out);
        // An unwritable file still gives the default in memory.
        if (out[0] == '\0') std::snprintf(out, N, "%s", def);
    }
}

int readIntWithDefault(const char* key, int def) {
    int v = tevrakIni().readInt(kSection, key, kMissing);
    if (v == kMissing) {
        char text[16];
        std::snprintf(text, sizeof text, "%d", def);
        tevrakIni().writeString(kSection, key, text);
        v = def;
    }
    return v;
}

}  // namespace

GatewaySettings& settings() { return theSettings; }

int loadConfiguration() {
    GatewaySettings& s = theSettings;
    readText("Port", "COM2", s.portName);
    readText("Mode", "96,N,8,1", s.portMode);

    int watchTimeout = tevrakIni().readInt(kSection, "WatchTimeout", kMissing);
    int moveJobs = tevrakIni().readInt(kSection, "MoveJobToDoneOrErrorPath", kMissing);
    readText("WatchLogPath", "", s.watchLogPath);
    if (watchTimeout == kMissing) {
        tevrakIni().writeString(kSection, "WatchTimeout", "4");
        watchTimeout = 4;
    }
    if (moveJobs == kMissing) {
        tevrakIni().writeString(kSection, "MoveJobToDoneOrErrorPath", "1");
        moveJobs = 1;
    }
    s.watchTimeout = watchTimeout;
    s.moveJobs = moveJobs;

    // The watcher needs a watch directory and a mask whatever the move flag says; only the
    // directories are left alone when files are not moved.
    readTextWithDefault("WatchPath", "\\qor\\tevrak", s.watchPath);
    readTextWithDefault("DonePath", "\\qor\\tevrak\\done", s.donePath);
    readTextWithDefault("ErrorPath", "\\qor\\tevrak\\error", s.errorPath);
    readTextWithDefault("FileMask", "*.sms", s.fileMask);
    if (moveJobs == 1) {
        for (const char* dir : {s.watchPath, s.donePath, s.errorPath})
            (void)paths::makeDirectory(paths::fromConfig(dir));
    }

    if (s.watchLogPath[0] == '\0') tevrakIni().writeString(kSection, "WatchLogPath", "");

    readTextWithDefault("CmdLineFormat", "incoming.bat \"%s\" \"%s\"", s.cmdLineFormat);
    readText("PIN", "", s.pin);

    s.retryCount = readIntWithDefault("RetryCount", 5);
    s.retryDelay = readIntWithDefault("RetryDelay", 120);
    s.capitalizeCommands = readIntWithDefault("CapitalizeCommands", 0);
    s.techAlarmNbr = readIntWithDefault("TechAlarmNbr", 8999);
    s.sleepMinAfterAlarm = readIntWithDefault("SleepMinAfterAlarm", 60);
    int maxLen = readIntWithDefault("MaxMsgLength", 800);
    s.floodProtection = readIntWithDefault("FloodProtection", 0);
    s.incomingEnable = readIntWithDefault("IncomingEnable", 1);
    int pollSecs = readIntWithDefault("QualityPollEverySecs", 5);

    if (maxLen > 2000) {
        maxLen = 2000;
        tevrakIni().writeString(kSection, "MaxMsgLength", "2000");
    }
    s.maxMsgLength = maxLen;
    // Kept in milliseconds; a huge value is capped so the product stays an int.
    if (pollSecs > 2000000) pollSecs = 2000000;
    if (pollSecs < 0) pollSecs = 0;
    s.qualityPollMs = pollSecs * 1000;

    // The phone number is kept across restarts.
    readText("Number", "", s.number);
    return 0;
}

void resetSettingsForTest() {
    GatewaySettings& s = theSettings;
    for (char* t : {s.portName, s.portMode}) std::memset(t, 0, 64);
    for (char* t : {s.watchLogPath, s.watchPath, s.donePath, s.errorPath, s.fileMask,
                    s.cmdLineFormat})
        std::memset(t, 0, 260);
    std::memset(s.pin, 0, sizeof s.pin);
    std::memset(s.number, 0, sizeof s.number);
    for (auto* v : {&s.watchTimeout, &s.moveJobs, &s.retryCount, &s.retryDelay,
                    &s.capitalizeCommands, &s.techAlarmNbr, &s.sleepMinAfterAlarm,
                    &s.maxMsgLength, &s.floodProtection, &s.incomingEnable, &s.qualityPollMs})
        v->store(0);
}

}  // namespace gsms
