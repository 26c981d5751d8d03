// Placeholder until the signal supervision lands.
#include "sms/signal_thread.h"

#include "platform/clock.h"

namespace gsms {

std::atomic<int>& signalQuality() {
    static std::atomic<int> value{0};
    return value;
}

void signalThread() {
    for (;;) clock::sleepMs(1000);
}

}  // namespace gsms
