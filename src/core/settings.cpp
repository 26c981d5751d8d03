#include "core/settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/profile_file.h"
#include "platform/dir_watch.h"
#include "platform/paths.h"
#include "platform/profile_dir.h"
#include "platform/service_manager.h"

namespace gsms {
namespace {

constexpr const char* kSection = "Config";
constexpr const char* kModem2Section = "Modem2";
constexpr const char* kDefaultPort = "COM2";
constexpr const char* kDefaultMode = "96,N,8,1";
constexpr const char* kDefaultWatchPath = "\\qor\\tevrak";
constexpr const char* kDefaultDonePath = "\\qor\\tevrak\\done";
constexpr const char* kDefaultErrorPath = "\\qor\\tevrak\\error";
constexpr const char* kDefaultFileMask = "*.sms";
constexpr const char* kDefaultCmdLineFormat = "incoming.bat \"%s\" \"%s\"";
constexpr int kMissing = -9;

GatewaySettings theSettings;

// Never destroyed: the status thread reads it until the process ends.
struct GuardedText {
    std::mutex lock;
    std::string text;
};
GuardedText& metricsPath() {
    static GuardedText* path = new GuardedText;
    return *path;
}

// The integer keys, in the order in which a fresh file gets them. All but IncomingEnable are
// read by the worker threads each time they need them, so SIGHUP applies them.
struct IntKey {
    const char* key;
    int def;
    std::atomic<int> GatewaySettings::*field;
    bool startOnly;
};
constexpr IntKey kWatchTimeout{"WatchTimeout", 4, &GatewaySettings::watchTimeout, false};
constexpr IntKey kMoveJobs{"MoveJobToDoneOrErrorPath", 1, &GatewaySettings::moveJobs, false};
// Read after the folders and the PIN at start.
constexpr IntKey kLaterIntKeys[] = {
    {"RetryCount", 5, &GatewaySettings::retryCount, false},
    {"RetryDelay", 120, &GatewaySettings::retryDelay, false},
    {"CapitalizeCommands", 0, &GatewaySettings::capitalizeCommands, false},
    {"TechAlarmNbr", 8999, &GatewaySettings::techAlarmNbr, false},
    {"SleepMinAfterAlarm", 60, &GatewaySettings::sleepMinAfterAlarm, false},
    {"MaxMsgLength", 800, &GatewaySettings::maxMsgLength, false},
    {"FloodProtection", 0, &GatewaySettings::floodProtection, false},
    {"IncomingEnable", 1, &GatewaySettings::incomingEnable, true},
    {"QualityPollEverySecs", 5, &GatewaySettings::qualityPollMs, false},
    {"SmsCoding", 0, &GatewaySettings::smsCoding, false},
};

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

void logRed(const std::string& line) {
    fileLog(line);
    windowLog(nullptr, line, kColorRed);
}

// Why a folder or file cannot be used, in the words of the start-up lines.
std::string problemText(int problem) {
    if (problem == ENOENT) return " does not exist";
    if (problem == EACCES || problem == EPERM || problem == EROFS)
        return std::string(" cannot be written (") + std::strerror(problem) + ")";
    return std::string(" cannot be used (") + std::strerror(problem) + ")";
}

// Names a profile directory the settings cannot live in.
void checkProfileDirectory() {
    const int problem = profileDirProblem();
    if (problem != 0) logRed("ERROR: profile directory " + profileDir() + problemText(problem));
}

// Names, once at start, each folder and status table of pathsTheGatewayWrites() that it
// could not write, with the system's reason. Under systemd a folder outside the unit's
// ReadWritePaths= is read-only (EROFS): the drop-in that opens them is named as well.
void checkWhatIsWritten() {
    std::set<std::string> seen;
    std::string readOnly;
    for (const WrittenPath& w : pathsTheGatewayWrites()) {
        const int problem = w.kind == WrittenPath::Table ? paths::fileWriteProblem(w.path)
                            : w.kind == WrittenPath::Folder
                                ? paths::folderWriteProblem(w.path)
                                : (paths::isDirectory(w.path) ? 0 : ENOENT);
        if (problem == 0 || !seen.insert(w.path).second) continue;
        logRed("ERROR: " + w.what + " " + w.path + problemText(problem));
        if (problem == EROFS) readOnly += (readOnly.empty() ? "" : " ") + w.path;
    }
    if (!readOnly.empty() && service::runsAsService())
        logRed("ERROR: the service's sandbox keeps " + readOnly +
               " read-only: add ReadWritePaths=" + readOnly +
               " to the unit (systemctl edit gsmsd) and restart it");
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

// At most 2000 characters; a larger value is written back as 2000.
int cappedMaxMsgLength(int maxLen) {
    if (maxLen <= 2000) return maxLen;
    tevrakIni().writeString(kSection, "MaxMsgLength", "2000");
    return 2000;
}

// Kept in milliseconds; a huge value is capped so the product stays an int.
int pollMsFromSecs(int pollSecs) {
    if (pollSecs > 2000000) pollSecs = 2000000;
    if (pollSecs < 0) pollSecs = 0;
    return pollSecs * 1000;
}

// A key's value as the file gives it, in the file's unit (seconds for the poll period).
int inFileUnits(const IntKey& k, int value) {
    return k.field == &GatewaySettings::qualityPollMs ? value / 1000 : value;
}

// Reads a key (writing its default when missing) and gives the value the record holds.
int readIntKey(const IntKey& k) {
    const int value = readIntWithDefault(k.key, k.def);
    if (k.field == &GatewaySettings::maxMsgLength) return cappedMaxMsgLength(value);
    if (k.field == &GatewaySettings::qualityPollMs) return pollMsFromSecs(value);
    return value;
}

// The job folders, made when missing while jobs are moved to them.
void makeJobFolders() {
    const GatewaySettings& s = theSettings;
    for (const char* dir : {s.watchPath, s.donePath, s.errorPath})
        if (dir[0] != '\0') (void)paths::makeDirectory(paths::fromConfig(dir));
}

void readPrometheusFile() {
    const std::string value = tevrakIni().readString(kSection, "PrometheusFile", "");
    GuardedText& p = metricsPath();
    std::lock_guard lock(p.lock);
    p.text = paths::fromConfig(value);
}

// The start-only keys whose value in the file differs from the one in force.
std::string startOnlyChanges() {
    const GatewaySettings& s = theSettings;
    struct Text {
        const char* key;
        const char* def;
        const char* running;
        std::size_t capacity;
        bool emptyIsDefault;  // an empty value gets the default at start, as a missing one
    };
    const Text texts[] = {
        {"Port", kDefaultPort, s.portName, sizeof s.portName, false},
        {"Mode", kDefaultMode, s.portMode, sizeof s.portMode, false},
        {"PIN", "", s.pin, sizeof s.pin, false},
        {"WatchPath", kDefaultWatchPath, s.watchPath, sizeof s.watchPath, true},
        {"DonePath", kDefaultDonePath, s.donePath, sizeof s.donePath, true},
        {"ErrorPath", kDefaultErrorPath, s.errorPath, sizeof s.errorPath, true},
        {"FileMask", kDefaultFileMask, s.fileMask, sizeof s.fileMask, true},
        {"WatchLogPath", "", s.watchLogPath, sizeof s.watchLogPath, false},
        {"CmdLineFormat", kDefaultCmdLineFormat, s.cmdLineFormat, sizeof s.cmdLineFormat, true},
        {"Number", "", s.number, sizeof s.number, false},
    };
    std::string changed;
    auto name = [&changed](const char* key) {
        if (!changed.empty()) changed += ", ";
        changed += key;
    };
    for (const Text& t : texts) {
        std::string value = tevrakIni().readString(kSection, t.key, t.def);
        if (value.empty() && t.emptyIsDefault) value = t.def;
        // What loading would keep of it: a short field cuts, a name field refuses (empty).
        if (value.size() >= t.capacity)
            value = t.capacity == paths::kPathSize ? "" : value.substr(0, t.capacity - 1);
        if (value != t.running) name(t.key);
    }
    for (const IntKey& k : kLaterIntKeys)
        if (k.startOnly && tevrakIni().readInt(kSection, k.key, k.def) != (s.*k.field).load())
            name(k.key);
    // The second modem's keys, named with their section: not written back when missing.
    const Text modem2[] = {
        {"Port", "", s.modem2.portName, sizeof s.modem2.portName, false},
        {"Mode", s.portMode, s.modem2.portMode, sizeof s.modem2.portMode, false},
        {"PIN", "", s.modem2.pin, sizeof s.modem2.pin, false},
    };
    const bool configured = s.modem2.portName[0] != '\0';
    for (const Text& t : modem2) {
        std::string value = tevrakIni().readString(kModem2Section, t.key, t.def);
        if (value.size() >= t.capacity)
            value = t.capacity == paths::kPathSize ? "" : value.substr(0, t.capacity - 1);
        // Without a port the section's other keys are not in force, whatever they say.
        if (!configured && t.running != s.modem2.portName) continue;
        if (value != t.running) name((std::string(kModem2Section) + " " + t.key).c_str());
    }
    return changed;
}

// Section "Modem2", optional: nothing is written back, so that a file without it stays as it
// is. Its Mode defaults to the first modem's.
void readSecondModem() {
    GatewaySettings::Modem& m = theSettings.modem2;
    const std::string port = tevrakIni().readString(kModem2Section, "Port", "");
    if (port.size() >= sizeof m.portName) {
        logRed("ERROR: Modem2 Port is too long (" + std::to_string(port.size()) +
               " characters, at most " + std::to_string(sizeof m.portName - 1) + "): not used");
        m.portName[0] = '\0';
        return;
    }
    std::memcpy(m.portName, port.c_str(), port.size() + 1);
    tevrakIni().readString(kModem2Section, "Mode", theSettings.portMode, sizeof m.portMode,
                           m.portMode);
    tevrakIni().readString(kModem2Section, "PIN", "", sizeof m.pin, m.pin);
}

}  // namespace

GatewaySettings& settings() { return theSettings; }

bool secondModemConfigured() { return theSettings.modem2.portName[0] != '\0'; }

std::vector<WrittenPath> pathsTheGatewayWrites() {
    const GatewaySettings& s = theSettings;
    std::vector<WrittenPath> out;
    auto folder = [&out](const char* key, const char* value, WrittenPath::Kind kind) {
        if (value[0] != '\0') out.push_back({key, paths::fromConfig(value), kind});
    };
    const bool move = s.moveJobs.load() == 1;
    // A job file stays in the watch folder only when there is nowhere to move it.
    if (move || s.watchLogPath[0] != '\0') folder("WatchPath", s.watchPath, WrittenPath::Folder);
    if (move) {
        folder("DonePath", s.donePath, WrittenPath::Folder);
        folder("ErrorPath", s.errorPath, WrittenPath::Folder);
    }
    folder("WatchLogPath", s.watchLogPath, move ? WrittenPath::TableFolder : WrittenPath::Folder);
    if (s.watchLogPath[0] != '\0') {
        const std::string dir = paths::fromConfig(s.watchLogPath);
        std::vector<DirEntry> entries;
        if (listFolder(dir, "*.dbf", entries))
            for (const DirEntry& e : entries)
                if (e.matches)
                    out.push_back({"status table", paths::join(dir, e.name), WrittenPath::Table});
    }
    return out;
}

std::string prometheusFile() {
    GuardedText& p = metricsPath();
    std::lock_guard lock(p.lock);
    return p.text;
}

std::vector<std::string> reloadSettings(const char* trigger) {
    GatewaySettings& s = theSettings;
    std::string changes;
    std::vector<IntKey> keys{kWatchTimeout, kMoveJobs};
    for (const IntKey& k : kLaterIntKeys)
        if (!k.startOnly) keys.push_back(k);
    for (const IntKey& k : keys) {
        const int value = readIntKey(k);
        const int old = (s.*k.field).exchange(value);
        if (old == value) continue;
        if (!changes.empty()) changes += ", ";
        changes += std::string(k.key) + " " + std::to_string(inFileUnits(k, old)) + " -> " +
                   std::to_string(inFileUnits(k, value));
    }
    if (s.moveJobs.load() == 1) makeJobFolders();
    const std::string oldMetrics = prometheusFile();
    readPrometheusFile();
    const std::string newMetrics = prometheusFile();
    if (newMetrics != oldMetrics) {
        if (!changes.empty()) changes += ", ";
        changes += "PrometheusFile " + (oldMetrics.empty() ? std::string("(none)") : oldMetrics) +
                   " -> " + (newMetrics.empty() ? std::string("(none)") : newMetrics);
    }
    const std::string head = std::string("Settings re-read on ") + trigger + ": ";
    std::vector<std::string> lines;
    const std::string later = startOnlyChanges();
    // "no change" only when the file holds none at all, not beside a key for the next start.
    if (!changes.empty() || later.empty())
        lines.push_back(head + (changes.empty() ? "no change" : changes));
    if (!later.empty())
        lines.push_back(head + later +
                        " changed in TEVRAK.INI, in force at the next start");
    return lines;
}

int loadConfiguration() {
    GatewaySettings& s = theSettings;
    checkProfileDirectory();
    readName("Port", kDefaultPort, s.portName);
    readText("Mode", kDefaultMode, s.portMode);

    int watchTimeout = tevrakIni().readInt(kSection, "WatchTimeout", kMissing);
    int moveJobs = tevrakIni().readInt(kSection, "MoveJobToDoneOrErrorPath", kMissing);
    const bool watchLogPathKept = readName("WatchLogPath", "", s.watchLogPath);
    auto orDefault = [](int& value, const IntKey& k) {
        if (value != kMissing) return;
        tevrakIni().writeString(kSection, k.key, std::to_string(k.def).c_str());
        value = k.def;
    };
    orDefault(watchTimeout, kWatchTimeout);
    orDefault(moveJobs, kMoveJobs);
    s.watchTimeout = watchTimeout;
    s.moveJobs = moveJobs;

    // The watcher needs a watch directory and a mask whatever the move flag says; only the
    // directories are left alone when files are not moved.
    readNameWithDefault("WatchPath", kDefaultWatchPath, s.watchPath);
    readNameWithDefault("DonePath", kDefaultDonePath, s.donePath);
    readNameWithDefault("ErrorPath", kDefaultErrorPath, s.errorPath);
    readNameWithDefault("FileMask", kDefaultFileMask, s.fileMask);
    if (moveJobs == 1) makeJobFolders();

    if (s.watchLogPath[0] == '\0' && watchLogPathKept)
        tevrakIni().writeString(kSection, "WatchLogPath", "");

    readNameWithDefault("CmdLineFormat", kDefaultCmdLineFormat, s.cmdLineFormat);
    readText("PIN", "", s.pin);

    for (const IntKey& k : kLaterIntKeys) (s.*k.field).store(readIntKey(k));

    // The phone number is kept across restarts.
    readText("Number", "", s.number);
    readSecondModem();
    readPrometheusFile();
    checkWhatIsWritten();
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
    s.modem2 = {};
    for (auto* v : {&s.watchTimeout, &s.moveJobs, &s.retryCount, &s.retryDelay,
                    &s.capitalizeCommands, &s.techAlarmNbr, &s.sleepMinAfterAlarm,
                    &s.maxMsgLength, &s.floodProtection, &s.incomingEnable, &s.qualityPollMs,
                    &s.smsCoding})
        v->store(0);
}

}  // namespace gsms
