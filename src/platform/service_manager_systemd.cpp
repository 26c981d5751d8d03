#include <systemd/sd-daemon.h>

#include <cstdlib>
#include <string>

#include "platform/service_manager.h"

namespace gsms::service {

int notify(std::string_view assignments) {
    // The environment is kept (unset_environment 0): the watchdog asks for it again later.
    const int rc = sd_notify(0, std::string(assignments).c_str());
    return rc > 0 ? 1 : rc == 0 ? 0 : -1;
}

std::uint64_t watchdogIntervalUs() {
    std::uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? usec : 0;
}

bool waitsForReadiness() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket != nullptr && *socket != '\0';
}

bool runsAsService() {
    const char* id = std::getenv("INVOCATION_ID");
    return id != nullptr && *id != '\0';
}

}  // namespace gsms::service
