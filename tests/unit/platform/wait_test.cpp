#include "platform/wait.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/fake_wait_clock.h"

namespace karvelo::platform {
namespace {

using karvelo::testing::FakeWaitClock;

TEST(PumpWait, ThreadWithoutEventsSleepsOnceForTheWholeWait) {
    FakeWaitClock clock;
    // A thread of its own, as the acquisition thread: no event pump.
    std::thread([] {
        for (int ms : {0, 20, 200, 810}) PumpWait(ms);
    }).join();
    EXPECT_EQ(clock.sleeps(), (std::vector<int>{0, 20, 200, 810}));
}

TEST(PumpWait, WindowThreadKeepsItsEventsFlowingWhileItWaits) {
    FakeWaitClock clock;
    int dispatched = 0;
    SetThreadEventPump([&dispatched] {
        ++dispatched;
        return false;
    });
    PumpWait(200);
    SetThreadEventPump(nullptr);
    EXPECT_GE(dispatched, 20) << "an event every 10 ms at least";
    EXPECT_GE(clock.elapsed(), 200u);
}

}  // namespace
}  // namespace karvelo::platform
