#include "backends/orbit/orbit_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "backends/registry.h"
#include "devices/catalogue.h"
#include "devices/device_set.h"
#include "state/run_state.h"
#include "support/fake_window.h"
#include "support/test_devices.h"

namespace karvelo::orbit {
namespace {

using devices::ReadOutcome;
using karvelo::testing::FakeWindow;
using karvelo::testing::NoPorts;
using karvelo::testing::TestDevices;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kOrbit = 21;

// One answer of OrbitRead2.
struct Answer {
    std::int32_t status;
    std::int32_t reading;
};

// What the fake networks answer, and every call made, as "rst 0" or
// "setmode 0 3 50 64". Shared by the libraries the loader hands out.
struct OrbitNetworks {
    std::int32_t connectStatus = 0;
    std::int32_t count = 1;
    std::map<std::pair<int, int>, std::deque<Answer>> answers;  // by (network, channel)
    std::vector<std::string> calls;
    std::wstring problem;  // a library without an entry point
    int loads = 0;
    int alive = 0;  // libraries not yet released
};

class FakeOrbit : public OrbitLibrary {
  public:
    explicit FakeOrbit(std::shared_ptr<OrbitNetworks> n) : n_(std::move(n)) { ++n_->alive; }
    ~FakeOrbit() override { --n_->alive; }

    std::int32_t ConnectToOrbitNetworks(std::int32_t* count) override {
        n_->calls.push_back("connect");
        *count = n_->count;
        return n_->connectStatus;
    }
    std::int32_t OrbitRst(std::int32_t network) override {
        n_->calls.push_back("rst " + std::to_string(network));
        return 0;
    }
    std::int32_t OrbitSetmode(std::int32_t network, std::int32_t channel, std::int32_t* code,
                              std::int32_t* value) override {
        n_->calls.push_back("setmode " + std::to_string(network) + " " + std::to_string(channel) +
                            " " + std::to_string(*code) + " " + std::to_string(*value));
        *code = -1;  // the station must not rely on the codes it passed
        *value = -1;
        return 0;
    }
    std::int32_t OrbitRead2(std::int32_t network, std::int32_t channel,
                            std::int32_t* reading) override {
        n_->calls.push_back("read " + std::to_string(network) + " " + std::to_string(channel));
        auto& queue = n_->answers[{network, channel}];
        if (queue.empty()) return 1;
        const Answer a = queue.front();
        queue.pop_front();
        if (a.status == 0) *reading = a.reading;
        return a.status;
    }
    std::wstring Problem() const override { return n_->problem; }

  private:
    std::shared_ptr<OrbitNetworks> n_;
};

// Records the icon of each message too.
class IconWindow : public FakeWindow {
  public:
    void MessageBox(std::wstring_view caption, std::wstring_view text, MessageIcon icon) override {
        FakeWindow::MessageBox(caption, text, icon);
        icons.push_back(icon);
    }
    std::vector<MessageIcon> icons;
};

class OrbitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        g_run.DeviceCount = 10;
    }

    // The station's set with the fake library; `installed` false: no library.
    devices::DeviceSet& devices(bool installed = true) {
        if (!set_) {
            backends::DeviceSources sources = TestDevices::Sources(NoPorts());
            sources.loadOrbit = [this, installed]() -> std::unique_ptr<OrbitLibrary> {
                ++networks->loads;
                if (!installed) return nullptr;
                return std::make_unique<FakeOrbit>(networks);
            };
            set_ = std::make_unique<devices::DeviceSet>(
                g_run, backends::StationBackends(g_run, window, std::move(sources)));
        }
        return *set_;
    }

    static void Slot(int s, const wchar_t* network, int channel, double factor = 1.0,
                     double offset = 0.0) {
        g_run.DeviceType[s] = kOrbit;
        g_run.SerialNo[s] = network;
        g_run.Channel[s] = channel;
        g_run.Factor[s] = factor;
        g_run.Offset[s] = offset;
    }

    std::shared_ptr<OrbitNetworks> networks = std::make_shared<OrbitNetworks>();
    IconWindow window;

  private:
    std::unique_ptr<devices::DeviceSet> set_;
};

