// The pipeline's pauses (100 ms per file read, 500 ms per queued job) run 50 times faster in
// these tests; the clock reads the factor once, before the first test runs.
#include <cstdlib>

namespace {
const int kScale = [] { return ::setenv("GSMS_TIME_SCALE", "50", 0); }();
}  // namespace
