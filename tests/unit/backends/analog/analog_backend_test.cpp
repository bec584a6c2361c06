#include "backends/analog/analog_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "backends/analog/sampling.h"
#include "backends/registry.h"
#include "devices/catalogue.h"
#include "devices/device_set.h"
#include "state/run_state.h"
#include "support/fake_wait_clock.h"
#include "support/fake_window.h"
#include "support/test_devices.h"

namespace karvelo::analog {
namespace {

using devices::ReadOutcome;
using karvelo::testing::FakeWaitClock;
using karvelo::testing::FakeWindow;
using karvelo::testing::NoPorts;
using karvelo::testing::TestDevices;

// One conversion the fake answers: a raw value, or a failure code.
struct Conversion {
    int result = 0;
    std::uint16_t raw = 0;
};
constexpr Conversion Fails{1, 0};
constexpr Conversion Raw(std::uint16_t r) {
    return {0, r};
}

// Modules whose inputs answer scripted conversions in order; an input without
// a script, or past its end, fails. Every call is recorded.
struct FakeModules {
    std::map<std::pair<int, int>, std::deque<Conversion>> inputs;  // (board, channel)
    std::vector<std::tuple<int, int, int>> calls;                  // board, channel, range
};

class FakeAnalogLibrary : public AnalogLibrary {
  public:
    explicit FakeAnalogLibrary(FakeModules& m) : m_(m) {}
    int AIn(int board, int channel, int range, std::uint16_t* value) override {
        m_.calls.emplace_back(board, channel, range);
        std::deque<Conversion>& script = m_.inputs[{board, channel}];
        if (script.empty()) return 1;
        const Conversion c = script.front();
        script.pop_front();
        if (c.result == 0) *value = c.raw;
        return c.result;
    }

  private:
    FakeModules& m_;
};

TEST(SampleOfFour, DropsTheConversionFarthestFromTheOthers) {
    struct Case {
        FourConversions c;
        double m;
    } cases[] = {
        {{1000, 1001, 1002, 1400}, 1001.0},  // the fourth is dropped
        {{1400, 1000, 1001, 1002}, 1001.0},  // the first is dropped
        {{1000, 1400, 1001, 1002}, 1001.0},  // the second
        {{1000, 1001, 600, 1002}, 1001.0},   // the third, from below
        {{500, 500, 500, 500}, 500.0},       // equal: m unchanged
        {{100, 100, 200, 200}, 150.0},       // equally distant: all kept
        {{10, 20, 30, 40}, 25.0},            // two outermost tie: kept
        {{1000, 1001, 1001, 1400}, 1000.0},  // (1000 + 1001 + 1001) / 3 drops its fraction
        {{0, 0, 0, 65535}, 0.0},
        {{65535, 65535, 65535, 0}, 65535.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SampleOfFour(c.c), c.m)
            << c.c[0] << " " << c.c[1] << " " << c.c[2] << " " << c.c[3];
    }
}

TEST(Conversions, AFailedConversionIsTriedOnceMore) {
    FakeModules m;
    FakeAnalogLibrary lib(m);
    m.inputs[{0, 0}] = {Fails, Raw(7), Fails, Fails};
    EXPECT_EQ(Convert(lib, {0, 0, 1}), std::optional<std::uint16_t>(7));
    EXPECT_EQ(Convert(lib, {0, 0, 1}), std::nullopt);
    EXPECT_EQ(m.calls.size(), 4u);
}

TEST(SlotInput, BoardAndChannelFromTheSlot) {
    struct BoardCase {
        const wchar_t* sn;
        int board;
    } boards[] = {{L"2", 2},   {L"", 0},
                  {L"abc", 0}, {L"-3", 0},
                  {L" 7x", 7}, {L"0000000000000012", 1}};  // only 15 characters are read
    for (const BoardCase& c : boards) EXPECT_EQ(BoardOf(c.sn), c.board);
    struct ChannelCase {
        int ch;
        int channel;
    } channels[] = {{3, 3}, {-1, 0}, {65539, 3}, {32768, 0}, {32767, 32767}};
    for (const ChannelCase& c : channels) EXPECT_EQ(ChannelOf(c.ch), c.channel) << c.ch;
}

class AnalogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        g_run.DeviceCount = 10;
    }

