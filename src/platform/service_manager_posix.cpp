// POSIX, with or without systemd: no dispatcher to run under and nothing to install; systemd
// starts gsmsd as it is and judges its exit code itself (Restart=).
#include "platform/service_manager.h"

namespace gsms::service {

const bool kInstallByOption = false;

int runAsService(void (*)()) { return -1; }

bool runningAsService() { return false; }

void ending(int, bool) {}

int installService(std::FILE* out) {
    std::fputs("gsmsd: the package installs the service (systemctl enable gsmsd)\n", out);
    return 1;
}

int removeService(std::FILE* out) { return installService(out); }

}  // namespace gsms::service