TEST_F(OrbitTest, OpenResetsEachNetworkOnceAndSetsBothModesPerSlotInOrder) {
    networks->count = 2;
    Slot(1, L"0", 3);
    Slot(2, L"1", 5);
    Slot(4, L"0", 7);
    g_run.DeviceCount = 4;
    // Beyond the slots in use: still put into reading mode.
    Slot(6, L"1 ", 2);

    devices().OpenAll(window);

    EXPECT_THAT(networks->calls,
                ElementsAre("connect", "rst 0", "rst 1", "setmode 0 3 50 64", "setmode 0 3 51 18",
                            "setmode 1 5 50 64", "setmode 1 5 51 18", "setmode 0 7 50 64",
                            "setmode 0 7 51 18", "setmode 1 2 50 64", "setmode 1 2 51 18"));
    EXPECT_THAT(window.messages, IsEmpty());
}

TEST_F(OrbitTest, NetworkNumberIsTheLeadingNumberOfSn) {
    Slot(1, L"", 1);
    Slot(2, L"x3", 1);
    Slot(3, L"  12abc", 4);
    devices().OpenAll(window);
    EXPECT_THAT(networks->calls,
                ElementsAre("connect", "rst 0", "setmode 0 1 50 64", "setmode 0 1 51 18",
                            "setmode 0 1 50 64", "setmode 0 1 51 18", "setmode 12 4 50 64",
                            "setmode 12 4 51 18"));
}

TEST_F(OrbitTest, NoOrbitSlotInUseLeavesTheLibraryAlone) {
    Slot(5, L"0", 1);
    g_run.DeviceCount = 4;
    devices().OpenAll(window);
    EXPECT_EQ(networks->loads, 0);
    EXPECT_THAT(window.messages, IsEmpty());
}

TEST_F(OrbitTest, ReadingIsScaledByCountsPerUnitThenFactorAndOffset) {
    struct Case {
        const char* name;
        Answer answer;
        double factor;
        double offset;
        ReadOutcome outcome;
        double value;
        const wchar_t* word;
    };
    const Case cases[] = {
        {"ten units", {0, 262144}, 1.0, 0.0, ReadOutcome::Shown, 10.0, L""},
        {"five units", {0, 131072}, 1.0, 0.0, ReadOutcome::Shown, 5.0, L""},
        {"negative", {0, -262144}, 1.0, 0.0, ReadOutcome::Shown, -10.0, L""},
        {"factor and offset", {0, 131072}, 2.0, 0.5, ReadOutcome::Shown, 10.5, L""},
        {"out of range 8466",
         {8466, 262144},
         1.0,
         0.0,
         ReadOutcome::StatusShown,
         0.0,
         L"out of range"},
        {"out of range 8467", {8467, 0}, 1.0, 0.0, ReadOutcome::StatusShown, 0.0, L"out of range"},
        {"other failure", {8465, 0}, 1.0, 0.0, ReadOutcome::StatusShown, 0.0, L"error"},
        {"negative failure", {-1, 0}, 1.0, 0.0, ReadOutcome::StatusShown, 0.0, L"error"},
    };
    Slot(2, L"1", 4);
    networks->count = 2;
    devices().OpenAll(window);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_run.Factor[2] = c.factor;
        g_run.Offset[2] = c.offset;
        g_run.Value[2] = 99.0;
        g_run.SlotState[2] = SlotStage::Requested;
        networks->answers[{1, 4}] = {c.answer};
        networks->calls.clear();

        EXPECT_EQ(devices().Read(2, true), c.outcome);

        EXPECT_THAT(networks->calls, ElementsAre("read 1 4"));
        EXPECT_DOUBLE_EQ(g_run.Value[2], c.value);
        EXPECT_EQ(g_run.StatusText[2].str(), c.word);
        const bool stored = c.outcome == ReadOutcome::Shown;
        EXPECT_EQ(g_run.SlotState[2], stored ? SlotStage::Read : SlotStage::Requested);
    }
}

