#include "app/acquisition_thread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/key_poll_thread.h"
#include "app/timers.h"
#include "platform/keystate.h"
#include "platform/profile.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "station_fixture.h"

namespace karvelo::app::test {
namespace {

using karvelo::testing::ScriptedPort;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr int kSylvac = 1;   // one number per line, answers "?\r"
constexpr int kPu26 = 19;    // shared request, one reader per slot
constexpr int kPu4142 = 25;  // shared request, one reply fills every slot
constexpr int kSd1 = 26;     // one reply fills every slot, requested per slot

enum class Trigger { None, Key, Button, Timer };

void Pull(Trigger t) {
    switch (t) {
        case Trigger::None:
            break;
        case Trigger::Key:
            g_run.KeyTrigger = TriggerStage::Pending;
            break;
        case Trigger::Button:
            g_run.SendTrigger = TriggerStage::Pending;
            break;
        case Trigger::Timer:
            g_run.TimerTrigger = TriggerStage::Pending;
            break;
    }
}

// The order of two log lines; -1 when one is missing.
std::ptrdiff_t Position(const std::vector<std::string>& log, const std::string& line) {
    auto it = std::find(log.begin(), log.end(), line);
    return it == log.end() ? -1 : it - log.begin();
}

class AcquisitionTest : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        CaptureFileRecords();
    }

    // A new case of a table: a fresh record exporting to a CSV file, nothing
    // exported yet.
    void FreshStation() {
        ResetRunState();
        g_run.ActiveConfigFile = Wide(dir.file("karvelo.cfg"));
        g_run.ExportType = ExportKind::CsvMulti;
        RecordLog::Instance().Clear();
    }

    AcquisitionThread acquisition{window, devices.set, channel};
};

// --- Send modes -------------------------------------------------------------

struct ModeCase {
    const char* name;
    int mode;
    Trigger trigger;
    bool answersRequest;  // the gauge answers its request
    bool sentByItself;    // a value is waiting that nobody asked for
    std::size_t requests;
    bool exported;
    const wchar_t* text;    // TextLast afterwards
    const wchar_t* status;  // StatusText afterwards
};

const ModeCase kModeCases[] = {
    {"autom. without trigger: read, no record", 0, Trigger::None, true, false, 1, false, L"1.234",
     L""},
    {"autom. on the send key", 0, Trigger::Key, true, false, 1, true, L"1.234", L""},
    {"autom. silent gauge", 0, Trigger::None, false, false, 1, false, L"0.000", L"unavailable"},
    {"F-Key idle", 1, Trigger::None, false, false, 0, false, L"9.000", L"wait...."},
    {"F-Key shows an unrequested value, no record", 1, Trigger::None, false, true, 0, false,
     L"2.000", L""},
    {"F-Key on the button", 1, Trigger::Button, true, false, 1, true, L"1.234", L""},
    {"F-Key silent gauge still completes", 1, Trigger::Key, false, false, 1, true, L"0.000",
     L"unavailable"},
    {"F-Key/Print idle", 2, Trigger::None, false, false, 0, false, L"9.000", L"wait..."},
    {"F-Key/Print on the gauge's own key", 2, Trigger::None, false, true, 0, true, L"2.000", L""},
    {"Timer idle", 3, Trigger::None, false, false, 0, false, L"9.000", L"wait...TIMER"},
    {"Timer on the gauge's own key", 3, Trigger::None, false, true, 0, true, L"2.000", L""},
    {"Timer on the send timer", 3, Trigger::Timer, true, false, 1, true, L"1.234", L""},
    {"hand-edited mode 4: requested, never read", 4, Trigger::Button, true, false, 1, false,
     L"9.000", L""},
    {"negative mode does nothing", -1, Trigger::Key, true, false, 0, false, L"9.000", L"before"},
};

