// Placeholder until the incoming SMS handling lands.
#include "sms/incoming.h"

#include "platform/clock.h"

namespace gsms {

void incomingThread() {
    for (;;) clock::sleepMs(15000);
}

}  // namespace gsms
