#include "backends/ibrit/bus_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backends/registry.h"
#include "devices/catalogue.h"
#include "devices/device_set.h"
#include "state/run_state.h"
#include "support/fake_ibrit.h"
#include "support/fake_wait_clock.h"
#include "support/fake_window.h"
#include "support/temp_dir.h"
#include "support/test_devices.h"

namespace karvelo::ibrit {
namespace {

using devices::ReadOutcome;
using karvelo::testing::BusAnswer;
using karvelo::testing::FakeBus;
using karvelo::testing::FakeBusLoader;
using karvelo::testing::FakeWaitClock;
using karvelo::testing::FakeWindow;
using karvelo::testing::NoPorts;
using karvelo::testing::TestDevices;
using ::testing::ElementsAre;

constexpr int kBus1 = 30;
constexpr int kBus2 = 31;
constexpr int kBus3 = 32;
constexpr int kBus8 = 37;
constexpr std::int16_t kNothingNew = kCollectNothingNew;
constexpr std::int16_t kNotLatched = kCollectNotLatched;
const std::wstring kInitMessage = L"ERROR: Init: IBRIT IMB-BUS!";

class BusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        g_run.DeviceCount = 10;
    }
    void TearDown() override { devices().CloseAll(); }

    devices::DeviceSet& devices() {
        if (!set_) {
            backends::DeviceSources sources = TestDevices::Sources(NoPorts());
            if (withLibrary) sources.loadBus = FakeBusLoader(bus);
            set_ = std::make_unique<devices::DeviceSet>(
                g_run, backends::StationBackends(g_run, window, std::move(sources)));
        }
        return *set_;
    }
    BusBackend& backend() {
        return static_cast<BusBackend&>(*devices().BackendFor(devices::Transport::IbritBus));
    }
    static void Slot(int s, int type, int channel = 1) {
        g_run.DeviceType[s] = type;
        g_run.Channel[s] = channel;
        g_run.Factor[s] = 1.0;
        g_run.Offset[s] = 0.0;
        g_run.SendMode[s] = SendModeKind::Automatic;
    }
    void Open() { devices().OpenAll(window); }
    // A value on the slot, as one cycle of the acquisition thread delivers it.
    void Deliver(int s, double value) {
        const int busNo = devices::DeviceTypeOf(g_run.DeviceType[s]).bus.number;
        bus.Queue(busNo, g_run.Channel[s], {{kCollectValue, value}});
        ASSERT_EQ(Cycle(s), ReadOutcome::Shown);
    }
    // Request and read of slot s.
    ReadOutcome Cycle(int s) {
        g_run.SlotState[s] = SlotStage::Idle;
        devices().Request(s);
        g_run.SlotState[s] = SlotStage::Requested;
        return devices().Read(s, true);
    }
    devices::ReaderResult ReadBus(int s, bool requested) {
        return backend().Read(s, requested, devices::DeviceTypeOf(g_run.DeviceType[s]));
    }

    FakeWaitClock clock;
    FakeWindow window;
    FakeBus bus;
    bool withLibrary = true;
    std::unique_ptr<devices::DeviceSet> set_;
};

TEST_F(BusTest, RequestLatchesTheSlotsBusAndReadCollectsItsChannel) {
    for (int type = kBus1; type <= kBus8; ++type) Slot(type - kBus1 + 1, type, 2);
    g_run.Factor[3] = 2.0;
    g_run.Offset[3] = 0.5;
    bus.Queue(3, 2, {{kCollectValue, 1.25}});
    Open();
    EXPECT_EQ(bus.inits, 1);

    clock.ResetElapsed();
    EXPECT_EQ(Cycle(3), ReadOutcome::Shown);
    EXPECT_EQ(clock.elapsed(), 200u);  // the closing wait after the latch
    EXPECT_THAT(bus.latches, ElementsAre(3));
    EXPECT_THAT(bus.collects, ElementsAre(std::pair(3, 2)));
    EXPECT_DOUBLE_EQ(g_run.Value[3], 3.0);
    EXPECT_TRUE(g_run.ValueReady[3]);
    EXPECT_FALSE(g_run.ValueError[3]);
    EXPECT_EQ(g_run.SlotState[3], SlotStage::Read);
    EXPECT_EQ(g_run.StatusText[3].str(), L"");

    for (int s = 1; s <= 8; ++s) devices().Request(s);
    EXPECT_THAT(bus.latches, ElementsAre(3, 1, 2, 3, 4, 5, 6, 7, 8));
}