TEST_F(AcquisitionTest, SendModes) {
    for (const ModeCase& c : kModeCases) {
        SCOPED_TRACE(c.name);
        FreshStation();
        ScriptedPort port;
        g_run.DeviceCount = 1;
        Instrument(1, kSylvac, c.mode, &port);
        g_run.Value[1] = 9.0;
        g_run.TextLast[1] = L"9.000";
        g_run.StatusText[1] = L"before";
        if (c.answersRequest) AnswerEveryRequest(port, "+1.234\r");
        if (c.sentByItself) port.Waiting("+2.000\r");
        Pull(c.trigger);

        acquisition.RunCycle();

        EXPECT_EQ(port.writes().size(), c.requests);
        EXPECT_EQ(g_run.TextLast[1].str(), c.text);
        EXPECT_EQ(g_run.StatusText[1].str(), c.status);
        const auto records = Records();
        ASSERT_EQ(records.size(), c.exported ? 1u : 0u);
        if (c.exported) {
            // A failed reading goes into the record with an empty field.
            EXPECT_EQ(records[0].texts[1], std::wstring(c.status).empty() ? c.text : L"");
        }
        devices.ports().SlotPort[1] = nullptr;
    }
}

// An unrequested poll completes a record only when the instrument sent a
// value. A port that is not open or noise on the line shows its status word,
// cycle after cycle, and writes nothing.
TEST_F(AcquisitionTest, UnrequestedPollsRaiseARecordOnlyForAValue) {
    struct Case {
        const char* name;
        int mode;
        bool portOpen;
        std::string waiting;  // what the gauge has sent by itself
        std::size_t records;
        const wchar_t* status;
    };
    const Case cases[] = {
        {"F-Key/Print, port not open", 2, false, "", 0, L"com error"},
        {"Timer, port not open", 3, false, "", 0, L"com error"},
        {"F-Key/Print, noise", 2, true, std::string("\x13\xff#\x01\r", 5), 0, L"invalid"},
        {"Timer, error marker", 3, true, "Error\r", 0, L"error"},
        {"F-Key/Print, a value", 2, true, "+2.000\r", 1, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshStation();
        ScriptedPort port;
        g_run.DeviceCount = 1;
        Instrument(1, kSylvac, c.mode, c.portOpen ? &port : nullptr);
        if (!c.waiting.empty()) port.Waiting(c.waiting);

        acquisition.RunCycle();
        EXPECT_EQ(g_run.StatusText[1].str(), c.status);
        for (int cycle = 0; cycle < 4; ++cycle) acquisition.RunCycle();
        EXPECT_EQ(Records().size(), c.records);
        EXPECT_TRUE(port.writes().empty()) << "nothing asked the gauge to measure";
        devices.ports().SlotPort[1] = nullptr;
    }
}

// Two slots on one fan-out instrument: one trigger sends one request, and the
// reply fills both slots of one record. A second request would leave a second
// reply that the next cycle takes for the instrument's own send.
TEST_F(AcquisitionTest, OneTriggerGivesOneRecordPerFanOutInstrument) {
    struct Case {
        const char* name;
        int type;
        std::string reply;
        const wchar_t* first;
        const wchar_t* second;
    };
    const Case cases[] = {
        {"SD1", kSd1, "1.500;2.500\r", L"1.500", L"2.500"},
        {"ALMEMO", 9, "s\r\n12:30:45\r\n01: +001.50mV\r\n02: +002.50mV\r\n", L"1.500", L"2.500"},
        {"PU41/42", kPu4142, "$PRI,+1.500,+2.500,0*3E\r", L"1.500", L"2.500"},
    };
    for (const Case& c : cases) {
        for (Trigger t : {Trigger::Timer, Trigger::Key}) {
            SCOPED_TRACE(c.name);
            FreshStation();
            ScriptedPort port;
            g_run.DeviceCount = 2;
            Instrument(1, c.type, 3, &port, 4, /*channel*/ 1);
            Instrument(2, c.type, 3, &port, 4, /*channel*/ 2);
            AnswerEveryRequest(port, c.reply);
            Pull(t);

            for (int cycle = 0; cycle < 4; ++cycle) acquisition.RunCycle();

            EXPECT_EQ(port.writes().size(), 1u);
            const auto records = Records();
            ASSERT_EQ(records.size(), 1u);
            EXPECT_EQ(records[0].texts[1], c.first);
            EXPECT_EQ(records[0].texts[2], c.second);
            devices.ports().SlotPort[1] = devices.ports().SlotPort[2] = nullptr;
        }
    }
}

TEST_F(AcquisitionTest, ThreeAutomaticSlotsAndOneKeyPressGiveOneRecordOfThatCycle) {
    ScriptedPort ports[3];
    int answers[3] = {0, 0, 0};
    g_run.DeviceCount = 3;
    for (int i = 0; i < 3; ++i) {
        Instrument(i + 1, kSylvac, 0, &ports[i], i + 1);
        const int base = 10 * (i + 1);
        int* n = &answers[i];
        ports[i].OnWrite([base, n](ScriptedPort& p, std::string_view) {
            p.Waiting("+" + std::to_string(base + ++*n) + ".000\r");
        });
    }

    for (int cycle = 0; cycle < 3; ++cycle) acquisition.RunCycle();
    EXPECT_TRUE(Records().empty());
    EXPECT_EQ(g_run.TextLast[2].str(), L"23.000");  // values update every cycle

    g_run.KeyTrigger = TriggerStage::Pending;
    acquisition.RunCycle();
    acquisition.RunCycle();

    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].texts[1], L"14.000");
    EXPECT_EQ(records[0].texts[2], L"24.000");
    EXPECT_EQ(records[0].texts[3], L"34.000");
    EXPECT_EQ(g_run.KeyTrigger, TriggerStage::Taken);
    EXPECT_EQ(g_run.TextLast[3].str(), L"35.000");
}

