#include "backends/ik220/card_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backends/registry.h"
#include "devices/catalogue.h"
#include "devices/device_set.h"
#include "state/run_state.h"
#include "support/fake_wait_clock.h"
#include "support/fake_window.h"
#include "support/test_devices.h"

namespace karvelo::ik220 {
namespace {

using devices::ReadOutcome;
using karvelo::testing::FakeWaitClock;
using karvelo::testing::FakeWindow;
using karvelo::testing::NoPorts;
using karvelo::testing::TestDevices;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kIk220 = 20;
constexpr int kPu11 = 11;

// A card of scripted axes that records every call.
struct FakeCard {
    int found = 1;                              // IK220Find's result
    std::map<int, std::uint32_t> ids;           // axis -> identification number
    std::map<int, std::vector<double>> values;  // axis -> positions, one per read
    bool readsFail = false;
    std::vector<std::string> calls;
};

class FakeCardLibrary : public CardLibrary {
  public:
    explicit FakeCardLibrary(FakeCard& card) : card_(card) {}

    int Find(std::uint32_t table[kAxisTableEntries]) override {
        card_.calls.push_back("find");
        for (const auto& [axis, id] : card_.ids) table[axis] = id;
        return card_.found;
    }
    int Init(std::uint16_t axis) override {
        card_.calls.push_back("init " + std::to_string(axis));
        return 1;
    }
    int WritePar(std::uint16_t axis, std::uint16_t par, std::uint32_t value) override {
        card_.calls.push_back("par " + std::to_string(axis) + " " + std::to_string(par) + "=" +
                              std::to_string(value));
        return 1;
    }
    int Read48(std::uint16_t axis, std::uint16_t latch, double* value) override {
        card_.calls.push_back("read48 " + std::to_string(axis) + " " + std::to_string(latch));
        return Next(axis, value);
    }
    int ReadEn(std::uint16_t axis, std::uint32_t* status, double* value,
               std::uint32_t* alarm) override {
        card_.calls.push_back("readEn " + std::to_string(axis));
        *status = 0xFFFFFFFF;  // the words are the library's: written, never looked at
        *alarm = 0xFFFFFFFF;
        return Next(axis, value);
    }

  private:
    int Next(std::uint16_t axis, double* value) {
        std::vector<double>& v = card_.values[axis];
        if (card_.readsFail || v.empty()) return 0;
        *value = v.front();
        v.erase(v.begin());
        return 1;
    }
    FakeCard& card_;
};

class CardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        g_run.DeviceCount = 10;
    }

    devices::DeviceSet& devices() {
        if (!set_) {
            backends::DeviceSources sources = TestDevices::Sources(NoPorts());
            if (installed) {
                sources.loadCard = [this]() -> std::unique_ptr<CardLibrary> {
                    ++loads;
                    return std::make_unique<FakeCardLibrary>(card);
                };
            }
            set_ = std::make_unique<devices::DeviceSet>(
                g_run, backends::StationBackends(g_run, window, std::move(sources)));
        }
        return *set_;
    }
    devices::Backend& backend() { return *devices().BackendFor(devices::Transport::CounterCard); }

    static void Slot(int s, int type, const wchar_t* serial, int parameter = 0, int channel = 1) {
        g_run.DeviceType[s] = type;
        g_run.TypeText[s] = std::wstring(devices::DeviceTypeOf(type).name.begin(),
                                         devices::DeviceTypeOf(type).name.end());
        g_run.PortText[s] = L"PCI";
        g_run.SerialNo[s] = serial;
        g_run.Channel[s] = channel;
        g_run.Parameter[s] = parameter;
        g_run.Factor[s] = 1.0;
        g_run.Offset[s] = 0.0;
    }
    void Open() { devices().OpenAll(window); }
    // The request and the read of one cycle, as the acquisition thread runs them.
    ReadOutcome Measure(int s) {
        devices().Request(s);
        g_run.SlotState[s] = SlotStage::Requested;
        return devices().Read(s, true);
    }

    FakeWaitClock clock;
    FakeWindow window;
    FakeCard card;
    bool installed = true;
    int loads = 0;

  private:
    std::unique_ptr<devices::DeviceSet> set_;
};

