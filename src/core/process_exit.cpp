#include "core/process_exit.h"

#include <unistd.h>

#include <cstdio>

#include "platform/service_manager.h"

namespace gsms {

void endProcess(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    service::ending(code, code == kExitRestart);
    _exit(code);
}

}  // namespace gsms
