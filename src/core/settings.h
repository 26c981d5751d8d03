// GatewaySettings: the process-wide settings record from section "Config" of TEVRAK.INI.
//
// loadConfiguration() fills it once on the engine thread before any worker exists. Later the
// UI thread (settings dialog) may change fields while workers read them: the integer fields
// are atomics; the text fields the dialog changes (port, mode, PIN, number) are read by
// workers only at start-up.
//
// The device and folder names, the job file mask and the incoming command format hold as
// much as the system allows in a path (paths::kPathSize). A longer value is never cut into
// another name: it is refused with "ERROR: <key> is too long (<n> characters, at most <m>):
// not used" in both logs (red in the window), its field stays empty and the file keeps it.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace gsms {

struct GatewaySettings {
    char portName[paths::kPathSize] = {};
    char portMode[64] = {};
    std::atomic<int> watchTimeout{0};
    std::atomic<int> moveJobs{0};
    char watchLogPath[paths::kPathSize] = {};
    char watchPath[paths::kPathSize] = {};
    char donePath[paths::kPathSize] = {};
    char errorPath[paths::kPathSize] = {};
    char fileMask[paths::kPathSize] = {};
    char cmdLineFormat[paths::kPathSize] = {};
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
    // "SmsCoding": 1 sends in PDU mode (GSM 7-bit or UCS-2, long texts concatenated); any
    // other value in text mode, as the gateway always has (sms/sms_coding.h).
    std::atomic<int> smsCoding{0};
    char number[128] = {};
    // Section "Modem2": a second modem on a network of its own, an alternative path. Its
    // port name empty: there is none, and the gateway drives the one modem of "Config".
    struct Modem {
        char portName[paths::kPathSize] = {};
        char portMode[64] = {};
        char pin[10] = {};
    } modem2;
};

GatewaySettings& settings();

// True when section "Modem2" names a port: the gateway drives two modems.
[[nodiscard]] bool secondModemConfigured();

// Always succeeds (returns 0). Missing keys are written back with their defaults. A profile
// directory that does not exist or cannot be written is named first, in red; after the load
// each path of pathsTheGatewayWrites() that cannot be written is named, in red, with the
// system's reason ("ERROR: DonePath <dir> cannot be written (Read-only file system)"), and
// under systemd the ReadWritePaths= that a drop-in must add.
int loadConfiguration();

// What the gateway writes besides its profile directory, as the settings in force name it:
// the folders job files leave and enter, the folder of the status tables and the tables in
// it (written in place, row by row).
struct WrittenPath {
    enum Kind {
        Folder,       // files are created in it and removed from it
        TableFolder,  // holds the status tables: must exist
        Table,        // an existing file written in place
    };
    std::string what;  // the key ("DonePath"), or "status table"
    std::string path;
    Kind kind;
};
[[nodiscard]] std::vector<WrittenPath> pathsTheGatewayWrites();

// "PrometheusFile": the file that gets the status in the Prometheus text format (for
// node_exporter's textfile collector); empty: none. Not written back when missing. Read at
// start and on SIGHUP, read by the status thread: kept behind a lock of its own, hence a copy.
[[nodiscard]] std::string prometheusFile();

// SIGHUP: reads again the keys that the worker threads read each time they use them (every
// integer key but IncomingEnable, and PrometheusFile), applies them and writes missing ones
// back as at start. Returns the lines that report it: the keys that changed, with old and
// new value, and the keys of the file that differ from what runs but apply only at the next
// start (Port, Mode, PIN and those of Modem2, the folders, FileMask, CmdLineFormat,
// IncomingEnable, Number), each "Settings re-read on <trigger>: ..." (on Windows the trigger
// is "gsmsd --reload"); "...: no change" when the file differs in nothing.
// Called after loadConfiguration, from one thread at a time.
[[nodiscard]] std::vector<std::string> reloadSettings(const char* trigger = "SIGHUP");

// Zeroes the record (tests).
void resetSettingsForTest();

}  // namespace gsms