    devices::DeviceSet& devices() {
        if (!set_) {
            backends::DeviceSources sources = TestDevices::Sources(NoPorts());
            if (installed) {
                sources.loadAnalog = [this]() -> std::unique_ptr<AnalogLibrary> {
                    return std::make_unique<FakeAnalogLibrary>(modules);
                };
            }
            set_ = std::make_unique<devices::DeviceSet>(
                g_run, backends::StationBackends(g_run, window, std::move(sources)));
            set_->OpenAll(window);
        }
        return *set_;
    }
    static void Slot(int s, int type, const wchar_t* serial = L"", int channel = 0) {
        g_run.DeviceType[s] = type;
        g_run.SerialNo[s] = serial;
        g_run.Channel[s] = channel;
        g_run.Factor[s] = 1.0;
        g_run.Offset[s] = 0.0;
    }
    void Script(int board, int channel, int count, std::uint16_t raw) {
        for (int i = 0; i < count; ++i) modules.inputs[{board, channel}].push_back(Raw(raw));
    }
    ReadOutcome Measure(int s) {
        devices().Request(s);
        g_run.SlotState[s] = SlotStage::Requested;
        return devices().Read(s, true);
    }

    FakeWaitClock clock;
    FakeWindow window;
    FakeModules modules;
    bool installed = true;

  private:
    std::unique_ptr<devices::DeviceSet> set_;
};