TEST_F(AcquisitionTest, HandOverHidesTheButtonAndRestartsTheSendTimerAfterTheExport) {
    ScriptedPort port;
    g_run.DeviceCount = 1;
    g_run.TimerPeriod = 5.0;
    Instrument(1, kSylvac, 1, &port);
    AnswerEveryRequest(port, "+1.000\r");

    for (Trigger t : {Trigger::Timer, Trigger::Key}) {
        window.ClearLog();
        Pull(t);
        acquisition.RunCycle();
        // The period counts from the end of the triggered cycle, after the export.
        EXPECT_THAT(window.log(), ElementsAre("show 1 off", "export", "show 1 on", "start 3 5000"));
        EXPECT_FALSE(g_run.AcquisitionPaused);
    }
    EXPECT_EQ(Records().size(), 2u);
    // The texts of the record survive a restart, saved on the window's thread.
    window.PumpMessages();
    EXPECT_EQ(
        platform::ReadProfileString(L"DEVICE1", L"textlast", L"<missing>", dir.file("karvelo.cfg")),
        L"1.000");
    EXPECT_EQ(g_run.TimerTrigger, TriggerStage::Idle);

    window.ClearLog();
    acquisition.RunCycle();  // no trigger: the send timer runs on
    EXPECT_EQ(Position(window.log(), "start 3 5000"), -1);
}

TEST_F(AcquisitionTest, WithoutExportTypeTheRecordWaitsForOne) {
    ScriptedPort port;
    g_run.DeviceCount = 1;
    g_run.ExportType = ExportKind::None;
    Instrument(1, kSylvac, 1, &port);
    AnswerEveryRequest(port, "+1.000\r");
    g_run.SendTrigger = TriggerStage::Pending;

    acquisition.RunCycle();
    EXPECT_TRUE(Records().empty());
    EXPECT_FALSE(g_run.AcquisitionPaused);
    EXPECT_EQ(channel.Open(), 0u);

    // An unrequested value arrives, then an export type is chosen: the next
    // cycle hands over the record as it was taken, not what the window shows.
    port.Waiting("+3.000\r");
    acquisition.RunCycle();
    EXPECT_EQ(g_run.TextLast[1].str(), L"3.000");
    g_run.ExportType = ExportKind::CsvMulti;
    acquisition.RunCycle();
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].texts[1], L"1.000");
}

void CaptureWindowLane(const ExportTargets& targets, WindowPort& window) {
    CaptureLane(*targets.records, exports::RecordLane::Window, window);
}

// The workbook's export does not come (the window's thread is busy): after the
// watchdog's time the acquisition goes on with SEND / EXPORT back, the
// operator is told a record waits, and the record is written once the export
// comes.
TEST_F(AcquisitionTest, WatchdogLetsTheAcquisitionGoOnWhileAWorkbookRecordWaits) {
    ScriptedPort port;
    g_run.DeviceCount = 1;
    g_run.ExportType = ExportKind::Workbook;
    Instrument(1, kSylvac, 1, &port);
    AnswerEveryRequest(port, "+1.000\r");
    SetRecordExporter(&CaptureWindowLane);
    g_run.SendTrigger = TriggerStage::Pending;

    const auto started = std::chrono::steady_clock::now();
    acquisition.RunCycle();
    EXPECT_GE(std::chrono::steady_clock::now() - started,
              std::chrono::milliseconds(kExportWatchdogMs));
    EXPECT_TRUE(window.IsShown(kSendButton));
    EXPECT_TRUE(Records().empty());
    window.PumpMessages();
    EXPECT_EQ(window.exportProblem(), L"1 record(s) waiting: an earlier export was still open");

    ASSERT_TRUE(window.RunningTimer(kExportTimer));
    OnTimerEvent(kExportTimer, window, {&channel, nullptr});
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0].texts[1], L"1.000");
    EXPECT_EQ(channel.Open(), 0u);
}

