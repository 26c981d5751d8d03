#include "platform/event.h"

#include <gtest/gtest.h>

#include <thread>

namespace gsms {
namespace {

TEST(Event, ManualResetStaysSetUntilReset) {
    Event e;
    EXPECT_EQ(e.wait(0), -1);
    e.set();
    EXPECT_EQ(e.wait(0), 0);
    EXPECT_EQ(e.wait(0), 0);
    e.reset();
    EXPECT_EQ(e.wait(10), -1);
}

TEST(Event, WaitAnyGivesLowestSignalledIndex) {
    Event a, b, c;
    c.set();
    b.set();
    EXPECT_EQ(waitAny({&a, &b, &c}, 0), 1);
}

TEST(Event, WaitAnyWakesWhenAnotherThreadSets) {
    Event a, b;
    std::thread t([&] { b.set(); });
    EXPECT_EQ(waitAny({&a, &b}, 10000), 1);
    t.join();
}

TEST(Event, WaitAnyTimesOut) {
    Event a, b;
    EXPECT_EQ(waitAny({&a, &b}, 50), -1);
}

}  // namespace
}  // namespace gsms