TEST_F(AnalogTest, EveryTypeReadsItsInputWithItsRangeAndConversion) {
    struct Case {
        int type;
        const wchar_t* sn;
        int ch;
        int board, channel, range, conversions;
        std::uint16_t raw;
        double value;
    } cases[] = {
        {40, L"1", 2, 1, 2, 1, 20, 49152, 5.0},
        {41, L"2", 3, 2, 3, 0, 20, 49152, 2.5},
        {42, L"0", 0, 0, 0, 14, 20, 16384, -1.0},
        {43, L"0", 1, 0, 1, 4, 20, 32768, 0.0},
        {44, L"0", 0, 0, 0, 1, 4, 2048, 0.0},
        {45, L"3", 5, 3, 5, 0, 4, 3072, 2.5},
        {46, L"0", 0, 0, 0, 14, 4, 0, -2.0},
        {47, L"0", 0, 0, 0, 4, 4, 4095, 2047.0 / 2048},
        {51, L"5", 6, 0, 0, 4, 4, 2248, 1.0},
        {52, L"5", 6, 0, 0, 0, 4, 2148, 1.0},
        {53, L"5", 6, 0, 0, 14, 4, 33768, 1000 * (0.77 / 1000)},
        {54, L"5", 6, 0, 0, 1, 4, 32668, -100 * (1.54 / 1000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        ResetRunState();
        g_run.DeviceCount = 10;
        modules = FakeModules{};
        Slot(1, c.type, c.sn, c.ch);
        Script(c.board, c.channel, c.conversions, c.raw);
        AnalogBackend backend(g_run,
                              [this] { return std::make_unique<FakeAnalogLibrary>(modules); });
        backend.OpenAll(window);
        EXPECT_EQ(backend.Read(1, true, devices::DeviceTypeOf(c.type)), devices::kValueStored);
        EXPECT_EQ(g_run.Value[1], c.value);
        EXPECT_EQ(modules.calls.size(), static_cast<std::size_t>(c.conversions));
        for (const auto& call : modules.calls) {
            EXPECT_EQ(call, std::make_tuple(c.board, c.channel, c.range));
        }
        EXPECT_EQ(g_run.SlotState[1], SlotStage::Read);
        EXPECT_TRUE(g_run.ValueReady[1]);
    }
}

TEST_F(AnalogTest, TheUmpkFactorsAreTheDoublesOfTheirQuotients) {
    EXPECT_EQ(devices::DeviceTypeOf(53).analog.multiplier, 0.0007700000000000001);
    EXPECT_EQ(devices::DeviceTypeOf(54).analog.multiplier, 0.0015400000000000001);
}

TEST_F(AnalogTest, RedLab16AveragesFiveSamplesThenScales) {
    // Five samples 32768 .. 32772 average to 32770: (2 / 32768) * 10 volts.
    for (int i = 0; i < 5; ++i) Script(0, 0, 4, static_cast<std::uint16_t>(32768 + i));
    Slot(1, 40);
    g_run.Factor[1] = 2.0;
    g_run.Offset[1] = 0.5;
    EXPECT_EQ(Measure(1), ReadOutcome::Shown);
    EXPECT_DOUBLE_EQ(g_run.Value[1], 2.0 / 32768 * 10 * 2.0 + 0.5);
    EXPECT_EQ(g_run.StatusText[1].str(), L"");
}

TEST_F(AnalogTest, AConversionFailingOnceIsRepeated) {
    modules.inputs[{0, 0}] = {Raw(2248), Fails, Raw(2248), Raw(2248), Raw(2248)};
    Slot(1, 51);
    EXPECT_EQ(Measure(1), ReadOutcome::Shown);
    EXPECT_EQ(g_run.Value[1], 1.0);
    EXPECT_EQ(modules.calls.size(), 5u);
}

TEST_F(AnalogTest, AConversionFailingTwiceEndsTheReadingAndKeepsTheOldResult) {
    struct Case {
        int type;
        std::deque<Conversion> script;
        std::size_t calls;
    } cases[] = {
        {44, {Fails, Fails}, 2},                        // module not attached
        {44, {Raw(2048), Raw(2048), Fails, Fails}, 4},  // in the middle of one sample
        {40, {Raw(1), Raw(1), Raw(1), Raw(1), Raw(1), Fails, Fails}, 7},  // in the second
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        ResetRunState();
        g_run.DeviceCount = 10;
        modules = FakeModules{};
        modules.inputs[{0, 0}] = c.script;
        Slot(1, c.type);
        g_run.Value[1] = 4.25;
        g_run.ValueReady[1] = true;
        g_run.SlotState[1] = SlotStage::Requested;
        AnalogBackend backend(g_run,
                              [this] { return std::make_unique<FakeAnalogLibrary>(modules); });
        backend.OpenAll(window);
        EXPECT_EQ(backend.Read(1, true, devices::DeviceTypeOf(c.type)), devices::kNoAnswer);
        EXPECT_EQ(g_run.Value[1], 4.25);
        EXPECT_TRUE(g_run.ValueReady[1]);
        EXPECT_EQ(g_run.SlotState[1], SlotStage::Requested);
        EXPECT_EQ(modules.calls.size(), c.calls);
    }
}

TEST_F(AnalogTest, AFailedReadingAfterARequestIsUnavailable) {
    Slot(1, 41, L"2", 3);
    EXPECT_EQ(Measure(1), ReadOutcome::StatusShown);
    EXPECT_EQ(g_run.StatusText[1].str(), L"unavailable");
    EXPECT_TRUE(g_run.ValueError[1]);
}

TEST_F(AnalogTest, APollWithoutRequestClearsTheSlotWithoutAConversion) {
    Slot(1, 52);
    devices();
    g_run.Value[1] = 3.0;
    g_run.ValueReady[1] = true;
    g_run.StatusText[1] = L"unavailable";
    EXPECT_EQ(devices().Read(1, false), ReadOutcome::NothingNew);
    EXPECT_EQ(g_run.Value[1], 0.0);
    EXPECT_FALSE(g_run.ValueReady[1]);
    EXPECT_EQ(g_run.StatusText[1].str(), L"unavailable");
    EXPECT_TRUE(modules.calls.empty());
}

TEST_F(AnalogTest, RedLabRequestsOnlyWaitAndUmpkIsNotRequested) {
    Slot(1, 44);
    Slot(2, 51);
    devices();
    g_run.StatusText[1] = L"unavailable";
    g_run.StatusText[2] = L"unavailable";
    clock.ResetElapsed();
    devices().Request(1);
    EXPECT_EQ(clock.elapsed(), 200u);
    EXPECT_EQ(g_run.StatusText[1].str(), L"");
    devices().Request(2);
    EXPECT_EQ(clock.elapsed(), 200u);
    EXPECT_EQ(g_run.StatusText[2].str(), L"unavailable");
    EXPECT_TRUE(modules.calls.empty());
}

TEST_F(AnalogTest, WithoutTheLibraryTheSlotShowsUsbError) {
    installed = false;
    Slot(1, 45);
    EXPECT_EQ(Measure(1), ReadOutcome::StatusShown);
    EXPECT_EQ(g_run.StatusText[1].str(), L"usb error");
}

}  // namespace
}  // namespace karvelo::analog
