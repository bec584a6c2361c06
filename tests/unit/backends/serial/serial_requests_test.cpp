#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state/run_state.h"
#include "support/fake_wait_clock.h"
#include "support/fake_window.h"
#include "support/scripted_port.h"
#include "support/test_devices.h"

namespace karvelo::serial {
namespace {

using karvelo::testing::FakeWaitClock;
using karvelo::testing::ScriptedPort;
using karvelo::testing::TestDevices;

struct RequestCase {
    int type;
    int channel;
    std::vector<std::string> actions;  // what reaches the port, in order
    std::uint32_t waitMs;              // total time the request waits
    const wchar_t* status;             // status afterwards
};

// Requests go through the device set, which asks the slot type's row what to do.
class RequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        g_run.StatusText[4] = L"old";
    }
    FakeWaitClock clock;
    testing::FakeWindow window;
    TestDevices devices{g_run, window};
};

TEST_F(RequestTest, EachTypeSendsItsExactBytesAndLineActions) {
    const RequestCase cases[] = {
        {1, 0, {"purge", "write ?\r"}, 200, L""},
        {2, 0, {"purge", "dtr off", "dtr on"}, 320, L""},
        {3, 2, {"purge", "write DAS2\r"}, 0, L""},
        {3, 5, {"purge", "write DAS5\r"}, 0, L""},
        {3, 6, {"purge"}, 0, L"com error"},
        {3, 0, {"purge"}, 0, L"com error"},
        {4, 0, {"purge", std::string("write \x02")}, 200, L""},
        {5, 0, {"purge", "write ?\r"}, 200, L""},
        {6, 0, {"purge", "break on", "break off"}, 300, L""},
        {8, 0, {"purge", "write ?\r"}, 0, L""},
        {9, 0, {"purge", "write s"}, 0, L""},
        {19, 0, {"purge", "write ?\r"}, 200, L""},
        {19, 1, {"purge", "write 1\r"}, 200, L""},
        {19, 2, {"purge", "write 2\r"}, 200, L""},
        {19, 3, {"purge"}, 200, L""},
        {23, 0, {"purge", "write K"}, 200, L""},
        {24, 0, {"purge", "write M"}, 200, L""},
        {25, 0, {"purge", "write $PRI,0*57\r"}, 200, L""},
        {26, 0, {"purge", "write ?\r"}, 0, L""},
        {27, 0, {"purge", "write SR,00,000\r\n"}, 0, L""},
        {28, 0, {"purge", "write ?\r\n"}, 0, L""},
        {50, 0, {"purge", std::string("write \x01")}, 0, L""},
        {57, 0, {"purge", "write GO\r"}, 0, L""},
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "type " << c.type << " channel " << c.channel);
        ScriptedPort port;
        devices.ports().SlotPort[4] = &port;
        g_run.DeviceType[4] = c.type;
        g_run.Channel[4] = c.channel;
        g_run.StatusText[4] = L"old";
        clock.ResetElapsed();
        devices.set.Request(4);
        EXPECT_EQ(port.actions(), c.actions);
        EXPECT_EQ(clock.elapsed(), c.waitMs);
        EXPECT_EQ(g_run.StatusText[4].str(), c.status);
    }
}

TEST_F(RequestTest, MissingDeviceMarksOnlyItsSlotAndStillWaits) {
    struct Case {
        int type;
        int channel;
        const wchar_t* status;
        std::uint32_t waitMs;
    };
    const Case cases[] = {
        {1, 0, L"com error", 200},  {26, 0, L"com error", 0},  {19, 3, L"com error", 200},
        {10, 0, L"usb error", 200}, {20, -1, L"pci error", 0}, {20, 2, L"", 0},
        {40, 0, L"", 200},          {0, 0, L"old", 0},         {7, 0, L"old", 0},
        {22, 0, L"old", 0},         {-3, 0, L"old", 0},        {99, 0, L"old", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "type " << c.type);
        ResetRunState();
        g_run.StatusText[4] = L"old";
        g_run.StatusText[5] = L"neighbour";
        g_run.DeviceType[4] = c.type;
        g_run.Channel[4] = c.channel;
        clock.ResetElapsed();
        devices.set.Request(4);
        EXPECT_EQ(g_run.StatusText[4].str(), c.status);
        const bool missing = std::wstring(c.status).ends_with(L"error");
        EXPECT_EQ(g_run.ValueReady[4].load(), missing);
        EXPECT_EQ(g_run.ValueError[4].load(), missing);
        EXPECT_EQ(clock.elapsed(), c.waitMs);
        EXPECT_EQ(g_run.StatusText[5].str(), L"neighbour");
        EXPECT_FALSE(g_run.ValueReady[5]);
    }
}

}  // namespace
}  // namespace karvelo::serial
