#include "frontend/processor_pinning.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/log.h"

namespace gsms {

namespace {

void logLine(const char* format, int a, int b = 0) {
    char line[256];
    std::snprintf(line, sizeof line, format, a, b);
    fileLog(line);
}

}  // namespace

int nthProcessor(const ProcessorSet& set, int n) {
    for (std::size_t cpu = 0; cpu < set.size(); ++cpu) {
        if (set.test(cpu) && n-- == 0) return static_cast<int>(cpu);
    }
    return -1;
}

std::string processorMaskText(const ProcessorSet& set) {
    int highest = -1;
    for (std::size_t cpu = 0; cpu < set.size(); ++cpu)
        if (set.test(cpu)) highest = static_cast<int>(cpu);
    const int digits = highest / 4 + 1 > 8 ? highest / 4 + 1 : 8;
    std::string text;
    for (int d = digits - 1; d >= 0; --d) {
        int nibble = 0;
        for (int bit = 0; bit < 4; ++bit)
            if (set.test(static_cast<std::size_t>(d * 4 + bit))) nibble |= 1 << bit;
        text.push_back("0123456789ABCDEF"[nibble]);
    }
    return text;
}

void pinToOneProcessor() {
    ProcessorSet allowed;
    int installed = 0;
    if (!processAffinity(allowed, installed)) return;
    if (installed <= 1) return;
    logLine("Multi-processor system: %d CPUs found", installed);
    const int usable = static_cast<int>(allowed.count());
    logLine("Current process has been started with %d CPU(s)", usable);
    if (usable <= 1) return;

    std::srand(static_cast<unsigned>(std::time(nullptr)));
    const int n = std::rand() % usable;
    logLine("=> Setting process to use only processor %d of the available %d :", n + 1, usable);
    ProcessorSet chosen;
    chosen.set(static_cast<std::size_t>(nthProcessor(allowed, n)));
    fileLog("   [" + processorMaskText(allowed) + "] -> [" + processorMaskText(chosen) + "]");
    fileLog(setProcessAffinity(chosen) ? "done" : "FAILED");
}

}  // namespace gsms
