#include "backends/serial/serial_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "devices/catalogue.h"
#include "state/run_state.h"
#include "support/fake_window.h"
#include "support/scripted_port.h"

namespace karvelo::serial {
namespace {

using karvelo::testing::FakeWindow;
using karvelo::testing::ScriptedPort;
using ::testing::ElementsAre;

struct OpenedPort {
    LineProfile profile;
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

std::unique_ptr<SerialLine> FakeOpener(const LineProfile& profile, int com) {
    for (int missing : g_missingComs) {
        if (missing == com) return nullptr;
    }
    auto port = std::make_unique<CountedPort>();
    g_opened.push_back({profile, com, port.get()});
    return port;
}

class SerialOpenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        g_opened.clear();
        g_missingComs.clear();
        g_destroyed = 0;
    }
    void TearDown() override { CloseAllDevices(); }
    void OpenAllDevices(WindowPort& w) { backend.OpenAll(w); }
    void CloseAllDevices() { backend.CloseAll(); }
    SerialLine* PortOfSlot(int s) { return backend.ports().SlotPort[s]; }
    // The port was opened with the line settings of `type`.
    static bool OpenedAs(const OpenedPort& p, int type) {
        return p.profile == devices::DeviceTypeOf(type).serial.line;
    }
    void Slot(int s, int type, int com) {
        g_run.DeviceType[s] = type;
        g_run.Port[s] = com;
    }
    FakeWindow window;
    SerialBackend backend{g_run, FakeOpener};
};

TEST_F(SerialOpenTest, SameTypeOnOneComSharesOnePortClosedOnce) {
    g_run.DeviceCount = 2;
    Slot(1, 1, 3);
    Slot(2, 1, 3);
    OpenAllDevices(window);
    ASSERT_EQ(g_opened.size(), 1u);
    EXPECT_TRUE(OpenedAs(g_opened[0], 1));
    EXPECT_EQ(g_opened[0].com, 3);
    EXPECT_NE(PortOfSlot(1), nullptr);
    EXPECT_EQ(PortOfSlot(1), PortOfSlot(2));
    EXPECT_TRUE(window.messages.empty());
    CloseAllDevices();
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_EQ(PortOfSlot(1), nullptr);
    EXPECT_EQ(PortOfSlot(2), nullptr);
    CloseAllDevices();  // harmless a second time
    EXPECT_EQ(g_destroyed, 1);
}

TEST_F(SerialOpenTest, ConflictingTypesAreRefusedPerLaterSlot) {
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
            EXPECT_EQ(PortOfSlot(i + 1) != nullptr, c.hasPort[i]) << "slot " << i + 1;
        }
        EXPECT_EQ(static_cast<int>(window.messages.size()), c.messages);
        for (const std::wstring& m : window.messages) {
            EXPECT_EQ(m, L"ERROR: Serial COM3 is used for more than one device!");
        }
        CloseAllDevices();
    }
}

TEST_F(SerialOpenTest, OnlySlotsInUseAreOpened) {
    g_run.DeviceCount = 3;
    for (int s = 1; s <= 10; ++s) Slot(s, 5, s);
    OpenAllDevices(window);
    EXPECT_EQ(g_opened.size(), 3u);
    EXPECT_EQ(PortOfSlot(4), nullptr);
    g_run.DeviceCount = 25;  // a hand-written maxno never reaches beyond slot 10
    CloseAllDevices();
    OpenAllDevices(window);
    EXPECT_EQ(g_opened.size(), 13u);
}

TEST_F(SerialOpenTest, MissingPortLeavesOnlyThatSlotWithout) {
    g_missingComs = {4};
    g_run.DeviceCount = 2;
    Slot(1, 5, 4);
    Slot(2, 24, 6);
    OpenAllDevices(window);
    EXPECT_EQ(PortOfSlot(1), nullptr);
    ASSERT_NE(PortOfSlot(2), nullptr);
    EXPECT_TRUE(OpenedAs(g_opened[0], 24));
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(SerialOpenTest, EachTypeOpensWithItsOwnLineAndAlmemoGetsItsStartBytes) {
    g_run.DeviceCount = 2;
    Slot(1, 2, 1);
    Slot(2, 9, 2);
    OpenAllDevices(window);
    ASSERT_EQ(g_opened.size(), 2u);
    EXPECT_TRUE(OpenedAs(g_opened[0], 2));
    EXPECT_FALSE(OpenedAs(g_opened[0], 1));  // the simplex Sylvac raises RTS
    EXPECT_TRUE(OpenedAs(g_opened[1], 9));
    EXPECT_THAT(g_opened[1].port->writes(), ElementsAre("N", "0", "\n", "\r"));
    EXPECT_TRUE(g_opened[0].port->writes().empty());
}

// A port whose device can be absent, unplugged and plugged in again. Reopen
// takes the next scripted problem (None: it opened).
class PluggablePort : public ScriptedPort {
  public:
    PortProblem Problem() const override { return problem; }
    bool Reopen() override {
        ++reopens;
        if (!onReopen.empty()) {
            problem = onReopen.front();
            onReopen.erase(onReopen.begin());
        }
        return problem == PortProblem::None;
    }
    PortProblem problem = PortProblem::None;
    std::vector<PortProblem> onReopen;
    int reopens = 0;
};

class SerialReconnectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        g_run.DeviceCount = 2;
        for (int s : {1, 2}) {
            g_run.DeviceType[s] = 9;  // ALMEMO: start bytes after every open
            g_run.Port[s] = 3;
        }
    }
    void TearDown() override {
        backend.CloseAll();
        ResetRunState();
    }
    devices::RequestOutcome Request() { return backend.Request(1, devices::DeviceTypeOf(9)); }
    devices::ReaderResult Read() { return backend.Read(1, false, devices::DeviceTypeOf(9)); }
    std::string Problem(int s) const {
        const std::wstring w = g_run.PortProblem[s].str();
        return std::string(w.begin(), w.end());
    }
    void Wait(int ms) { now += std::chrono::milliseconds(ms); }

    PluggablePort* port = nullptr;
    std::vector<std::string> reported;
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    FakeWindow window;
    SerialBackend backend{g_run,
                          [this](const LineProfile&, int) {
                              auto p = std::make_unique<PluggablePort>();
                              port = p.get();
                              p->problem = firstProblem;
                              return p;
                          },
                          [this](const std::string& line) { reported.push_back(line); },
                          [this] { return now; }};
    PortProblem firstProblem = PortProblem::None;
};

