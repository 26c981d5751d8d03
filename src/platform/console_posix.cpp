#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "platform/console.h"

namespace gsms::console {
namespace {
sigset_t stopSignals;
}  // namespace

bool showsColours(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

void prepareStopRequests() {
    // Blocked before any thread exists, so every thread inherits the mask and only
    // sigwait below sees the two signals.
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

void waitForStopRequest() {
    int received = 0;
    sigwait(&stopSignals, &received);
}

}  // namespace gsms::console
