// The service manager that runs the gateway (systemd), told of its readiness, its status and
// that it is still alive. Started any other way (a shell, a build without libsystemd, another
// platform) every call does nothing, and the gateway runs as it always did.
//
// The build chooses the file: service_manager_systemd.cpp (libsystemd's sd_notify) or
// service_manager_none.cpp.
// Thread safety: any thread may call these at any time.
#pragma once

#include <cstdint>
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

}  // namespace gsms::service
