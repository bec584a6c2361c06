#include "devices/device_open.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "app/run_state.h"
#include "devices/device_handles.h"
#include "support/fake_window.h"
#include "support/scripted_port.h"

namespace karvelo::devices {
namespace {

using ::testing::ElementsAre;
using karvelo::testing::FakeWindow;
using karvelo::testing::ScriptedPort;

struct OpenedPort {
    int profile;
    int com;
    ScriptedPort* port;
};
std::vector<OpenedPort> g_opened;
int g_destroyed = 0;
std::vector<int> g_missingComs;  // COM numbers that do not exist

class CountedPort : public ScriptedPort {
public:
    ~CountedPort() override { ++g_destroyed; }
};

std::unique_ptr<SerialLine> FakeOpener(int profile, int com) {
    for (int missing : g_missingComs) {
        if (missing == com) return nullptr;
    }
    auto port = std::make_unique<CountedPort>();
    g_opened.push_back({profile, com, port.get()});
    return port;
}

class DeviceOpenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRunState();
        g_opened.clear();
        g_missingComs.clear();
        g_destroyed = 0;
        SetPortOpener(FakeOpener);
    }
    void TearDown() override {
        CloseAllDevices();
        SetPortOpener(nullptr);
    }
    void Slot(int s, int type, int com) {
        g_run.DeviceType[s] = type;
        g_run.Port[s] = com;
    }
    FakeWindow window;
};

TEST_F(DeviceOpenTest, SameTypeOnOneComSharesOnePortClosedOnce) {
    g_run.DeviceCount = 2;
    Slot(1, 1, 3);
    Slot(2, 1, 3);
    OpenAllDevices(window);
    ASSERT_EQ(g_opened.size(), 1u);
    EXPECT_EQ(g_opened[0].profile, 1);
    EXPECT_EQ(g_opened[0].com, 3);
    EXPECT_NE(g_devices.SlotPort[1], nullptr);
    EXPECT_EQ(g_devices.SlotPort[1], g_devices.SlotPort[2]);
    EXPECT_TRUE(window.messages.empty());
    CloseAllDevices();
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_EQ(g_devices.SlotPort[1], nullptr);
    EXPECT_EQ(g_devices.SlotPort[2], nullptr);
    CloseAllDevices();  // harmless a second time
    EXPECT_EQ(g_destroyed, 1);
}

TEST_F(DeviceOpenTest, ConflictingTypesAreRefusedPerLaterSlot) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> slots;  // type, com
        std::vector<bool> hasPort;
        int messages;
    };
    const Case cases[] = {
        {"Sylvac then SD1", {{1, 3}, {26, 3}}, {true, false}, 1},
        {"SD1, Sylvac, Sylvac", {{26, 3}, {1, 3}, {1, 3}}, {true, false, false}, 2},
        {"different COMs", {{26, 3}, {1, 4}}, {true, true}, 0},
        {"COM 0 never opens", {{1, 0}, {26, 0}}, {false, false}, 0},
        {"free code 7 gets no port", {{7, 5}}, {false}, 0},
        {"stale port of a USB slot is no conflict", {{11, 3}, {1, 3}}, {false, true}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetRunState();
        window.messages.clear();
        g_run.DeviceCount = static_cast<int>(c.slots.size());
        for (std::size_t i = 0; i < c.slots.size(); ++i) {
            Slot(static_cast<int>(i + 1), c.slots[i].first, c.slots[i].second);
        }
        OpenAllDevices(window);
        for (std::size_t i = 0; i < c.hasPort.size(); ++i) {
            EXPECT_EQ(g_devices.SlotPort[i + 1] != nullptr, c.hasPort[i]) << "slot " << i + 1;
        }
        EXPECT_EQ(static_cast<int>(window.messages.size()), c.messages);
        for (const std::wstring& m : window.messages) {
            EXPECT_EQ(m, L"ERROR: Serial COM3 is used for more than one device!");
        }
        CloseAllDevices();
    }
}

TEST_F(DeviceOpenTest, OnlySlotsInUseAreOpened) {
    g_run.DeviceCount = 3;
    for (int s = 1; s <= 10; ++s) Slot(s, 5, s);
    OpenAllDevices(window);
    EXPECT_EQ(g_opened.size(), 3u);
    EXPECT_EQ(g_devices.SlotPort[4], nullptr);
    g_run.DeviceCount = 25;  // a hand-written maxno never reaches beyond slot 10
    CloseAllDevices();
    OpenAllDevices(window);
    EXPECT_EQ(g_opened.size(), 13u);
}

TEST_F(DeviceOpenTest, MissingPortLeavesOnlyThatSlotWithout) {
    g_missingComs = {4};
    g_run.DeviceCount = 2;
    Slot(1, 5, 4);
    Slot(2, 24, 6);
    OpenAllDevices(window);
    EXPECT_EQ(g_devices.SlotPort[1], nullptr);
    ASSERT_NE(g_devices.SlotPort[2], nullptr);
    EXPECT_EQ(g_opened[0].profile, 24);
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(DeviceOpenTest, SylvacSimplexUsesProfileZeroAndAlmemoGetsItsStartBytes) {
    g_run.DeviceCount = 2;
    Slot(1, 2, 1);
    Slot(2, 9, 2);
    OpenAllDevices(window);
    ASSERT_EQ(g_opened.size(), 2u);
    EXPECT_EQ(g_opened[0].profile, 0);
    EXPECT_EQ(g_opened[1].profile, 9);
    EXPECT_THAT(g_opened[1].port->writes(), ElementsAre("N", "0", "\n", "\r"));
    EXPECT_TRUE(g_opened[0].port->writes().empty());
}

}  // namespace
}  // namespace karvelo::devices