TEST_F(CardTest, BindsByIdentificationNumberAndSetsUpTheInterface) {
    struct Case {
        int parameter;
        std::vector<std::string> writes;
    } cases[] = {
        {0, {"par 3 1=0", "par 3 2=1"}},  // 1Vss
        {1, {"par 3 1=0", "par 3 2=0"}},  // 11µA
        {2, {"par 3 1=1"}},               // EnDat
        {3, {"par 3 1=2"}},               // SSI
        {4, {}},
        {-1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parameter);
        ResetRunState();
        g_run.DeviceCount = 10;
        card = FakeCard{};
        card.ids = {{0, 777}, {3, 12345}};
        Slot(1, kIk220, L"12345.9", c.parameter);
        CardBackend backend(g_run, [this] { return std::make_unique<FakeCardLibrary>(card); });
        backend.OpenAll(window);
        EXPECT_EQ(g_run.Channel[1], 3);
        std::vector<std::string> expected = {"find", "init 3"};
        expected.insert(expected.end(), c.writes.begin(), c.writes.end());
        EXPECT_EQ(card.calls, expected);
    }
}

TEST_F(CardTest, SerialNumbersAreReadAsNumbersAndComparedInTheirLow32Bits) {
    struct Case {
        const wchar_t* serial;
        int channel;
    } cases[] = {
        {L"12345", 3},  {L"12345.9", 3}, {L" 12345abc", 3}, {L"4294979641", 3}, {L"1.2345e4", 3},
        {L"12346", -1}, {L"", -1},       {L"abc", -1},      {L"1e30", -1},      {L"-4294954951", 3},
    };
    card.ids = {{3, 12345}};
    for (const Case& c : cases) {
        Slot(1, kIk220, c.serial);
        CardBackend backend(g_run, [this] { return std::make_unique<FakeCardLibrary>(card); });
        backend.OpenAll(window);
        EXPECT_EQ(g_run.Channel[1], c.channel)
            << std::string(c.serial, c.serial + wcslen(c.serial));
    }
}

TEST_F(CardTest, TwoSlotsOnOneAxisEachSetItUpAndOtherSlotsKeepTheirChannel) {
    card.ids = {{5, 42}};
    Slot(1, kIk220, L"42", 2);
    Slot(2, kPu11, L"", 0, 3);
    Slot(3, kIk220, L"42", 3);
    Open();
    EXPECT_EQ(g_run.Channel[1], 5);
    EXPECT_EQ(g_run.Channel[2], 3);
    EXPECT_EQ(g_run.Channel[3], 5);
    EXPECT_THAT(card.calls, ElementsAre("find", "init 5", "par 5 1=1", "init 5", "par 5 1=2"));
}

TEST_F(CardTest, TheRowOfEverySlotShowsItsChannelAfterTheOpen) {
    card.ids = {{2, 900}};
    Slot(1, kIk220, L"900");
    Slot(2, kIk220, L"901");
    Slot(3, kPu11, L"P11A", 0, 4);
    Open();
    EXPECT_EQ(g_run.DeviceSummary[1].str(), L"IK220 / PCI / 900 C:2");
    EXPECT_EQ(g_run.DeviceSummary[2].str(), L"IK220 / PCI / 901 C:-1");
    EXPECT_EQ(g_run.DeviceSummary[3].str(), L"PU 11 / PCI / P11A C:4");
}

TEST_F(CardTest, NoCardSlotInUseLeavesTheCardAlone) {
    card.ids = {{0, 1}};
    Slot(4, kIk220, L"1");
    g_run.DeviceCount = 3;
    Open();
    EXPECT_THAT(card.calls, IsEmpty());
    EXPECT_EQ(loads, 0);
    EXPECT_EQ(g_run.Channel[4], 1);
}

