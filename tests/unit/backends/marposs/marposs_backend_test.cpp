#include "backends/marposs/marposs_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/null_window.h"
#include "app/timers.h"
#include "backends/registry.h"
#include "devices/catalogue.h"
#include "devices/device_set.h"
#include "state/control_ids.h"
#include "state/marposs_handover.h"
#include "state/run_state.h"
#include "support/fake_wait_clock.h"
#include "support/fake_window.h"
#include "support/test_devices.h"
#include "support/threaded_fake_window.h"

namespace karvelo::marposs {
namespace {

using devices::ReadOutcome;
using karvelo::testing::NoPorts;
using karvelo::testing::TestDevices;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kMarposs = 22;

// What the fake box answers and every call made ("init 1", "read 2"), with
// the thread that made it. Shared by the libraries the loader hands out.
struct MarpossBox {
    int initResult = 1;
    std::map<int, double> values;  // by channel
    std::vector<std::string> calls;
    std::vector<std::thread::id> threads;
    int loads = 0;
};

class FakeMarposs : public MarpossLibrary {
  public:
    explicit FakeMarposs(std::shared_ptr<MarpossBox> box) : box_(std::move(box)) {}

    int Init(int mode) override {
        Note("init " + std::to_string(mode));
        return box_->initResult;
    }
    double ReadValue(int channel) override {
        Note("read " + std::to_string(channel));
        return box_->values[channel];
    }

  private:
    void Note(std::string call) {
        box_->calls.push_back(std::move(call));
        box_->threads.push_back(std::this_thread::get_id());
    }
    std::shared_ptr<MarpossBox> box_;
};

backends::DeviceSources SourcesWith(std::shared_ptr<MarpossBox> box, bool installed = true) {
    backends::DeviceSources sources = TestDevices::Sources(NoPorts());
    sources.loadMarposs = [box, installed]() -> std::unique_ptr<MarpossLibrary> {
        ++box->loads;
        if (!installed) return nullptr;
        return std::make_unique<FakeMarposs>(box);
    };
    return sources;
}

class MarpossTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        g_marposs.Library = nullptr;
        g_run.DeviceCount = 10;
        Slot(3, 2, 2.0, 1.0);
    }
    void TearDown() override {
        set_.reset();
        EXPECT_EQ(g_marposs.Library.load(), nullptr) << "the library is not lent beyond its set";
    }

    // The station's set; the tools' null window answers timer 8 at once, on
    // this thread, as the station's window does on its own.
    devices::DeviceSet& devices(bool installed = true) {
        if (!set_) {
            set_ = std::make_unique<devices::DeviceSet>(
                g_run, backends::StationBackends(g_run, window, SourcesWith(box, installed)));
        }
        return *set_;
    }

    static void Slot(int s, int channel, double factor = 1.0, double offset = 0.0) {
        g_run.DeviceType[s] = kMarposs;
        g_run.Channel[s] = channel;
        g_run.Factor[s] = factor;
        g_run.Offset[s] = offset;
    }

    std::shared_ptr<MarpossBox> box = std::make_shared<MarpossBox>();
    app::NullWindow window;

  private:
    std::unique_ptr<devices::DeviceSet> set_;
};

TEST_F(MarpossTest, RequestedReadTakesTheChannelsValue) {
    box->values[2] = 1.25;
    devices().OpenAll(window);
    g_run.SlotState[3] = SlotStage::Requested;

    EXPECT_EQ(devices().Read(3, true), ReadOutcome::Shown);

    EXPECT_THAT(box->calls, ElementsAre("init 1", "read 2"));
    EXPECT_DOUBLE_EQ(g_run.Value[3], 1.25 * 2.0 + 1.0);
    EXPECT_EQ(g_run.StatusText[3].str(), L"");
    EXPECT_EQ(g_run.SlotState[3], SlotStage::Read);
}

TEST_F(MarpossTest, PolledWithoutRequestIsClearedAndTheBoxNotAsked) {
    devices().OpenAll(window);
    g_run.Value[3] = 4.0;
    g_run.ValueReady[3] = true;
    g_run.StatusText[3] = L"before";

    EXPECT_EQ(devices().Read(3, false), ReadOutcome::NothingNew);
    EXPECT_EQ(g_marposs.Result, -1);

    EXPECT_THAT(box->calls, ElementsAre("init 1"));
    EXPECT_FALSE(g_run.ValueReady[3]);
    EXPECT_DOUBLE_EQ(g_run.Value[3], 0.0);
    EXPECT_EQ(g_run.StatusText[3].str(), L"before");
}

