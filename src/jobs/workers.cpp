// Placeholder until the pipeline threads land.
#include "jobs/workers.h"

#include "platform/clock.h"

namespace gsms {

void readJobsThread() { for (;;) clock::sleepMs(1000); }
void processingThread() { for (;;) clock::sleepMs(500); }
void reportThread() { for (;;) clock::sleepMs(1000); }

}  // namespace gsms
