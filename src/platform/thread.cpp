#include "platform/thread.h"

#include <pthread.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace gsms {

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Instrumented frames are several times larger; a small reservation would overflow.
constexpr std::size_t kMinimumStack = 8u << 20;
#else
constexpr std::size_t kMinimumStack = 64u << 10;  // above PTHREAD_STACK_MIN everywhere here
#endif

struct Start {
    void (*routine)();
    char name[16];
};

void* trampoline(void* arg) {
    Start start = *static_cast<Start*>(arg);
    delete static_cast<Start*>(arg);
    pthread_setname_np(pthread_self(), start.name);
    start.routine();
    return nullptr;
}

}  // namespace

bool startDetachedThread(void (*routine)(), const char* name, std::size_t stackBytes) {
    auto* start = new Start{routine, {}};
    std::strncpy(start->name, name ? name : "", sizeof start->name - 1);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, std::max(stackBytes, kMinimumStack));
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, trampoline, start);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete start;
        return false;
    }
    return true;
}

}  // namespace gsms