TEST_F(SerialReconnectTest, AbsentDeviceIsTriedOnceASecondAndResumesByItself) {
    firstProblem = PortProblem::NoSuchDevice;
    backend.OpenAll(window);
    ASSERT_NE(port, nullptr);
    const std::string why = "COM3 (/dev/ttyS2): no such device (not plugged in?)";
    EXPECT_EQ(reported, std::vector<std::string>{why});
    EXPECT_EQ(Problem(1), why);
    EXPECT_EQ(Problem(2), why) << "the slot sharing the port shows it too";
    EXPECT_TRUE(port->writes().empty()) << "no start bytes into a port that is not open";

    port->onReopen = {PortProblem::NoSuchDevice, PortProblem::PermissionDenied, PortProblem::None};
    struct Step {
        int waitMs;
        int reopens;  // attempts so far
        bool usable;
    };
    const Step steps[] = {
        {0, 0, false},   {400, 0, false}, {599, 0, false}, {1, 1, false},
        {999, 1, false}, {1, 2, false},   {1000, 3, true}, {5000, 3, true},
    };
    for (const Step& st : steps) {
        Wait(st.waitMs);
        SCOPED_TRACE(port->reopens);
        EXPECT_EQ(Request(), st.usable ? devices::RequestOutcome::Sent
                                       : devices::RequestOutcome::DeviceMissing);
        EXPECT_EQ(port->reopens, st.reopens);
    }
    // The start bytes went out with the open that worked, before its request.
    EXPECT_THAT(port->writes(), ElementsAre("N", "0", "\n", "\r", "s", "s"));
    EXPECT_EQ(Problem(1), "");
    EXPECT_EQ(Problem(2), "");
    // Each change said once; the repeated failure with the same reason not again.
    EXPECT_THAT(reported,
                ElementsAre(why,
                            "COM3 (/dev/ttyS2): permission denied: the user needs to be in the "
                            "dialout group",
                            "COM3 (/dev/ttyS2): open again"));
}

TEST_F(SerialReconnectTest, PortThatHangsUpDuringAReadShowsComErrorUntilItIsBack) {
    backend.OpenAll(window);
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(reported.empty());
    // Unplugged while the reader waits for its reply.
    port->OnWrite([](ScriptedPort& p, std::string_view) {
        static_cast<PluggablePort&>(p).problem = PortProblem::HungUp;
    });
    EXPECT_EQ(Request(), devices::RequestOutcome::Sent);
    Read();
    EXPECT_EQ(reported.back(), "COM3 (/dev/ttyS2): the device has gone (unplugged or hung up)");
    const int readsBefore = port->readCalls();
    EXPECT_EQ(Read(), devices::kNotOpen) << "the slot's missing-device word: com error";
    EXPECT_EQ(port->readCalls(), readsBefore) << "a dead port is not read";
    EXPECT_EQ(port->reopens, 0) << "not within the second";

    port->OnWrite(nullptr);
    port->onReopen = {PortProblem::None};
    Wait(1000);
    Read();
    EXPECT_EQ(port->reopens, 1);
    EXPECT_GT(port->readCalls(), readsBefore) << "read again once it is back";
    EXPECT_EQ(reported.back(), "COM3 (/dev/ttyS2): open again");
}

TEST_F(SerialReconnectTest, ReopenHappensOnlyForSlotsOfThisSet) {
    firstProblem = PortProblem::Busy;
    backend.OpenAll(window);
    backend.CloseAll();
    EXPECT_EQ(Problem(1), "") << "closing forgets the problems";
    Wait(5000);
    EXPECT_EQ(Request(), devices::RequestOutcome::DeviceMissing);
    EXPECT_EQ(Read(), devices::kNotOpen);
}

}  // namespace
}  // namespace karvelo::serial
