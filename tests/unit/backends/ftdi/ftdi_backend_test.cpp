#include "backends/ftdi/ftdi_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backends/ftdi/framed_command.h"
#include "devices/catalogue.h"
#include "state/run_state.h"
#include "support/fake_d2xx.h"
#include "support/fake_wait_clock.h"
#include "support/fake_window.h"
#include "support/test_devices.h"

namespace karvelo::ftdi {
namespace {

using devices::ReadOutcome;
using karvelo::testing::FakeAdapter;
using karvelo::testing::FakeAdapters;
using karvelo::testing::FakeWaitClock;
using karvelo::testing::FakeWindow;
using karvelo::testing::NoPorts;
using karvelo::testing::PuFirmware;
using karvelo::testing::TestDevices;
using ::testing::ElementsAre;

constexpr int kMahr = 10;
constexpr int kPu11 = 11;
constexpr int kPu60 = 14;
constexpr int kMfp = 17;
constexpr int kMax = 51;

class FtdiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        g_run.DeviceCount = 10;
    }
    void TearDown() override { devices().CloseAll(); }

    devices::DeviceSet& devices() {
        if (!devices_)
            devices_ = std::make_unique<TestDevices>(g_run, window, NoPorts(),
                                                     devices::DeviceSet::TextSlotReader{},
                                                     FakeAdapters(adapters, problems));
        return devices_->set;
    }
    FtdiBackend& backend() {
        return static_cast<FtdiBackend&>(*devices().BackendFor(devices::Transport::FtdiUsb));
    }
    static void Slot(int s, int type, const wchar_t* serial = L"", int channel = 1) {
        g_run.DeviceType[s] = type;
        g_run.SerialNo[s] = serial;
        g_run.Channel[s] = channel;
        g_run.Factor[s] = 1.0;
        g_run.Offset[s] = 0.0;
        g_run.SendMode[s] = SendModeKind::Automatic;
    }
    FakeAdapter& Adapter(std::string description, std::string serial, bool framed = false,
                         std::string reply = {}) {
        FakeAdapter a;
        a.description = std::move(description);
        a.serial = std::move(serial);
        a.answer = PuFirmware(framed, std::move(reply));
        adapters.push_back(std::move(a));
        return adapters.back();
    }
    void Open() { devices().OpenAll(window); }
    // One acquisition cycle over slots 1..n as the acquisition thread runs it
    // for "autom." slots: request where idle, read what was requested.
    std::vector<ReadOutcome> Cycle(int n) {
        std::vector<ReadOutcome> results;
        for (int s = 1; s <= n; ++s) g_run.SlotState[s] = SlotStage::Idle;
        for (int s = 1; s <= n; ++s) {
            if (g_run.SlotState[s] == SlotStage::Idle) {
                devices().Request(s);
                g_run.SlotState[s] = SlotStage::Requested;
                results.push_back(devices().Read(s, true));
            }
        }
        return results;
    }
    // Writes after the version probe.
    static std::vector<std::string> Requests(const FakeAdapter& a) {
        std::vector<std::string> r;
        for (const std::string& w : a.writes) {
            if (w != "VER\r" && w != "$VER*41\r") r.push_back(w);
        }
        return r;
    }

    FakeWaitClock clock;
    FakeWindow window;
    std::vector<FakeAdapter> adapters;
    std::vector<std::wstring> problems;
    std::unique_ptr<TestDevices> devices_;
};

TEST(FramedCommand, ChecksumIsTheXorOfThePayloadInUpperCaseHex) {
    EXPECT_EQ(FramedCommand("PRI"), "$PRI*4B\n\r");
    EXPECT_EQ(FramedCommand("PRI,5"), "$PRI,5*52\n\r");
    EXPECT_EQ(FramedCommand("i0"), "$i0*59\n\r");
    EXPECT_EQ(FramedCommand("VER", "\r"), "$VER*41\r");
    EXPECT_EQ(FramedCommand("", ""), "$*0");  // no leading zeros
    EXPECT_EQ(FramedCommand("\xC1", ""),
              "$\xC1*FFFFFFC1");  // a byte above 0x7F widens with its sign
    // The PU41/42 serial request is the same frame with a CR.
    EXPECT_EQ(FramedCommand("PRI,0", "\r"), devices::DeviceTypeOf(25).request.bytes);
}

