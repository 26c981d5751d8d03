#include "ui/processor_pinning.h"

#include <sys/sysinfo.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "engine/log.h"

namespace gsms {

namespace {

void logLine(const char* format, int a, int b = 0) {
    char line[256];
    std::snprintf(line, sizeof line, format, a, b);
    fileLog(line);
}

}  // namespace

int nthProcessor(const cpu_set_t& set, int n) {
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set) && n-- == 0) return cpu;
    }
    return -1;
}

std::string processorMaskText(const cpu_set_t& set) {
    int highest = -1;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &set)) highest = cpu;
    const int digits = highest / 4 + 1 > 8 ? highest / 4 + 1 : 8;
    std::string text;
    for (int d = digits - 1; d >= 0; --d) {
        int nibble = 0;
        for (int bit = 0; bit < 4; ++bit)
            if (CPU_ISSET(d * 4 + bit, &set)) nibble |= 1 << bit;
        text.push_back("0123456789ABCDEF"[nibble]);
    }
    return text;
}

void pinToOneProcessor() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
    // The machine's processors, whether this process may use them or not.
    const int installed = get_nprocs_conf();
    if (installed <= 1) return;
    logLine("Multi-processor system: %d CPUs found", installed);
    const int usable = CPU_COUNT(&allowed);
    logLine("Current process has been started with %d CPU(s)", usable);
    if (usable <= 1) return;

    std::srand(static_cast<unsigned>(std::time(nullptr)));
    const int n = std::rand() % usable;
    logLine("=> Setting process to use only processor %d of the available %d :", n + 1, usable);
    cpu_set_t chosen;
    CPU_ZERO(&chosen);
    CPU_SET(nthProcessor(allowed, n), &chosen);
    fileLog("   [" + processorMaskText(allowed) + "] -> [" + processorMaskText(chosen) + "]");
    fileLog(sched_setaffinity(0, sizeof chosen, &chosen) == 0 ? "done" : "FAILED");
}

}  // namespace gsms
