// Processor pinning at process start: on a machine with several processors the process is
// tied to one of those it may use, drawn at random, and the choice is written to the daily
// log. It must run before any thread exists (Linux applies the mask to the calling thread;
// every thread created later inherits it). No window toolkit here: it runs before the
// application object, in either operator window.
#pragma once

#include <string>

#include "platform/processor_affinity.h"

namespace gsms {

// Ties the process to one processor when it may run on several; logs each step. A failed
// query skips everything silently, a failed change is logged as "FAILED" and changes nothing.
void pinToOneProcessor();

// The processor number of the (n+1)-th processor in the set (n counted from 0), or -1.
int nthProcessor(const ProcessorSet& set, int n);

// The set as upper-case hexadecimal, bit i for processor i, at least eight digits.
std::string processorMaskText(const ProcessorSet& set);

}  // namespace gsms
