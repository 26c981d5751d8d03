// Engine start-up: startEngine creates the engine thread init_gsms, which loads the settings,
// opens the modem port, starts the reader, brings the modem into service and then starts the
// worker threads. There is no orderly shutdown: a fatal start-up failure ends the process with
// exit code 1 after a pause, so that a supervisor restarts it.
#pragma once

namespace gsms {

// Exit codes of the process (listed by --help and in the README; the systemd unit restarts
// after kExitRestart and not after kExitSimLocked).
constexpr int kExitStopped = 0;       // SIGTERM or SIGINT (gsmsd), the window closed (gsms)
constexpr int kExitRestart = 1;       // fatal start-up failure or lasting signal loss
constexpr int kExitBadArguments = 2;  // unknown command-line argument
// The SIM is locked or refused the PIN: only a person can help, and each start would spend
// one of the SIM's tries. 6 is the LSB code for "program is not configured".
constexpr int kExitSimLocked = 6;

// Creates the engine thread and returns 0 at once (-1 when no thread could be made).
// Called once per process.
int startEngine();

// The engine thread's routine.
void init_gsms();

// True once the engine has published its port, locks and events; the dialogs' modem actions
// are refused before that.
bool engineReady();

// Ends the process at once with this exit code, from any thread. Log files are opened and
// closed per line, so nothing is pending; standard output is flushed first.
[[noreturn]] void endProcess(int code);

}  // namespace gsms
