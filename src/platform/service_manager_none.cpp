// No service manager to tell: a build without libsystemd.
#include <cstdlib>

#include "platform/service_manager.h"

namespace gsms::service {

int notify(std::string_view) { return 0; }

std::uint64_t watchdogIntervalUs() { return 0; }

bool waitsForReadiness() { return false; }

bool runsAsService() {
    const char* id = std::getenv("INVOCATION_ID");
    return id != nullptr && *id != '\0';
}

}  // namespace gsms::service
