#include <sched.h>
#include <sys/sysinfo.h>

#include "platform/processor_affinity.h"

namespace gsms {

bool processAffinity(ProcessorSet& allowed, int& installed) {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return false;
    allowed.reset();
    for (std::size_t cpu = 0; cpu < kMaxProcessors && cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &set)) allowed.set(cpu);
    // The machine's processors, whether this process may use them or not.
    installed = get_nprocs_conf();
    return true;
}

bool setProcessAffinity(const ProcessorSet& set) {
    cpu_set_t chosen;
    CPU_ZERO(&chosen);
    for (std::size_t cpu = 0; cpu < kMaxProcessors && cpu < CPU_SETSIZE; ++cpu)
        if (set.test(cpu)) CPU_SET(cpu, &chosen);
    return sched_setaffinity(0, sizeof chosen, &chosen) == 0;
}

}  // namespace gsms
