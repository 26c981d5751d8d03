#include "core/process_exit.h"

#include <unistd.h>

#include <cstdio>

namespace gsms {

void endProcess(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(code);
}

}  // namespace gsms