TEST_F(MarpossTest, NotReadyBoxReadsErrorWithoutReadValue) {
    struct Case {
        const char* name;
        bool installed;
        int initResult;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"Init 0", true, 0, {"init 1"}},
        {"Init 2", true, 2, {"init 1"}},
        {"Init -1", true, -1, {"init 1"}},
        {"no library", false, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        box = std::make_shared<MarpossBox>();
        box->initResult = c.initResult;
        karvelo::testing::FakeWindow fake;
        MarpossBackend backend(g_run, g_marposs, window, [&]() -> std::unique_ptr<MarpossLibrary> {
            if (!c.installed) return nullptr;
            return std::make_unique<FakeMarposs>(box);
        });
        backend.OpenAll(fake);
        g_run.Value[3] = 4.0;
        g_run.ValueReady[3] = true;

        EXPECT_EQ(backend.Read(3, true, devices::DeviceTypeOf(kMarposs)), devices::kErrorMarker);

        EXPECT_EQ(box->calls, c.calls);
        EXPECT_DOUBLE_EQ(g_run.Value[3], 0.0);
        EXPECT_FALSE(g_run.ValueReady[3]);
        EXPECT_THAT(fake.messages, IsEmpty());
    }
}

TEST_F(MarpossTest, CloseTakesTheBoxAwayAndAnOpenInitialisesItAgain) {
    box->values[2] = 3.0;
    devices().OpenAll(window);
    devices().CloseAll();
    EXPECT_EQ(devices().Read(3, true), ReadOutcome::StatusShown);
    EXPECT_EQ(g_run.StatusText[3].str(), L"error");
    EXPECT_THAT(box->calls, ElementsAre("init 1"));

    devices().OpenAll(window);
    EXPECT_EQ(devices().Read(3, true), ReadOutcome::Shown);
    EXPECT_DOUBLE_EQ(g_run.Value[3], 7.0);
    EXPECT_THAT(box->calls, ElementsAre("init 1", "init 1", "read 2"));
    EXPECT_EQ(box->loads, 1) << "loaded once, kept";

    // An open whose Init fails leaves the box not ready.
    box->initResult = 0;
    devices().OpenAll(window);
    EXPECT_EQ(devices().Read(3, true), ReadOutcome::StatusShown);
    EXPECT_EQ(g_run.StatusText[3].str(), L"error");
}

TEST_F(MarpossTest, NoMarpossSlotInUseLeavesTheLibraryAlone) {
    g_run.DeviceCount = 2;
    devices().OpenAll(window);
    EXPECT_EQ(box->loads, 0);
    EXPECT_EQ(g_marposs.Library.load(), nullptr);
}

// The acquisition thread only hands the slot over; Init and ReadValue run on
// the thread that serves the window's timers.
TEST_F(MarpossTest, EveryLibraryCallIsMadeOnTheUserInterfaceThread) {
    box->values[2] = 0.5;
    karvelo::testing::ThreadedFakeWindow ui;
    devices::DeviceSet set(g_run, backends::StationBackends(g_run, ui, SourcesWith(box)));
    set.OpenAll(ui);

    ReadOutcome outcome = ReadOutcome::NothingNew;
    std::thread acquisition([&] { outcome = set.Read(3, true); });
    const bool started = ui.WaitForTimerStarts(kMarpossTimer, 1);
    if (started) app::OnTimerEvent(kMarpossTimer, ui);
    acquisition.join();
    set.CloseAll();

    ASSERT_TRUE(started);
    EXPECT_EQ(outcome, ReadOutcome::Shown);
    EXPECT_DOUBLE_EQ(g_run.Value[3], 2.0);
    EXPECT_THAT(box->calls, ElementsAre("init 1", "read 2"));
    const std::thread::id here = std::this_thread::get_id();
    EXPECT_THAT(box->threads, ElementsAre(here, here));
}

}  // namespace
}  // namespace karvelo::marposs
