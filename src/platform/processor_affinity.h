// The processors this process may run on: sched_getaffinity / sched_setaffinity on POSIX
// (processor_affinity_posix.cpp), GetProcessAffinityMask / SetProcessAffinityMask on Windows
// (processor_affinity_win32.cpp, the processors of the process's group).
// Thread safety: call before any thread exists when every thread is to follow the change
// (Linux applies a new set to the calling thread, from which later threads inherit it).
#pragma once

#include <bitset>
#include <cstddef>

namespace gsms {

constexpr std::size_t kMaxProcessors = 1024;
// Bit i stands for processor i.
using ProcessorSet = std::bitset<kMaxProcessors>;

// The processors this process may use and how many the machine has. False when the system
// cannot be asked.
[[nodiscard]] bool processAffinity(ProcessorSet& allowed, int& installed);

// Restricts the process to the set. False when the system refused.
[[nodiscard]] bool setProcessAffinity(const ProcessorSet& set);

}  // namespace gsms
