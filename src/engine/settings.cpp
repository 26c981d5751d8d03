#include "engine/settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/log.h"
#include "engine/profile_file.h"
#include "platform/paths.h"
#include "platform/profile_dir.h"

namespace gsms {
namespace {

constexpr const char* kSection = "Config";
constexpr int kMissing = -9;

GatewaySettings theSettings;

template <std::size_t N>
void readText(const char* key, const char* def, char (&out)[N]) {
    tevrakIni().readString(kSection, key, def, N, out);
}

// A device or folder name: read whole, or refused when it does not fit (a cut name would
// name another file). False when refused; the field is then empty.
template <std::size_t N>
bool readName(const char* key, const char* def, char (&out)[N]) {
    const std::string value = tevrakIni().readString(kSection, key, def);
    if (value.size() < N) {
        std::memcpy(out, value.c_str(), value.size() + 1);
        return true;
    }
    out[0] = '\0';
    char line[160];
    std::snprintf(line, sizeof line,
                  "ERROR: %s is too long (%zu characters, at most %zu): not used", key,
                  value.size(), N - 1);
    fileLog(line);
    windowLog(nullptr, line, kColorRed);
    return false;
}

// Reads a name; when empty, writes its default and reads it again. A refused name is left
// empty and the file keeps it.
template <std::size_t N>
void readNameWithDefault(const char* key, const char* def, char (&out)[N]) {
    if (!readName(key, "", out) || out[0] != '\0') return;
    tevrakIni().writeString(kSection, key, def);
    readName(key, "", out);
    // An unwritable file still gives the default in memory.
    if (out[0] == '\0') std::snprintf(out, N, "%s", def);
}

// Names a profile directory the settings cannot live in.
void checkProfileDirectory() {
    const std::string dir = profileDir();
    const int problem = profileDirProblem();
    if (problem == 0) return;
    std::string line = "ERROR: profile directory " + dir;
    if (problem == ENOENT) line += " does not exist";
    else if (problem == EACCES || problem == EPERM || problem == EROFS)
        line += std::string(" cannot be written (") + std::strerror(problem) + ")";
    else line += std::string(" cannot be used (") + std::strerror(problem) + ")";
    fileLog(line);
    windowLog(nullptr, line, kColorRed);
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
    checkProfileDirectory();
    readName("Port", "COM2", s.portName);
    readText("Mode", "96,N,8,1", s.portMode);

    int watchTimeout = tevrakIni().readInt(kSection, "WatchTimeout", kMissing);
    int moveJobs = tevrakIni().readInt(kSection, "MoveJobToDoneOrErrorPath", kMissing);
    const bool watchLogPathKept = readName("WatchLogPath", "", s.watchLogPath);
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
    readNameWithDefault("WatchPath", "\\qor\\tevrak", s.watchPath);
    readNameWithDefault("DonePath", "\\qor\\tevrak\\done", s.donePath);
    readNameWithDefault("ErrorPath", "\\qor\\tevrak\\error", s.errorPath);
    readNameWithDefault("FileMask", "*.sms", s.fileMask);
    if (moveJobs == 1) {
        for (const char* dir : {s.watchPath, s.donePath, s.errorPath})
            if (dir[0] != '\0') (void)paths::makeDirectory(paths::fromConfig(dir));
    }

    if (s.watchLogPath[0] == '\0' && watchLogPathKept)
        tevrakIni().writeString(kSection, "WatchLogPath", "");

    readNameWithDefault("CmdLineFormat", "incoming.bat \"%s\" \"%s\"", s.cmdLineFormat);
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
    std::memset(s.portMode, 0, sizeof s.portMode);
    for (char* t : {s.portName, s.watchLogPath, s.watchPath, s.donePath, s.errorPath,
                    s.fileMask, s.cmdLineFormat})
        std::memset(t, 0, paths::kPathSize);
    std::memset(s.pin, 0, sizeof s.pin);
    std::memset(s.number, 0, sizeof s.number);
    for (auto* v : {&s.watchTimeout, &s.moveJobs, &s.retryCount, &s.retryDelay,
                    &s.capitalizeCommands, &s.techAlarmNbr, &s.sleepMinAfterAlarm,
                    &s.maxMsgLength, &s.floodProtection, &s.incomingEnable, &s.qualityPollMs})
        v->store(0);
}

}  // namespace gsms