TEST_F(OrbitTest, PollingNeverReadsTheProbe) {
    Slot(1, L"0", 3);
    devices().OpenAll(window);
    networks->answers[{0, 3}] = {{0, 262144}};
    networks->calls.clear();
    g_run.Value[1] = 4.0;
    g_run.ValueReady[1] = true;
    g_run.StatusText[1] = L"before";

    EXPECT_EQ(devices().Read(1, false), ReadOutcome::NothingNew);

    EXPECT_THAT(networks->calls, IsEmpty());
    EXPECT_FALSE(g_run.ValueReady[1]);
    EXPECT_DOUBLE_EQ(g_run.Value[1], 0.0);
    EXPECT_EQ(g_run.StatusText[1].str(), L"before");
}

TEST_F(OrbitTest, OpenFailuresAreToldAndEveryReadIsAnError) {
    struct Case {
        const char* name;
        bool installed;
        std::wstring problem;
        std::int32_t connectStatus;
        std::int32_t count;
        std::wstring message;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"no library", false, L"", 0, 1, L"KARVELO: Load Orbit DLL", {}},
        // Calling through a missing entry point would crash; the library is
        // not used at all.
        {"entry point missing",
         true,
         L"liborbit_if.so has no entry point OrbitRead2",
         0,
         1,
         L"KARVELO: Load Orbit DLL: liborbit_if.so has no entry point OrbitRead2",
         {}},
        {"connect fails", true, L"", 3, 2, L"KARVELO: Orbit not exist!", {"connect"}},
        {"no network", true, L"", 0, 0, L"KARVELO: Orbit not exist!", {"connect"}},
        {"negative count", true, L"", 0, -1, L"KARVELO: Orbit not exist!", {"connect"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        networks = std::make_shared<OrbitNetworks>();
        networks->problem = c.problem;
        networks->connectStatus = c.connectStatus;
        networks->count = c.count;
        networks->answers[{0, 3}] = {{0, 262144}};
        window.messages.clear();
        window.icons.clear();
        OrbitBackend backend(g_run, [&]() -> std::unique_ptr<OrbitLibrary> {
            if (!c.installed) return nullptr;
            return std::make_unique<FakeOrbit>(networks);
        });
        Slot(1, L"0", 3);

        backend.OpenAll(window);
        EXPECT_THAT(window.messages, ElementsAre(c.message));
        EXPECT_THAT(window.icons, ElementsAre(MessageIcon::Error));
        EXPECT_EQ(networks->calls, c.calls);

        g_run.Value[1] = 4.0;
        g_run.ValueReady[1] = true;
        EXPECT_EQ(backend.Read(1, true, devices::DeviceTypeOf(kOrbit)), devices::kErrorMarker);
        EXPECT_DOUBLE_EQ(g_run.Value[1], 0.0);
        EXPECT_FALSE(g_run.ValueReady[1]);
        EXPECT_EQ(networks->calls, c.calls) << "the probe is not read";
    }
}

TEST_F(OrbitTest, CloseKeepsTheNetworkReadyAndEachOpenConnectsAgain) {
    Slot(1, L"0", 3);
    devices().OpenAll(window);
    devices().CloseAll();
    EXPECT_EQ(networks->alive, 1) << "the library stays loaded";

    networks->answers[{0, 3}] = {{0, 131072}};
    EXPECT_EQ(devices().Read(1, true), ReadOutcome::Shown);
    EXPECT_DOUBLE_EQ(g_run.Value[1], 5.0);

    networks->calls.clear();
    devices().OpenAll(window);
    EXPECT_EQ(networks->loads, 2);
    EXPECT_THAT(networks->calls,
                ElementsAre("connect", "rst 0", "setmode 0 3 50 64", "setmode 0 3 51 18"));

    // A later open that cannot connect leaves the probes unread.
    networks->connectStatus = 1;
    devices().OpenAll(window);
    networks->answers[{0, 3}] = {{0, 131072}};
    networks->calls.clear();
    EXPECT_EQ(devices().Read(1, true), ReadOutcome::StatusShown);
    EXPECT_EQ(g_run.StatusText[1].str(), L"error");
    EXPECT_THAT(networks->calls, IsEmpty());
}

TEST(OrbitLibraryLoad, NoFileGivesNoLibrary) {
    // A folder without the file; the test machine has no Orbit library installed.
    EXPECT_EQ(LoadOrbitLibrary("/nonexistent-karvelo-folder"), nullptr);
}

}  // namespace
}  // namespace karvelo::orbit