TEST_F(AcquisitionTest, TriggerThatArrivesDuringACycleWaitsForTheNext) {
    ScriptedPort port;
    g_run.DeviceCount = 1;
    Instrument(1, kSylvac, 1, &port);
    // The button is pressed while the key-triggered cycle talks to the gauge.
    port.OnWrite([](ScriptedPort& p, std::string_view) {
        p.Waiting("+1.000\r");
        g_run.SendTrigger = TriggerStage::Pending;
    });
    g_run.KeyTrigger = TriggerStage::Pending;

    acquisition.RunCycle();
    EXPECT_EQ(g_run.KeyTrigger, TriggerStage::Taken);
    EXPECT_EQ(g_run.SendTrigger, TriggerStage::Pending);

    port.OnWrite([](ScriptedPort& p, std::string_view) { p.Waiting("+2.000\r"); });
    acquisition.RunCycle();
    EXPECT_EQ(g_run.SendTrigger, TriggerStage::Idle);
    ASSERT_EQ(Records().size(), 2u);
    EXPECT_EQ(Records()[1].texts[1], L"2.000");
}

TEST_F(AcquisitionTest, SendTimerExpiringDuringATriggeredCycleIsServedByIt) {
    ScriptedPort port;
    g_run.DeviceCount = 1;
    g_run.TimerPeriod = 2.5;
    Instrument(1, kSylvac, 3, &port);
    port.OnWrite([](ScriptedPort& p, std::string_view) {
        p.Waiting("+1.000\r");
        g_run.TimerTrigger = TriggerStage::Pending;
    });
    g_run.KeyTrigger = TriggerStage::Pending;

    acquisition.RunCycle();
    EXPECT_EQ(g_run.TimerTrigger, TriggerStage::Idle);
    EXPECT_EQ(window.RunningTimer(kSendTimer), 2500);  // a full period from now
    acquisition.RunCycle();
    EXPECT_EQ(Records().size(), 1u);
}

// --- Instruments that serve several slots -----------------------------------

TEST_F(AcquisitionTest, SharedInstrumentIsReadRightAfterItsRequest) {
    struct Case {
        const char* name;
        const char* serialOf7;
        const wchar_t* text2;
        const wchar_t* text7;
    };
    // Both requests go over one line: unless slot 2 is read before slot 7 is
    // requested, the answers get mixed up.
    const Case cases[] = {
        {"same instrument: slot 2 read in the request pass", "A", L"1.111", L"2.222"},
        {"other serial number: slot 2 reads slot 7's answer", "B", L"2.222", L"0.000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPort port;
        g_run.DeviceCount = 7;
        for (int s = 1; s <= 7; ++s) g_run.DeviceType[s] = -1;
        Instrument(2, kPu26, 1, &port, 4, /*channel*/ 1);
        Instrument(7, kPu26, 1, &port, 4, /*channel*/ 2);
        g_run.SerialNo[2] = L"A";
        g_run.SerialNo[7] = Wide(c.serialOf7);
        port.OnWrite([](ScriptedPort& p, std::string_view written) {
            p.Waiting(written == "1\r" ? "+1.111\r" : "+2.222\r");
        });
        g_run.SendTrigger = TriggerStage::Pending;

        acquisition.RunCycle();

        EXPECT_THAT(port.writes(), ElementsAre("1\r", "2\r"));
        EXPECT_EQ(g_run.TextLast[2].str(), c.text2);
        EXPECT_EQ(g_run.TextLast[7].str(), c.text7);
        devices.ports().SlotPort[2] = devices.ports().SlotPort[7] = nullptr;
    }
}

TEST_F(AcquisitionTest, OneSharedReplyFillsBothSlotsAndItsSendFlagCompletesTheRecord) {
    ScriptedPort port;
    g_run.DeviceCount = 7;
    for (int s = 1; s <= 7; ++s) g_run.DeviceType[s] = -1;
    Instrument(2, kPu4142, 0, &port, 2, 1, 3);
    Instrument(7, kPu4142, 0, &port, 2, 2, 2);
    AnswerEveryRequest(port, "$PRI,+1.250,-0.500,0*4E\r");

    acquisition.RunCycle();
    EXPECT_EQ(port.writes().size(), 1u);  // slot 7 takes its value from slot 2's reply
    EXPECT_EQ(g_run.TextLast[2].str(), L"1.250");
    EXPECT_EQ(g_run.TextLast[7].str(), L"-0.50");
    EXPECT_TRUE(Records().empty());

    // The instrument's own send key: a record without any trigger.
    AnswerEveryRequest(port, "$PRI,+1.500,-0.750,1*4F\r");
    acquisition.RunCycle();
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].texts[2], L"1.500");
    EXPECT_EQ(records[0].texts[7], L"-0.75");
}

