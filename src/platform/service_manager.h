// The service manager that runs the gateway (systemd, or Windows' service control manager),
// told of its readiness, its status, its stop and that it is still alive. Started any other
// way (a shell, a console, a build without libsystemd) every call does nothing, and the gateway
// runs as it always did.
//
// The build chooses the file: service_manager_win32.cpp on Windows, else
// service_manager_systemd.cpp (libsystemd's sd_notify) or service_manager_none.cpp.
//
// On Windows the assignments map onto the states of the service control manager: the process
// reports START_PENDING as the service starts, RUNNING at "READY=1", STOP_PENDING at
// "STOPPING=1" or a stop request, STOPPED as the process ends (ending), each pending state
// with a wait hint whose checkpoint moves on while it lasts, for at most as long as the
// systemd unit allows (5 min to start, 150 s to stop). The manager's stop, preshutdown and
// shutdown controls reach the main thread as a Stop request, its parameter change as a Reload
// (platform/process_signals.h).
//
// Thread safety: any thread may call these at any time, but runAsService, which the main
// thread calls once, and installService and removeService, which run alone. The Windows
// side's status lock guards what the manager was last told; it is a leaf.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace gsms::service {

// Sends newline-separated assignments such as "READY=1", "STATUS=<text>", "WATCHDOG=1",
// "STOPPING=1". 1: sent; 0: no manager listens (or this build has none); -1: sending failed.
int notify(std::string_view assignments);

// The interval within which the manager expects "WATCHDOG=1", in microseconds; 0 when it
// expects none.
[[nodiscard]] std::uint64_t watchdogIntervalUs();

// True when a manager this build can tell waits for "READY=1" ($NOTIFY_SOCKET): until then
// "systemctl start" waits, so a failed start should end without a long pause.
[[nodiscard]] bool waitsForReadiness();

// True when the process runs as a service of systemd ($INVOCATION_ID), whatever the build:
// its sandbox then decides what the gateway may write.
[[nodiscard]] bool runsAsService();

// The service's name for the manager (`sc start gsmsd`).
constexpr const char* kServiceName = "gsmsd";
// True where gsmsd takes --install-service and --remove-service (Windows).
extern const bool kInstallByOption;

// When the manager started this process as its service (Windows: the service control
// dispatcher answers), runs `body` as the service, on the thread the manager gives it, with
// the current directory made the profile folder (the daily logs go there, never into the
// system folder a service starts in); body ends the process. Returns -1 at once when the
// process was started any other way (a console, a shell; systemd needs no dispatcher): the
// caller runs body itself. Returns 0 when the service could not start (the reason went to
// the event log) and has stopped.
int runAsService(void (*body)());
// True while the process runs as the manager's service.
[[nodiscard]] bool runningAsService();

// The process ends now with `code` (core/process_exit.h calls it). restart: the manager
// should start it again; on Windows the process then ends without reporting STOPPED, which
// the manager takes for a failure and answers with its recovery actions. Otherwise it reports
// STOPPED with the code (as the service's own exit code when it is not 0).
void ending(int code, bool restart);

// gsmsd --install-service: registers this program with the manager as the service
// kServiceName, started with the system and restarted 5 s after a failure, with the profile
// folder in force on its command line, and the event log source (platform/event_log.h) with
// this program's messages. gsmsd --remove-service undoes both. Each says on out what it did or
// why it could not. 0: done; 1: not.
[[nodiscard]] int installService(std::FILE* out);
[[nodiscard]] int removeService(std::FILE* out);

}  // namespace gsms::service