TEST_F(BusTest, ChannelIsASixteenBitNumberAndNoneOrNegativeMeansTheFirst) {
    const struct {
        int channel;
        int collected;
    } cases[] = {
        {0, 1}, {-1, 1}, {-300, 1}, {1, 1}, {5, 5}, {32767, 32767}, {65538, 2}, {32768, 1},
    };
    Slot(1, kBus2);
    Open();
    for (const auto& c : cases) {
        bus.collects.clear();
        g_run.Channel[1] = c.channel;
        ReadBus(1, true);
        EXPECT_THAT(bus.collects, ElementsAre(std::pair(2, c.collected))) << c.channel;
    }
}

TEST_F(BusTest, CollectAnswersByCodeAndWhetherALatchWasSent) {
    const struct {
        std::int16_t code;
        bool requested;
        int result;
        bool keepsValue;
    } cases[] = {
        {kNothingNew, true, 2, true}, {kNothingNew, false, 2, true},
        {kNotLatched, true, 2, true}, {kNotLatched, false, -2, false},  // polling: cleared at once
        {1, true, -2, false},         {-1, true, -2, false},
        {189, true, -2, false},       {191, false, -2, false},
    };
    Slot(1, kBus2, 4);
    Open();
    for (const auto& c : cases) {
        Deliver(1, 7.5);
        bus.Queue(2, 4, {{c.code, 0.0}});
        EXPECT_EQ(ReadBus(1, c.requested), c.result) << c.code << " " << c.requested;
        EXPECT_EQ(g_run.ValueReady[1], c.keepsValue) << c.code;
        EXPECT_DOUBLE_EQ(g_run.Value[1], c.keepsValue ? 7.5 : 0.0) << c.code;
        EXPECT_FALSE(g_run.ValueError[1]) << c.code;
    }
}

TEST_F(BusTest, ThirtyStoredAnswersThenTheSlotIsCleared) {
    Slot(1, kBus2);
    Open();
    Deliver(1, 4.25);
    std::vector<ReadOutcome> outcomes;
    for (int i = 0; i < 40; ++i) {
        outcomes.push_back(Cycle(1));
        if (i == 29) {
            EXPECT_EQ(g_run.StatusText[1].str(), L"stored");
            EXPECT_DOUBLE_EQ(g_run.Value[1], 4.25);
            EXPECT_FALSE(g_run.ValueError[1]);
        }
        if (i == 30) {
            EXPECT_EQ(g_run.StatusText[1].str(), L"device error");
            EXPECT_DOUBLE_EQ(g_run.Value[1], 0.0);
        }
    }
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.begin() + 30, ReadOutcome::StatusShown), 30);

    // Read directly: 30 times 2, then -2 with the slot cleared, and from then
    // on the slot has no value to keep.
    Deliver(1, 4.25);
    std::vector<int> results;
    for (int i = 0; i < 40; ++i) results.push_back(ReadBus(1, true));
    EXPECT_EQ(std::count(results.begin(), results.begin() + 30, 2), 30);
    EXPECT_EQ(std::count(results.begin() + 30, results.end(), -2), 10);
    EXPECT_FALSE(g_run.ValueReady[1]);
    EXPECT_DOUBLE_EQ(g_run.Value[1], 0.0);
    EXPECT_EQ(backend().staleCount(), 0);  // reset by the slot without value
}

TEST_F(BusTest, AllBusSlotsShareTheStoredAnswersAndAnyValueRenewsThem) {
    Slot(1, kBus2);
    Slot(2, kBus3, 2);
    Open();
    Deliver(1, 1.0);
    Deliver(2, 2.0);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(ReadBus(1, true), 2) << i;
        EXPECT_EQ(ReadBus(2, true), 2) << i;
    }
    EXPECT_EQ(ReadBus(2, true), -2);
    EXPECT_EQ(ReadBus(1, true), -2);

    // A value on one slot gives the other 30 answers again.
    Deliver(1, 1.0);
    Deliver(2, 2.0);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(ReadBus(1, true), 2);
    Deliver(2, 2.5);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(ReadBus(1, true), 2) << i;
    EXPECT_EQ(ReadBus(1, true), -2);
}