TEST_F(AcquisitionTest, SiblingFilledByAReplyGetsItsRecordTextInTheSameCycle) {
    ScriptedPort port;
    g_run.DeviceCount = 2;
    Instrument(1, kSd1, 0, &port, 3, /*channel*/ 1, /*decimals*/ 2);
    Instrument(2, kSd1, 0, &port, 3, /*channel*/ 2, /*decimals*/ 3);
    g_run.TextLast[2] = L"stale";
    AnswerEveryRequest(port, "1.5;2.5\r");
    g_run.KeyTrigger = TriggerStage::Pending;

    acquisition.RunCycle();

    EXPECT_EQ(g_run.SlotState[2], SlotStage::Read);
    EXPECT_EQ(g_run.TextLast[2].str(), L"2.500");
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].texts[1], L"1.50");
    EXPECT_EQ(records[0].texts[2], L"2.500");
}

// --- Text slots, pauses, settle delay ---------------------------------------

TEST_F(AcquisitionTest, KeyboardTextSlotTakesItsFieldCutAt249Characters) {
    ScriptedPort port;
    g_run.DeviceCount = 3;
    Instrument(1, kSylvac, 1, &port);
    AnswerEveryRequest(port, "+1.000\r");
    g_run.DeviceType[2] = 0;  // keyboard text
    g_run.DeviceType[3] = 0;
    g_run.TextSource[3] = -1;  // reads nothing
    g_run.TextLast[3] = L"kept";
    window.SetControlText(kSlotTextFirst + 1, std::wstring(300, L'x'));
    window.SetControlText(kSlotTextFirst + 2, L"ignored");
    g_run.SendTrigger = TriggerStage::Pending;

    acquisition.RunCycle();

    EXPECT_EQ(g_run.TextLast[2].str(), std::wstring(249, L'x'));
    EXPECT_TRUE(g_run.ValueReady[2]);
    EXPECT_FALSE(g_run.ValueError[2]);
    EXPECT_EQ(g_run.SlotState[2], SlotStage::Read);
    EXPECT_EQ(g_run.TextLast[3].str(), L"kept");
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0].texts[2], std::wstring(249, L'x'));
}

TEST_F(AcquisitionTest, IdTextIsReadOnlyWhenAsked) {
    ScriptedPort port;
    g_run.DeviceCount = 1;
    Instrument(1, kSylvac, 1, &port);
    AnswerEveryRequest(port, "+1.000\r");
    window.SetControlText(kIdField, L"LOT-42");
    g_run.IdReadRequest = true;

    acquisition.RunCycle();
    EXPECT_EQ(g_run.SlotState[0], SlotStage::Read);
    EXPECT_FALSE(g_run.IdReadRequest);
    EXPECT_EQ(g_run.TextLast[0].str(), L"LOT-42");

    window.SetControlText(kIdField, L"LOT-43");
    g_run.SendTrigger = TriggerStage::Pending;
    acquisition.RunCycle();
    EXPECT_EQ(g_run.SlotState[0], SlotStage::Idle);
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0].texts[0], L"LOT-42");  // until the ID timer asks again
}

