// How the process ends: its exit codes and the one way out that every layer may take.
#pragma once

namespace gsms {

// Exit codes of the process (listed by --help and in the README; the systemd unit restarts
// after kExitRestart and not after kExitSimLocked).
constexpr int kExitStopped = 0;       // SIGTERM or SIGINT (gsmsd), the window closed (gsms)
constexpr int kExitRestart = 1;       // fatal start-up failure, lasting signal or port loss
constexpr int kExitBadArguments = 2;  // unknown command-line argument
// The SIM is locked or refused the PIN: only a person can help, and each start would spend
// one of the SIM's tries. 6 is the LSB code for "program is not configured".
constexpr int kExitSimLocked = 6;

// Ends the process at once with this exit code, from any thread. Log files are opened and
// closed per line, so nothing is pending; the serial port's terminal is given back,
// standard output is flushed first, and a service manager is told
// (platform/service_manager.h: after kExitRestart it is to start the process again).
[[noreturn]] void endProcess(int code);

// What the front end still has to get out before the process ends (the console's last lines,
// the last status): run once by endProcess, on the thread that ends the process; it must
// not wait long. nullptr: nothing. Set once at start.
void setLastWords(void (*lastWords)());

}  // namespace gsms
