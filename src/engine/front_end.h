// What the two front ends (the window gsms and the service gsmsd) share: their command line
// and, for gsmsd, the console receiver of the notification link.
#pragma once

#include <cstdio>
#include <string>

namespace gsms {

struct FrontEndOptions {
    bool run = true;     // false: exit at once with exitCode (help, version, bad argument)
    int exitCode = 0;
};

// Parses [--profile-dir DIR] [--help] [--version]; applies --profile-dir. Help and version
// texts go to standard output, errors to standard error.
FrontEndOptions parseFrontEndOptions(int argc, char** argv, const char* program,
                                     const char* summary);

// The version line printed by --version.
std::string versionText(const char* program);

// The text shown once when the signal falls below 12 and the one shown when it is back.
extern const char* const kLowSignalText;
std::string signalBackText(int quality);

// Registers a receiver that writes every window log line to `out` from a thread of its own
// (coloured with ANSI escapes when colours is true) and reports signal changes across 12.
void startConsoleReceiver(std::FILE* out, bool colours);
// Writes every line still queued; called before the process ends.
void drainConsole();

}  // namespace gsms