TEST_F(CardTest, ReadsThroughTheCallOfTheInterfaceAndScalesTheValue) {
    struct Case {
        int parameter;
        std::string call;
    } cases[] = {{0, "read48 1 0"}, {1, "read48 1 0"}, {2, "readEn 1"}, {3, "readEn 1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parameter);
        card = FakeCard{};
        card.ids = {{1, 55}};
        card.values[1] = {2.5};
        Slot(1, kIk220, L"55", c.parameter);
        g_run.Factor[1] = 0.001;
        g_run.Offset[1] = 1.0;
        CardBackend backend(g_run, [this] { return std::make_unique<FakeCardLibrary>(card); });
        backend.OpenAll(window);
        const devices::DeviceType& type = devices::DeviceTypeOf(kIk220);
        EXPECT_EQ(backend.Read(1, true, type), devices::kValueStored);
        EXPECT_EQ(card.calls.back(), c.call);
        EXPECT_DOUBLE_EQ(g_run.Value[1], 1.0025);
        EXPECT_TRUE(g_run.ValueReady[1]);
        EXPECT_EQ(g_run.SlotState[1], SlotStage::Read);
    }
}

TEST_F(CardTest, AnUnknownInterfaceReadsNothingAndIsInvalid) {
    card.ids = {{1, 55}};
    card.values[1] = {2.5};
    Slot(1, kIk220, L"55", 7);
    Open();
    EXPECT_EQ(Measure(1), ReadOutcome::StatusShown);
    EXPECT_EQ(g_run.StatusText[1].str(), L"invalid");
    EXPECT_THAT(card.calls, ElementsAre("find", "init 1"));
}

TEST_F(CardTest, AFailedReadClearsTheSlotAndShowsError) {
    card.ids = {{1, 55}};
    card.readsFail = true;
    Slot(1, kIk220, L"55");
    Open();
    g_run.Value[1] = 9.0;
    EXPECT_EQ(Measure(1), ReadOutcome::StatusShown);
    EXPECT_EQ(g_run.StatusText[1].str(), L"error");
    EXPECT_EQ(g_run.Value[1], 0.0);
    EXPECT_TRUE(g_run.ValueError[1]);
}

TEST_F(CardTest, AnIdentificationNumberNoAxisCarriesIsAPciErrorOnRequestAndInvalidOnRead) {
    card.ids = {{1, 55}};
    Slot(1, kIk220, L"56");
    Open();
    devices().Request(1);
    EXPECT_EQ(g_run.StatusText[1].str(), L"pci error");
    EXPECT_TRUE(g_run.ValueError[1]);
    EXPECT_EQ(devices().Read(1, true), ReadOutcome::StatusShown);
    EXPECT_EQ(g_run.StatusText[1].str(), L"invalid");
    EXPECT_EQ(card.calls, std::vector<std::string>{"find"});
}

// Without a card a slot binds to nothing: its configured channel would name an
// axis it never asked for.
TEST_F(CardTest, WithoutACardNoAxisIsReadAndTheSlotShowsPciError) {
    struct Case {
        const char* what;
        bool installed;
        int found;
    } cases[] = {{"no library", false, 1}, {"find fails", true, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRunState();
        g_run.DeviceCount = 10;
        card = FakeCard{};
        card.found = c.found;
        card.ids = {{1, 55}};
        card.values[1] = {2.5};
        Slot(1, kIk220, L"55");
        CardBackend backend(g_run, [this, &c]() -> std::unique_ptr<CardLibrary> {
            if (!c.installed) return nullptr;
            return std::make_unique<FakeCardLibrary>(card);
        });
        backend.OpenAll(window);
        const devices::DeviceType& type = devices::DeviceTypeOf(kIk220);
        EXPECT_EQ(g_run.Channel[1], -1);
        EXPECT_EQ(backend.Request(1, type), devices::RequestOutcome::DeviceMissing);
        EXPECT_EQ(backend.Read(1, true, type), devices::kNotOpen);
        EXPECT_EQ(backend.ListDevices(type), std::vector<std::wstring>{});
        for (const std::string& call : card.calls)
            EXPECT_EQ(call.rfind("read", 0), std::string::npos);
    }
}

TEST_F(CardTest, APollWithoutRequestClearsTheSlotAndChangesNoWord) {
    card.ids = {{1, 55}};
    card.values[1] = {2.5, 3.5};
    Slot(1, kIk220, L"55");
    Open();
    Measure(1);
    EXPECT_EQ(g_run.Value[1], 2.5);
    EXPECT_EQ(devices().Read(1, false), ReadOutcome::NothingNew);
    EXPECT_EQ(g_run.Value[1], 0.0);
    EXPECT_FALSE(g_run.ValueReady[1]);
    EXPECT_EQ(card.calls.back(), "read48 1 0");
    EXPECT_EQ(card.calls.size(), 5u);  // find, init, two parameters, one read
}

TEST_F(CardTest, ReopeningFindsTheAxesAgainAndTheLibraryIsLoadedOnce) {
    card.ids = {{1, 55}};
    Slot(1, kIk220, L"55");
    Open();
    devices().CloseAll();
    card.ids = {{6, 55}};
    Open();
    EXPECT_EQ(g_run.Channel[1], 6);
    EXPECT_EQ(loads, 1);
    EXPECT_THAT(card.calls, ElementsAre("find", "init 1", "par 1 1=0", "par 1 2=1", "find",
                                        "init 6", "par 6 1=0", "par 6 2=1"));
}

TEST_F(CardTest, ListsTheIdentificationNumbersOfTheAxes) {
    card.ids = {{0, 7}, {4, 4294967295u}, {7, 12345}, {9, 99}};
    EXPECT_THAT(backend().ListDevices(devices::DeviceTypeOf(kIk220)),
                ElementsAre(L"7", L"4294967295", L"12345"));
    EXPECT_THAT(backend().ListDevices(devices::DeviceTypeOf(kPu11)), IsEmpty());
}

}  // namespace
}  // namespace karvelo::ik220