TEST_F(FtdiTest, OneRequestFillsEveryProbeOnTheAdapter) {
    FakeAdapter& pu =
        Adapter("PU 60 interface", "FT4A21B0", false, "PRI,1.234,-0.567,0.010,0,0,0\r\n");
    Slot(1, kPu60, L"FT4A21B0", 1);
    Slot(2, kPu60, L"FT4A21B0", 2);
    Slot(3, kPu60, L"FT4A21B0", 3);
    g_run.Factor[2] = 2.0;
    g_run.Offset[3] = 1.0;
    Open();
    EXPECT_EQ(pu.opens, 1);
    EXPECT_THAT(pu.events, ElementsAre("baud 57600", "data 8 0 0", "timeouts 250 250"));

    EXPECT_THAT(Cycle(3), ElementsAre(ReadOutcome::Shown));
    EXPECT_THAT(Requests(pu), ElementsAre("PRI\n\r"));
    EXPECT_DOUBLE_EQ(g_run.Value[1], 1.234);
    EXPECT_DOUBLE_EQ(g_run.Value[2], -1.134);
    EXPECT_DOUBLE_EQ(g_run.Value[3], 1.010);
    for (int s = 1; s <= 3; ++s) {
        EXPECT_TRUE(g_run.ValueReady[s]) << s;
        EXPECT_FALSE(g_run.ValueError[s]) << s;
    }
    EXPECT_TRUE(pu.rx.empty()) << "line ends left behind";
}

TEST_F(FtdiTest, RequestFollowsFirmwareAndChannel) {
    struct Case {
        int type;
        bool framed;
        int channel;
        const char* request;
    } cases[] = {
        {kPu60, false, 1, "PRI\n\r"},       {kPu60, false, kMax, "PRI,5\n\r"},
        {kPu60, false, 53, "PRI,5\n\r"},  // max-min
        {kPu60, false, 5, "PRI\n\r"},       {kPu60, true, 1, "$PRI*4B\n\r"},
        {kPu60, true, 52, "$PRI,5*52\n\r"}, {kMfp, false, 1, "$i0*59\n\r"},  // MFP always frames
    };
    for (const Case& c : cases) {
        SetUp();
        adapters.clear();
        devices_.reset();
        const char* description = c.type == kMfp ? "MFP Control" : "PU60";
        Adapter(description, "S1", c.framed, "PRI,1,2,3,4,5,0\r");
        Slot(1, c.type, L"", c.channel);
        Open();
        Cycle(1);
        EXPECT_THAT(Requests(adapters[0]), ElementsAre(c.request)) << c.channel;
        devices().CloseAll();
    }
}

TEST_F(FtdiTest, ReplyFieldsAndSendFlag) {
    // Slot 1 has offset 0.25 and held 9.0 before the cycle.
    struct Case {
        const char* reply;
        int channel;
        ReadOutcome result;
        double value;
        bool error;
        const wchar_t* status;
    } cases[] = {
        {"PRI,1.5,2.5,3.5,0,0,0\r", 2, ReadOutcome::Shown, 2.75, false, L""},
        {"PRI,1.5,2.5,3.5,0,0,1\r", 1, ReadOutcome::SendFlag1, 1.75, false, L""},
        {"PRI,1.5,2.5,3.5,0,0,2\r", 1, ReadOutcome::SendFlag2, 1.75, false, L""},
        // A short reply: its last field is the send flag.
        {"PRI,7.25,1\r", 1, ReadOutcome::SendFlag1, 7.5, false, L""},
        {"PRI,4.5,2.5,3.5,0,0,0\r", kMax, ReadOutcome::Shown, 4.75, false, L""},
        // The marker is blanked; the text before the first comma is never a field.
        {"PRI A+B: 1.5,2.5\r", 1, ReadOutcome::Shown, 2.75, false, L""},
        {"$PRI A-B:,-0.5,1,0,0,0,0*00\r\n", 1, ReadOutcome::Shown, -0.25, false, L""},
        // The instrument's error mark: Value is the offset, the slot shows the word.
        {"PRI,E05,2.5,3.5,0,0,0\r", 1, ReadOutcome::StatusShown, 0.25, true, L"error"},
        {"PRI 1.5\r", 1, ReadOutcome::StatusShown, 0.0, true, L"unavailable"},  // no comma
        {"", 1, ReadOutcome::StatusShown, 0.0, true, L"unavailable"},           // silent
        // A channel the reply does not carry: no old value shown as new.
        {"PRI,1.5,2.5\r", 4, ReadOutcome::StatusShown, 9.0, true, L"invalid"},
    };
    for (const Case& c : cases) {
        SetUp();
        adapters.clear();
        devices_.reset();
        Adapter("PU 60", "S1", false, c.reply);
        Slot(1, kPu60, L"", c.channel);
        g_run.Offset[1] = 0.25;
        Open();
        g_run.Value[1] = 9.0;
        EXPECT_THAT(Cycle(1), ElementsAre(c.result)) << c.reply;
        EXPECT_EQ(g_run.StatusText[1].str(), c.status) << c.reply;
        EXPECT_EQ(g_run.ValueError[1].load(), c.error) << c.reply;
        EXPECT_DOUBLE_EQ(g_run.Value[1], c.value) << c.reply;
        devices().CloseAll();
    }
}

