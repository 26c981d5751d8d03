#include "core/process_exit.h"

#include <unistd.h>

#include <cstdio>

#include "platform/serial_port.h"

namespace gsms {

void endProcess(int code) {
    SerialPort::releaseAtProcessEnd();
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(code);
}

}  // namespace gsms