TEST_F(BusTest, ASlotShowingAnErrorWordHasNoValueToKeep) {
    Slot(1, kBus2);
    Open();
    Deliver(1, 3.0);
    bus.Queue(2, 1, {{5, 0.0}});
    Cycle(1);
    ASSERT_EQ(g_run.StatusText[1].str(), L"device error");
    ASSERT_TRUE(g_run.ValueReady[1]);  // set by the error word

    EXPECT_EQ(ReadBus(1, true), -2);  // not "stored" with a cleared value
    EXPECT_DOUBLE_EQ(g_run.Value[1], 0.0);
}

TEST_F(BusTest, AValueThatIsNoNumberIsAFault) {
    Slot(1, kBus2);
    Open();
    for (double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        Deliver(1, 3.0);
        bus.Queue(2, 1, {{kCollectValue, bad}});
        EXPECT_EQ(ReadBus(1, true), -2);
        EXPECT_FALSE(g_run.ValueReady[1]);
        EXPECT_DOUBLE_EQ(g_run.Value[1], 0.0);
    }
}

TEST_F(BusTest, FirstBusKeepsSilentAboutMissesWhateverTheCause) {
    Slot(1, kBus1);
    Open();
    Deliver(1, 6.0);
    for (int i = 0; i < 30; ++i) ASSERT_EQ(Cycle(1), ReadOutcome::StatusShown);
    EXPECT_EQ(g_run.StatusText[1].str(), L"stored");

    // The 31st read: the slot is cleared and the status stays as it was.
    EXPECT_EQ(devices().Read(1, true), ReadOutcome::NothingNew);
    EXPECT_EQ(g_run.StatusText[1].str(), L"stored");
    EXPECT_FALSE(g_run.ValueReady[1]);
    EXPECT_FALSE(g_run.ValueError[1]);

    // A failing collect, and 3 while polling, are as silent.
    bus.Queue(1, 1, {{9, 0.0}, {kNotLatched, 0.0}});
    EXPECT_EQ(devices().Read(1, true), ReadOutcome::NothingNew);
    EXPECT_EQ(devices().Read(1, false), ReadOutcome::NothingNew);
    EXPECT_EQ(g_run.StatusText[1].str(), L"stored");
    EXPECT_FALSE(g_run.ValueError[1]);

    // Bus 2 says what happened.
    Slot(2, kBus2);
    bus.Queue(2, 1, {{9, 0.0}});
    EXPECT_EQ(Cycle(2), ReadOutcome::StatusShown);
    EXPECT_EQ(g_run.StatusText[2].str(), L"device error");
}

TEST_F(BusTest, OpeningAgainWithoutCloseInitialisesOnceAndRenewsTheStoredAnswers) {
    Slot(1, kBus2);
    Open();
    Deliver(1, 1.0);
    for (int i = 0; i < 30; ++i) ReadBus(1, true);
    Open();
    EXPECT_EQ(bus.inits, 1);
    EXPECT_EQ(backend().staleCount(), 0);
    EXPECT_EQ(ReadBus(1, true), 2);

    devices().CloseAll();
    EXPECT_EQ(bus.deInits, 1);
    EXPECT_FALSE(backend().ready());
    Open();
    EXPECT_EQ(bus.inits, 2);
    EXPECT_EQ(bus.loads, 1);  // the library stays loaded
}

