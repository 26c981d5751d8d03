#include "core/process_exit.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "platform/serial_port.h"
#include "platform/service_manager.h"

namespace gsms {
namespace {

std::atomic<void (*)()> lastWordsHook{nullptr};

}  // namespace

void setLastWords(void (*lastWords)()) { lastWordsHook.store(lastWords); }

void endProcess(int code) {
    SerialPort::releaseAtProcessEnd();
    // Once, even when two threads end the process at the same time.
    if (auto words = lastWordsHook.exchange(nullptr)) words();
    std::fflush(stdout);
    std::fflush(stderr);
    service::ending(code, code == kExitRestart);
    _exit(code);
}

}  // namespace gsms