TEST_F(FtdiTest, ErrorFieldMarksTheSiblingsItReaches) {
    Adapter("PU 60", "S1", false, "PRI,1.5,E05,3.5,0,0,0\r");
    Slot(1, kPu60, L"S1", 1);
    Slot(2, kPu60, L"S1", 2);
    g_run.Offset[2] = 0.5;
    Open();
    EXPECT_THAT(Cycle(2), ElementsAre(ReadOutcome::Shown));
    EXPECT_TRUE(g_run.ValueError[2]);
    EXPECT_TRUE(g_run.ValueReady[2]);
    EXPECT_DOUBLE_EQ(g_run.Value[2], 0.5);
    EXPECT_EQ(g_run.StatusText[2].str(), L"error");
}

TEST_F(FtdiTest, MfpSendFlagFollowsTheValue) {
    struct Case {
        const char* reply;
        ReadOutcome result;
        double value;
    } cases[] = {
        {"$i0,+1.250,0*00\r\n", ReadOutcome::Shown, 1.25},
        {"$i0,1.250,0*00\r\n", ReadOutcome::Shown, 1.25},  // a value starting with 1 is no send key
        {"$i0,2.5,0*00\r\n", ReadOutcome::Shown, 2.5},
        {"$i0,+1.250,1*00\r\n", ReadOutcome::SendFlag1, 1.25},
        {"$i0,-0.5,2*00\r\n", ReadOutcome::SendFlag2, -0.5},
    };
    for (const Case& c : cases) {
        SetUp();
        adapters.clear();
        devices_.reset();
        FakeAdapter& a = Adapter("MFP Control", "M1");
        a.answer = [&c](std::string_view) { return std::string(c.reply); };
        Slot(1, kMfp);
        Open();
        EXPECT_THAT(adapters[0].events, ElementsAre("baud 4800", "data 7 2 2", "timeouts 250 250"));
        EXPECT_THAT(Cycle(1), ElementsAre(c.result)) << c.reply;
        EXPECT_DOUBLE_EQ(g_run.Value[1], c.value) << c.reply;
        devices().CloseAll();
    }
}

TEST_F(FtdiTest, MahrIsTriggeredByADtrPulseAndReadsOneLine) {
    FakeAdapter& mahr = Adapter("MAHR 16EXu", "X");
    mahr.answer = nullptr;
    mahr.pulseReply = "  +12.345\r\n";
    mahr.rx = "stale";
    Slot(1, kMahr);
    g_run.Factor[1] = 2.0;
    g_run.Offset[1] = 1.0;
    Open();
    EXPECT_THAT(mahr.events, ElementsAre("baud 4800", "data 7 2 2", "timeouts 250 250"));
    mahr.rx = "stale";
    clock.ResetElapsed();
    EXPECT_THAT(Cycle(1), ElementsAre(ReadOutcome::Shown));
    EXPECT_THAT(std::vector<std::string>(mahr.events.begin() + 3, mahr.events.end()),
                ElementsAre("dtr 1", "dtr 0"));
    EXPECT_TRUE(mahr.writes.empty());
    EXPECT_DOUBLE_EQ(g_run.Value[1], 25.69);
    EXPECT_EQ(clock.elapsed(), 120u + 200u);  // the pulse and the closing wait
}

TEST_F(FtdiTest, OpenProbesTheFirmwareAndSkipsWhatDoesNotMatch) {
    // Index 0: the wrong model; 1: the right model, wrong serial; 2: refuses
    // both version requests; 3: framed firmware with the serial asked for.
    Adapter("PU 36", "FT4A0001");
    Adapter("PU60", "FT77");
    FakeAdapter& refusing = Adapter("PU60", "FT4A0002");
    refusing.answer = [](std::string_view) { return std::string("ERROR ERROR\r\n"); };
    Adapter("PU 60 USB", "FT4A21B0", true);
    Slot(1, kPu60, L"4A", 1);
    Open();
    EXPECT_EQ(adapters[0].opens, 1);
    EXPECT_FALSE(adapters[0].open);
    EXPECT_FALSE(adapters[1].open);
    EXPECT_FALSE(adapters[2].open);
    EXPECT_THAT(adapters[2].writes, ElementsAre("VER\r", "$VER*41\r"));
    EXPECT_TRUE(adapters[3].open);
    EXPECT_TRUE(backend().adapters().FramedOf(1));
    EXPECT_EQ(backend().adapters().HandleOf(1), &adapters[3]);

    // The dialog's list offers the related PU 36 too, by serial number.
    EXPECT_THAT(backend().ListDevices(devices::DeviceTypeOf(kPu60)),
                ElementsAre(L"FT4A0001", L"FT77", L"FT4A0002"));
}

