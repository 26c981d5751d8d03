// The requests a service process receives from outside, taken one at a time by the main
// thread, and the processes it can see. On POSIX the requests are signals, blocked in every
// thread and taken with sigtimedwait, so that no handler ever interrupts the engine's work.
// On Windows (process_signals_win32.cpp) the console's handler queues Ctrl+C, Ctrl+Break, the
// console closing and shutdown as a stop, the service manager's controls come as a stop or a
// reload, and `gsmsd --reload` sets a named event of the process; nothing there asks for
// Status or End.
//
// Thread safety: blockProcessSignals before any other thread exists (every later thread
// inherits the mask); waitProcessSignal from the main thread only; the rest anywhere.
#pragma once

#include <cstdint>
#include <string>

namespace gsms {

enum class ProcessRequest {
    None,    // the wait ran out
    Stop,    // SIGTERM, SIGINT: stop in order
    Reload,  // SIGHUP: read the settings again
    Status,  // SIGUSR1: write the status file now
    End,     // SIGQUIT and the other signals whose default is to end the process: end now
};

struct ProcessSignal {
    ProcessRequest request = ProcessRequest::None;
    int number = 0;            // the signal, 0 for None
    const char* name = "";     // "SIGTERM", ...; on Windows "Ctrl+C", "gsmsd --reload", ...
};

// gsmsd's help on how the requests reach it here (lines ending in a newline).
extern const char* const kProcessRequestsHelp;
// True where gsmsd takes --reload: Windows, whose console has no request for it.
extern const bool kReloadByOption;

// Blocks every signal of the table in the calling thread and ignores SIGPIPE (a closed
// standard output shows as a failed write). Windows: installs the console's handler and makes
// this process's reload event.
void blockProcessSignals();

// Waits up to ms real milliseconds for the next request.
[[nodiscard]] ProcessSignal waitProcessSignal(std::int64_t ms);

// Windows: queues a request from another source of this process (the service manager's
// controls, service_manager.h) for waitProcessSignal. Never blocks. POSIX: nothing (signals
// are the only source).
void postProcessRequest(const ProcessSignal& request);

// Ends the process as the signal's default action would (a core for SIGQUIT), after the
// caller has written its line; standard streams are flushed first.
[[noreturn]] void endBySignal(int number);

// Asks process `pid` for Reload or Status (SIGHUP, SIGUSR1; on Windows Reload only, through
// its event). 0: asked; -1: it could not be asked (errno says why: ESRCH, EPERM, ENOSYS, ...).
[[nodiscard]] int sendProcessRequest(long pid, ProcessRequest request);

// This process's id.
[[nodiscard]] long currentProcessId();
// True when process `pid` runs and, where the system tells its name, is called `name` (a
// number may have passed to another program since). Any thread.
[[nodiscard]] bool processRunning(long pid, const char* name);
// The system's mark of when process `pid` started, the same text each time it is asked for
// the same process and another for a later process given the same number: on Linux the boot
// and the start in clock ticks since it (/proc), on Windows the creation time. Empty when
// the system does not tell (no such process, not ours to look at). Any thread.
[[nodiscard]] std::string processStartStamp(long pid);

}  // namespace gsms