TEST_F(BusTest, DriverThatCannotStartIsReportedAndEveryBusSlotSaysUsbError) {
    const struct {
        bool library;
        std::int16_t initResult;
        bool ready;
    } cases[] = {
        {true, 0, true},  {true, -4, true},  // 0 or less: started
        {true, 1, false}, {true, 300, false}, {false, 0, false},
    };
    for (const auto& c : cases) {
        set_.reset();
        bus = FakeBus{};
        bus.initResult = c.initResult;
        window.messages.clear();
        withLibrary = c.library;
        Slot(1, kBus1);
        Slot(2, kBus8, 3);
        Open();
        EXPECT_EQ(backend().ready(), c.ready) << c.initResult;
        if (c.ready) {
            EXPECT_TRUE(window.messages.empty());
            EXPECT_EQ(bus.deInits, 0);
            continue;
        }
        EXPECT_THAT(window.messages, ElementsAre(kInitMessage)) << c.initResult;
        EXPECT_EQ(bus.deInits, c.library ? 1 : 0);

        // Not latched; the read clears the slot and the word is "usb error".
        for (int s : {1, 2}) {
            g_run.Value[s] = 9.0;
            EXPECT_EQ(Cycle(s), ReadOutcome::StatusShown);
            EXPECT_EQ(g_run.StatusText[s].str(), L"usb error");
            EXPECT_TRUE(g_run.ValueError[s]);
            EXPECT_DOUBLE_EQ(g_run.Value[s], 0.0);
        }
        EXPECT_TRUE(bus.latches.empty());
        EXPECT_TRUE(bus.collects.empty());
        devices().CloseAll();
    }
}

TEST_F(BusTest, NoBusSlotNoDriver) {
    Slot(1, 0);
    Slot(3, kBus2);
    g_run.DeviceCount = 2;  // the bus slot is beyond the slots in use
    Open();
    devices().CloseAll();
    EXPECT_EQ(bus.loads, 0);
    EXPECT_EQ(bus.inits, 0);
    EXPECT_EQ(bus.deInits, 0);
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(BusTest, CloseDeinitialisesEvenADriverThatDidNotStart) {
    bus.initResult = 1;
    Slot(1, kBus2);
    Open();
    ASSERT_EQ(bus.deInits, 1);
    devices().CloseAll();
    EXPECT_EQ(bus.deInits, 2);
    devices().CloseAll();
    EXPECT_EQ(bus.deInits, 3);
}

TEST(BusConfiguration, DriverGetsTheConfigurationBesideTheProgramUnlessTooLong) {
    ResetRunState();
    g_run.DeviceCount = 1;
    g_run.DeviceType[1] = kBus2;
    FakeWindow window;
    const struct {
        std::string folder;
        std::optional<std::string> path;
    } cases[] = {
        {"/opt/bench", "/opt/bench/ibr.ddk"},
        {std::string(1015, 'a'), std::string(1015, 'a') + "/ibr.ddk"},  // 1023 characters
        {std::string(1016, 'a'), std::nullopt},
    };
    for (const auto& c : cases) {
        FakeBus bus;
        {
            BusBackend backend(g_run, FakeBusLoader(bus), c.folder);
            backend.OpenAll(window);
            EXPECT_TRUE(backend.Setup(0x4242));
        }
        ASSERT_EQ(bus.initPaths.size(), 1u);
        EXPECT_EQ(bus.initPaths[0], c.path);
        ASSERT_EQ(bus.setups.size(), 1u);
        EXPECT_EQ(bus.setups[0].path, c.path);
        EXPECT_EQ(bus.setups[0].parent, 0x4242u);
        EXPECT_EQ(bus.setups[0].buffer, std::string(20, '\0'));
        EXPECT_EQ(bus.inits, 1);    // setup does not start the driver again
        EXPECT_EQ(bus.deInits, 1);  // the driver is let go with the back-end
    }
}

TEST(BusConfiguration, SetupWithoutDriverDoesNothing) {
    ResetRunState();
    BusBackend backend(
        g_run, [] { return std::unique_ptr<BusDriver>(); }, "/opt/bench");
    EXPECT_FALSE(backend.Setup(1));
    BusBackend none(g_run, BusLoader{}, "/opt/bench");
    EXPECT_FALSE(none.Setup(1));
}

TEST(BusLibrary, FileThatIsNoLibraryGivesNoDriver) {
    karvelo::testing::TempDir dir;
    dir.Write("libibr_ddk.so", "not a library");
    EXPECT_EQ(LoadBusDriver(dir.path().string()), nullptr);
}

}  // namespace
}  // namespace karvelo::ibrit
