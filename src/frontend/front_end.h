// What the two front ends (the window gsms and the service gsmsd) share: their command line
// and, for gsmsd and gsms-config, the console receiver of the notification link.
//
// The console receiver writes on a thread of its own and holds no lock while it writes: a
// standard output that blocks (a full pipe nobody reads) holds up that thread only. The
// engine never waits for it: window lines that find LogQueue full are dropped and counted
// (core/log.h), and the receiver says how many once it can write again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace gsms {

struct FrontEndOptions {
    bool run = true;     // false: exit at once with exitCode (help, version, bad argument)
    int exitCode = 0;
    bool status = false;  // --status (gsmsd): print the status file and exit
    bool reload = false;  // --reload (gsmsd on Windows): ask the running gsmsd to reload
    bool installService = false;  // --install-service (gsmsd on Windows)
    bool removeService = false;   // --remove-service (gsmsd on Windows)
};

enum class FrontEnd { Window, Service };

// Parses [--profile-dir DIR] [--help] [--version], and [--status] (on Windows also [--reload],
// [--install-service] and [--remove-service]) for the service; applies --profile-dir. Help and
// version texts go to standard output, errors to standard error.
FrontEndOptions parseFrontEndOptions(int argc, char** argv, const char* program,
                                     const char* summary, FrontEnd frontEnd);

// The version line printed by --version: "<program> (Velkora GSM/SMS) <version>".
std::string versionText(const char* program);

// The text shown once when the signal falls below 12 and the one shown when it is back.
extern const char* const kLowSignalText;
std::string signalBackText(int quality);

enum class ConsoleStyle {
    Plain,
    Colours,  // a terminal: ANSI colours
    Journal,  // systemd's journal: each line starts with its syslog priority, "<3>" for red
              // lines and other failures, "<4>" for warnings, "<6>" for the others, and
              // goes without the date and time (the journal has its own)
};
// The style for this descriptor: Journal when $JOURNAL_STREAM names it (device:inode), Colours
// on a terminal, else Plain.
[[nodiscard]] ConsoleStyle consoleStyleFor(int fd);

// Registers a receiver that writes every window log line to `out` in the given style from a
// thread of its own and reports signal changes across 12 (the warning of low signal goes to
// the system's event log too, platform/event_log.h). out nullptr: the lines are taken and
// shown nowhere (a Windows service has no console). May be called again to switch the
// stream; the thread is started once.
void startConsoleReceiver(std::FILE* out, ConsoleStyle style);
// Has the receiver write every line still queued and waits at most limitMs (real time) for
// it. Returns the number of window lines not shown on the console since start (dropped
// while it could not write, and still waiting when the time ran out), so that the caller can
// say so where it still can.
unsigned drainConsole(std::int64_t limitMs = 1000);

}  // namespace gsms
