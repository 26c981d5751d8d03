// The pipeline's pauses (100 ms per file read, 500 ms per queued job) run 50 times faster in
// these tests, unless GSMS_TIME_SCALE says otherwise; the clock reads the factor once, before
// the first test runs.
#include <cstdlib>

#include "support/environment.h"

namespace {
const bool kScaled = [] {
    if (std::getenv("GSMS_TIME_SCALE") != nullptr) return false;
    gsms::test::setEnvironment("GSMS_TIME_SCALE", "50");
    return true;
}();
}  // namespace