TEST_F(FtdiTest, SilentFirmwareEndsTheSearch) {
    FakeAdapter& silent = Adapter("PU11", "A");
    silent.answer = [](std::string_view) { return std::string(); };
    Adapter("PU11", "B");
    Slot(1, kPu11);
    clock.ResetElapsed();
    Open();
    EXPECT_EQ(backend().adapters().HandleOf(1), nullptr);
    EXPECT_EQ(adapters[1].opens, 0);
    EXPECT_GE(clock.elapsed(), 100u + 51u * 10u);
    Cycle(1);
    EXPECT_EQ(g_run.StatusText[1].str(), L"usb error");
    EXPECT_TRUE(g_run.ValueError[1]);
}

TEST_F(FtdiTest, SlotsOfOneSerialShareAnAdapterOrTakeTheirOwn) {
    Adapter("PU11", "A");
    Slot(1, kPu11);
    Slot(2, kPu11);
    Open();
    EXPECT_EQ(backend().adapters().HandleOf(2), backend().adapters().HandleOf(1));
    devices().CloseAll();
    EXPECT_EQ(adapters[0].closes, 1);  // a shared adapter is closed once

    Adapter("PU11", "B");
    devices_.reset();
    adapters[0].opens = 0;
    Open();
    EXPECT_EQ(backend().adapters().HandleOf(1), &adapters[0]);
    EXPECT_EQ(backend().adapters().HandleOf(2), &adapters[1]);
}

TEST_F(FtdiTest, ShortWriteShowsDeviceErrorAndKeepsTheFlags) {
    FakeAdapter& pu = Adapter("PU60", "A", false, "PRI,1,0,0,0,0,0\r");
    Slot(1, kPu60);
    Open();
    pu.writeLimit = 2;
    g_run.ValueReady[1] = true;
    g_run.ValueError[1] = false;
    clock.ResetElapsed();
    devices().Request(1);
    EXPECT_EQ(g_run.StatusText[1].str(), L"device error");
    EXPECT_TRUE(g_run.ValueReady[1]);
    EXPECT_FALSE(g_run.ValueError[1]);
    EXPECT_EQ(clock.elapsed(), 500u);
}

TEST_F(FtdiTest, PollingReadsOnlyWhatTheInstrumentSent) {
    FakeAdapter& pu = Adapter("PU60", "A", false, "");
    Slot(1, kPu60);
    g_run.SendMode[1] = SendModeKind::FKey;
    Open();
    g_run.SlotState[1] = SlotStage::Idle;
    EXPECT_EQ(devices().Read(1, false), ReadOutcome::NothingNew);
    EXPECT_EQ(pu.timeouts, 0) << "polling must not wait for a reply";
    pu.rx = "PRI,3.5,0,0,0,0,1\r\n";
    EXPECT_EQ(devices().Read(1, false), ReadOutcome::SendFlag1);
    EXPECT_DOUBLE_EQ(g_run.Value[1], 3.5);
}

TEST_F(FtdiTest, AdapterProblemsAreShownWhenASlotFoundNone) {
    problems = {L"USB adapter 0403:6001 cannot be opened: permission denied."};
    Slot(1, kPu60);
    Open();
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_THAT(window.messages[0], ::testing::HasSubstr(L"permission denied"));

    // Slots that all found their adapter hear nothing of other adapters.
    window.messages.clear();
    devices_.reset();
    Adapter("PU60", "A");
    Open();
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(FtdiTest, NoFtdiSlotLoadsNoLibrary) {
    bool loaded = false;
    auto set = std::make_unique<TestDevices>(g_run, window, NoPorts(),
                                             devices::DeviceSet::TextSlotReader{}, [&loaded] {
                                                 loaded = true;
                                                 return NoAdapters();
                                             });
    Slot(1, 1);
    set->set.OpenAll(window);
    EXPECT_FALSE(loaded);
    Slot(2, kPu60);
    set->set.OpenAll(window);
    EXPECT_TRUE(loaded);
}

}  // namespace
}  // namespace karvelo::ftdi