TEST_F(AcquisitionTest, PausedThreadTouchesNothing) {
    ScriptedPort port;
    g_run.DeviceCount = 1;
    Instrument(1, kSylvac, 0, &port);
    g_run.AcquisitionPaused = true;
    g_run.SlotState[1] = SlotStage::Read;
    g_run.KeyTrigger = TriggerStage::Pending;
    g_run.IdReadRequest = true;

    acquisition.RunCycle();

    EXPECT_TRUE(port.actions().empty());
    EXPECT_EQ(g_run.SlotState[1], SlotStage::Read);
    EXPECT_EQ(g_run.KeyTrigger, TriggerStage::Pending);
    EXPECT_TRUE(g_run.IdReadRequest);
    EXPECT_TRUE(window.log().empty());
}

TEST_F(AcquisitionTest, PauseRequestIsHonouredAfterACompleteCycle) {
    ScriptedPort port;
    g_run.DeviceCount = 1;
    Instrument(1, kSylvac, 0, &port);
    AnswerEveryRequest(port, "+1.000\r");
    g_run.ConfigPauseRequest = true;
    g_run.ClosePauseRequest = true;

    acquisition.RunCycle();

    EXPECT_EQ(g_run.TextLast[1].str(), L"1.000");  // the cycle ran to its end
    EXPECT_TRUE(g_run.AcquisitionPaused);
    EXPECT_FALSE(g_run.ConfigPauseRequest);
    EXPECT_FALSE(g_run.ClosePauseRequest);

    g_run.AcquisitionPaused = false;  // the command is done
    acquisition.RunCycle();
    EXPECT_FALSE(g_run.AcquisitionPaused);
}

TEST_F(AcquisitionTest, SettleDelayFollowsTheSlowestAutomaticInstrument) {
    struct Case {
        const char* name;
        int types[3];
        int modes[3];
        int ms;
    };
    const Case cases[] = {
        {"none", {0, -1, 26}, {0, 0, 1}, 0},
        {"SD1", {26, 0, 1}, {0, 0, 2}, 10},
        {"Sylvac simplex and a PU", {11, 2, 26}, {0, 0, 0}, 300},
        {"code past the catalogue", {58, 24, 0}, {0, 0, 0}, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetRunState();
        g_run.DeviceCount = 1;  // the delay looks at all ten slots
        for (int i = 0; i < 3; ++i) {
            g_run.DeviceType[8 + i] = c.types[i];
            g_run.SendMode[8 + i] = static_cast<SendModeKind>(c.modes[i]);
        }
        EXPECT_EQ(devices.set.SettleDelayMs(), c.ms);
        const std::uint32_t before = clock.now();
        acquisition.RunCycle();
        EXPECT_EQ(clock.now() - before, static_cast<std::uint32_t>(c.ms + 10));
    }
}

// --- The real threads -------------------------------------------------------

// Runs cycles on its own thread until stopped.
class CycleRunner {
  public:
    explicit CycleRunner(AcquisitionThread& acquisition)
        : thread_([&acquisition](std::stop_token stop) {
              while (!stop.stop_requested()) acquisition.RunCycle();
          }) {}

  private:
    std::jthread thread_;
};

class ThreadedAcquisitionTest : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        // Real sleeps: the other threads need the time the waits give them.
        platform::SetWaitClock(nullptr);
    }

    AcquisitionThread acquisition{window, devices.set, channel};
};

// The workbook exports of the threaded tests, with what the test wants done
// inside.
std::atomic<int> g_exportDepth{0};
std::atomic<int> g_maxExportDepth{0};
std::function<void(WindowPort&, int)> g_insideExport;
std::atomic<int> g_exportCount{0};

void ThreadedExport(const ExportTargets& targets, WindowPort& window) {
    const int depth = ++g_exportDepth;
    g_maxExportDepth = std::max(g_maxExportDepth.load(), depth);
    for (exports::HandedRecord& handed : targets.records->Take(exports::RecordLane::Window)) {
        const int n = ++g_exportCount;
        if (g_insideExport) g_insideExport(window, n);
        RecordLog::Instance().Add(TextsOf(handed.record));
        targets.records->Settle(handed.number);
    }
    --g_exportDepth;
}

