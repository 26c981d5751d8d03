#include <windows.h>

#include "platform/processor_affinity.h"

namespace gsms {

bool processAffinity(ProcessorSet& allowed, int& installed) {
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return false;
    allowed.reset();
    installed = 0;
    for (std::size_t cpu = 0; cpu < sizeof(DWORD_PTR) * 8; ++cpu) {
        const DWORD_PTR bit = DWORD_PTR{1} << cpu;
        if (process & bit) allowed.set(cpu);
        if (system & bit) ++installed;  // the system mask: the processors there are
    }
    return true;
}

bool setProcessAffinity(const ProcessorSet& set) {
    DWORD_PTR mask = 0;
    for (std::size_t cpu = 0; cpu < sizeof(DWORD_PTR) * 8; ++cpu)
        if (set.test(cpu)) mask |= DWORD_PTR{1} << cpu;
    // Processors beyond the process's group cannot be named in a mask.
    if (mask == 0 || (set.count() != static_cast<std::size_t>(__builtin_popcountll(mask))))
        return false;
    return SetProcessAffinityMask(GetCurrentProcess(), mask) != 0;
}

}  // namespace gsms
