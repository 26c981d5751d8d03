// Signal and network supervision: polls at+csq every "QualityPollEverySecs", reselects the
// network with at+cops when the signal is gone, and ends the process for a fresh start after
// the second failed reselection without a good reading in between.
#pragma once

#include <atomic>

namespace gsms {

// The last signal strength read, 0..31; 0 when there is no usable reading. Written by the
// SignalThread only; read by the front ends on notification code 99.
std::atomic<int>& signalQuality();

// The SignalThread routine; returns only with the process.
[[noreturn]] void signalThread();

}  // namespace gsms