TEST_F(ThreadedAcquisitionTest, RecordIsHeldStillWhileItIsWritten) {
    ScriptedPort port;
    g_run.DeviceCount = 1;
    Instrument(1, kSd1, 0, &port, 1, 1);  // autom.: a new value every cycle
    std::atomic<int> answers{0};
    port.OnWrite([&answers](ScriptedPort& p, std::string_view) {
        p.Waiting(std::to_string(++answers) + ".000;0\r");
    });
    // The acquisition runs on meanwhile if it is not held, and the window
    // shows a newer value than the record being written.
    CaptureFileRecords([](const exports::Record& record) {
        const ExportedRecord before = CurrentRecord();
        EXPECT_EQ(before.texts[1], record.slots[0].field);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(CurrentRecord().texts, before.texts);
    });

    {
        CycleRunner runner(acquisition);
        for (std::size_t n = 1; n <= 3; ++n) {
            g_run.SendTrigger = TriggerStage::Pending;
            ASSERT_TRUE(RecordLog::Instance().WaitFor(n));
        }
    }
    EXPECT_EQ(Records().size(), 3u);
    EXPECT_FALSE(g_run.AcquisitionPaused);
    EXPECT_TRUE(window.IsShown(kSendButton));
    EXPECT_EQ(window.TimerStarts(kExportTimer), 0);  // CSV records never wait for the window
}

TEST_F(ThreadedAcquisitionTest, WorkbookRecordHandedOverDuringAnOpenExportIsQueuedNotNested) {
    ScriptedPort port;
    g_run.DeviceCount = 1;
    g_run.ExportType = ExportKind::Workbook;
    Instrument(1, kSd1, 1, &port, 1, 1);
    std::atomic<int> answers{0};
    port.OnWrite([&answers](ScriptedPort& p, std::string_view) {
        p.Waiting(std::to_string(++answers) + ".000;0\r");
    });
    SetRecordExporter(&ThreadedExport);
    g_exportCount = 0;
    g_maxExportDepth = 0;
    const ExportTargets targets{&channel, nullptr};
    // The first export opens a message box: the watchdog lets the acquisition
    // go on, the operator presses SEND again, and the export timer fires
    // inside the box.
    g_insideExport = [&targets](WindowPort& w, int n) {
        if (n != 1) return;
        auto& fake = static_cast<testing::ThreadedFakeWindow&>(w);
        g_run.SendTrigger = TriggerStage::Pending;
        ASSERT_TRUE(fake.WaitForTimerStarts(kExportTimer, 2));
        OnTimerEvent(kExportTimer, w, targets);
        EXPECT_THAT(fake.exportProblem(), HasSubstr(L"1 record(s) waiting"));
    };

    {
        CycleRunner runner(acquisition);
        g_run.SendTrigger = TriggerStage::Pending;
        ASSERT_TRUE(window.WaitForTimerStarts(kExportTimer, 1));
        OnTimerEvent(kExportTimer, window, targets);
        // The queued record is written when the first export has returned.
        EXPECT_EQ(g_exportCount, 2);
        EXPECT_TRUE(channel.WaitIdle(exports::RecordLane::Window, std::chrono::seconds(10)));
    }
    g_insideExport = nullptr;

    EXPECT_EQ(g_maxExportDepth, 1);
    const auto written = Records();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].texts[1], L"1.000");
    EXPECT_EQ(written[1].texts[1], L"2.000");
    EXPECT_FALSE(g_run.AcquisitionPaused);
    EXPECT_FALSE(ExportInProgress());
}

// A key pressed once (seen by the poll as "pressed since the last query").
class OnePress : public platform::KeyState {
  public:
    bool IsDownOrWasPressed(int) override { return pressed.exchange(false); }
    std::atomic<bool> pressed{false};
};

TEST_F(ThreadedAcquisitionTest, SendKeyPressExportsOneRecordThroughAllThreads) {
    ScriptedPort port;
    g_run.DeviceCount = 1;
    g_run.SendKey = 5;
    Instrument(1, kSd1, 1, &port, 1, 1);
    AnswerEveryRequest(port, "4.25;0\r");
    OnePress keys;
    KeyPollThread poll(keys);
    CaptureFileRecords();

    {
        CycleRunner runner(acquisition);
        std::jthread poller([&poll](std::stop_token stop) {
            while (!stop.stop_requested()) {
                poll.Poll();
                platform::SleepMs(KeyPollThread::kPollMs);
            }
        });
        keys.pressed = true;
        ASSERT_TRUE(RecordLog::Instance().WaitFor(1));
        // The trigger is taken (2), then let go by the poll once the key is up.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (g_run.KeyTrigger != TriggerStage::Idle &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    const auto written = Records();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].texts[1], L"4.250");
    EXPECT_EQ(g_run.KeyTrigger, TriggerStage::Idle);
}

}  // namespace
}  // namespace karvelo::app::test
