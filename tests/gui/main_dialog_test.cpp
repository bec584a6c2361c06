// The main window's layout and commands on real configuration files.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <ostream>
#include <thread>
#include <vector>

#include "app/timers.h"
#include "platform/profile.h"
#include "state/control_ids.h"
#include "state/window_port.h"
#include "station_window_fixture.h"
#include "ui/station/batch_mode.h"
#include "ui/station/qt_window_port.h"

namespace karvelo::testing {
namespace {

using namespace app;

struct GeometryCase {
    int deviceCount;
    int height;
    int fewerY;  // "--"
    friend void PrintTo(const GeometryCase& c, std::ostream* os) {
        *os << "maxno " << c.deviceCount;
    }
};

class Geometry : public StationWindowTest, public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(Geometry, HeightAndBottomControlsFollowTheSlotCount) {
    const GeometryCase c = GetParam();
    Open("[WINDOW]\r\nX=120\r\nY=80\r\nmaxno=" + std::to_string(c.deviceCount) + "\r\n");
    EXPECT_EQ(window->size(), QSize(355, c.height));
    EXPECT_EQ(window->pos(), QPoint(120, 80));
    EXPECT_EQ(Control(kFewerSlotsButton)->geometry(), QRect(305, c.fewerY, 25, 15));
    EXPECT_EQ(Control(kMoreSlotsButton)->geometry().y(), c.fewerY + 15);
    EXPECT_EQ(Control(kFinishButton)->geometry(), QRect(130, c.fewerY + 95, 200, 25));
    EXPECT_EQ(Control(kLogoPlaceholder)->geometry(), QRect(1, c.fewerY + 95, 60, 49));
    EXPECT_EQ(Control(kSetRadioLast)->geometry(), QRect(220, c.fewerY + 125, 200, 25));
    for (int s = 1; s <= kMaxSlots; ++s) {
        EXPECT_EQ(Shown(kSlotConfigFirst + s - 1), s <= c.deviceCount) << "slot " << s;
        EXPECT_EQ(Control(kSlotConfigFirst + s - 1)->geometry(),
                  QRect(305, 40 + 61 * (s - 1), 25, 25));
    }
    EXPECT_FALSE(Shown(kLogoPlaceholder));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("KARVELO V2.0(200323)"));
}

INSTANTIATE_TEST_SUITE_P(SlotCounts, Geometry,
                         ::testing::Values(GeometryCase{1, 256, 71}, GeometryCase{10, 805, 620},
                                           GeometryCase{4, 439, 254}));

TEST_F(StationWindowTest, NewInstallationUsesTheDefaults) {
    Open();
    EXPECT_EQ(window->pos(), QPoint(663, 405));
    EXPECT_EQ(window->size(), QSize(355, 256));
    // Slot 1 is a text slot: its field is on its row.
    EXPECT_TRUE(Shown(kSlotTextFirst));
    EXPECT_EQ(Control(kSlotTextFirst)->geometry(), QRect(18, 50, 270, 25));
    EXPECT_FALSE(Shown(kSendButton));
}

TEST_F(StationWindowTest, TextFieldsShowOnlyForTextSlotsInUse) {
    Open(
        "[WINDOW]\r\nmaxno=3\r\n[DEVICE2]\r\ntyp=1\r\n[DEVICE4]\r\ntyp=0\r\n"
        "[IDNR]\r\ntextlast=Lot 7\r\n[DEVICE3]\r\ntextlast=left\r\n");
    EXPECT_TRUE(Shown(kSlotTextFirst + 0));
    EXPECT_FALSE(Shown(kSlotTextFirst + 1));  // a gauge
    EXPECT_TRUE(Shown(kSlotTextFirst + 2));
    EXPECT_FALSE(Shown(kSlotTextFirst + 3));  // beyond maxno
    EXPECT_EQ(static_cast<QLineEdit*>(Control(kIdField))->text(), QStringLiteral("Lot 7"));
    EXPECT_EQ(static_cast<QLineEdit*>(Control(kSlotTextFirst + 2))->text(), QStringLiteral("left"));
}

struct ExportCase {
    int type;
    bool exportControls;  // SEND / EXPORT, file-name field and its ">>"
    bool workbookButtons;
    int listIndex;
    friend void PrintTo(const ExportCase& c, std::ostream* os) { *os << "type " << c.type; }
};

class ExportTypeChange : public StationWindowTest,
                         public ::testing::WithParamInterface<ExportCase> {};

TEST_P(ExportTypeChange, ChoosingATypeRelaysTheWindowAndWritesIt) {
    const ExportCase c = GetParam();
    Open("[EXPORT]\r\nexporttype=2\r\nfile_csv=run.csv\r\n[WINDOW]\r\nX=5\r\nY=6\r\n");
    window->show();
    ASSERT_TRUE(Shown(kSendButton));
    window->move(300, 300);  // the layout puts it back where the file says

    auto* list = static_cast<QComboBox*>(Control(kExportTypeList));
    if (c.listIndex >= 0) {
        list->setCurrentIndex(c.listIndex);
        Q_EMIT list->activated(c.listIndex);
    } else {
        window->ChangeExportType(c.type);
    }

    EXPECT_EQ(ReadKey("karvelo.cfg", L"EXPORT", L"exporttype"), std::to_wstring(c.type));
    EXPECT_EQ(static_cast<int>(g_run.ExportType.load()), c.type);
    EXPECT_EQ(list->currentIndex(), c.listIndex);
    EXPECT_EQ(Shown(kSendButton), c.exportControls);
    EXPECT_EQ(Shown(kFileNameField), c.exportControls);
    EXPECT_EQ(Shown(kExportTargetButton), c.exportControls);
    EXPECT_EQ(Shown(kExcelOpenButton), c.workbookButtons);
    EXPECT_EQ(Shown(kExcelCloseButton), c.workbookButtons);
    EXPECT_FALSE(Control(kFileNameField)->isEnabled());
    EXPECT_EQ(window->pos(), QPoint(5, 6));
}

INSTANTIATE_TEST_SUITE_P(Types, ExportTypeChange,
                         ::testing::Values(ExportCase{0, false, false, 0},
                                           ExportCase{3, true, false, 3},
                                           ExportCase{5, true, true, 5},
                                           // Type 6 has no entry: the list shows none.
                                           ExportCase{6, true, true, -1}));

TEST_F(StationWindowTest, IdFileTypesShowTheIdFileName) {
    Open("[EXPORT]\r\nexporttype=1\r\nfile_csv=run.csv\r\n");
    EXPECT_EQ(window->ControlText(kFileNameField), QStringLiteral("run.csv"));
    window->ChangeExportType(4);
    EXPECT_EQ(window->ControlText(kFileNameField), QStringLiteral("ID.csv"));
}

struct CountCase {
    int before;
    int button;
    int after;
    friend void PrintTo(const CountCase& c, std::ostream* os) {
        *os << c.before << (c.button == kMoreSlotsButton ? " ++" : " --");
    }
};

class SlotCountButtons : public StationWindowTest,
                         public ::testing::WithParamInterface<CountCase> {};

TEST_P(SlotCountButtons, ClampAtOneAndTenAndWriteTheCount) {
    const CountCase c = GetParam();
    Open("[WINDOW]\r\nmaxno=" + std::to_string(c.before) + "\r\n");
    window->show();
    QTest::mouseClick(static_cast<QPushButton*>(Control(c.button)), Qt::LeftButton);
    EXPECT_EQ(g_run.DeviceCount.load(), c.after);
    EXPECT_EQ(ReadKey("karvelo.cfg", L"WINDOW", L"maxno"), std::to_wstring(c.after));
    EXPECT_EQ(window->height(), WindowHeightFor(c.after));
}

INSTANTIATE_TEST_SUITE_P(Edges, SlotCountButtons,
                         ::testing::Values(CountCase{10, kMoreSlotsButton, 10},
                                           CountCase{1, kFewerSlotsButton, 1},
                                           CountCase{3, kMoreSlotsButton, 4},
                                           CountCase{3, kFewerSlotsButton, 2},
                                           // A hand-edited count beyond ten comes back to ten.
                                           CountCase{12, kMoreSlotsButton, 10}));

TEST_F(StationWindowTest, SetButtonsMarkExactlyTheCurrentSet) {
    for (int set : {0, 1, 5, 9, -1}) {
        Open("[MAIN]\r\ncfg=" + std::to_string(set) + "\r\n");
        for (int n = 0; n <= 5; ++n) {
            auto* radio = static_cast<QRadioButton*>(Control(kSetRadioFirst + n));
            EXPECT_EQ(radio->isChecked(), n == set) << "cfg=" << set << " button " << n;
        }
    }
}

TEST_F(StationWindowTest, SetButtonSwitchesTheSetAndMovesTheMark) {
    dir.Write("karvelo3.cfg",
              "[WINDOW]\r\nmaxno=4\r\n[DEVICE1]\r\ntyp=1\r\nsendmode=3\r\nsendtime=7\r\n");
    Open("[MAIN]\r\ncfg=0\r\n[WINDOW]\r\nmaxno=2\r\nX=10\r\nY=20\r\n");
    window->show();
    g_run.AcquisitionPaused = true;  // as the acquisition thread leaves it for the command
    window->port().StartTimer(kSendTimer, 5000);

    QTest::mouseClick(static_cast<QRadioButton*>(Control(kSetRadioFirst + 3)), Qt::LeftButton);

    EXPECT_EQ(g_run.ConfigSet.load(), 3);
    EXPECT_EQ(g_run.DeviceCount.load(), 4);
    EXPECT_EQ(ReadKey("karvelo.cfg", L"MAIN", L"cfg"), L"3");
    for (int n = 0; n <= 5; ++n) {
        EXPECT_EQ(static_cast<QRadioButton*>(Control(kSetRadioFirst + n))->isChecked(), n == 3)
            << n;
    }
    // The pause is lifted and the send timer runs at the new set's period.
    EXPECT_FALSE(g_run.AcquisitionPaused.load());
    EXPECT_FALSE(g_run.ConfigPauseRequest.load());
    auto& port = dynamic_cast<QtWindowPort&>(window->port());
    EXPECT_TRUE(port.TimerRunning(kSendTimer));
    EXPECT_EQ(port.TimerInterval(kSendTimer), 7000);

    // Back to set 0, which has no timer slot: no send timer any more.
    g_run.AcquisitionPaused = true;
    QTest::mouseClick(static_cast<QRadioButton*>(Control(kSetRadioFirst)), Qt::LeftButton);
    EXPECT_EQ(g_run.DeviceCount.load(), 2);
    EXPECT_FALSE(port.TimerRunning(kSendTimer));
    EXPECT_TRUE(static_cast<QRadioButton*>(Control(kSetRadioFirst))->isChecked());
}

// Plays the acquisition thread's side of the pause protocol: a pause request
// is honoured at the end of a cycle.
class PauseHonouringThread {
  public:
    PauseHonouringThread()
        : thread_([this] {
              while (!stop_) {
                  for (Flag* request : {&g_run.ConfigPauseRequest, &g_run.ExportPauseRequest,
                                        &g_run.ClosePauseRequest}) {
                      if (request->exchange(false)) g_run.AcquisitionPaused = true;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              }
          }) {}
    ~PauseHonouringThread() {
        stop_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(StationWindowTest, FinishWaitsForThePauseThenSavesEverything) {
    Open("[WINDOW]\r\nX=40\r\nY=50\r\nmaxno=2\r\n[MAIN]\r\ncfg=0\r\n");
    window->show();
    window->move(70, 90);
    g_run.TextLast[kIdEntry] = L"A-17";
    g_run.TextLast[2] = L"12.50";
    PauseHonouringThread acquisition;

    QTest::keyClick(window.get(), Qt::Key_Escape);

    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(g_run.AcquisitionPaused.load());
    EXPECT_EQ(ReadKey("karvelo.cfg", L"WINDOW", L"X"),
              std::to_wstring(window->frameGeometry().x()));
    EXPECT_EQ(ReadKey("karvelo.cfg", L"WINDOW", L"Y"),
              std::to_wstring(window->frameGeometry().y()));
    EXPECT_EQ(ReadKey("karvelo.cfg", L"MAIN", L"cfg"), L"0");
    EXPECT_EQ(ReadKey("karvelo.cfg", L"IDNR", L"textlast"), L"A-17");
    EXPECT_EQ(ReadKey("karvelo.cfg", L"DEVICE2", L"textlast"), L"12.50");
    EXPECT_EQ(ReadKey("karvelo.cfg", L"DEVICE10", L"textlast"), L"");

    // Nothing runs twice once the end has begun.
    window->close();
    QTest::mouseClick(static_cast<QPushButton*>(Control(kFinishButton)), Qt::LeftButton);
    EXPECT_EQ(ends, 1);
}

TEST_F(StationWindowTest, ClosingTheWindowSavesTextsAndEnds) {
    Open("[MAIN]\r\ncfg=9\r\n");
    window->show();
    g_run.TextLast[kIdEntry] = L"B-2";
    PauseHonouringThread acquisition;
    window->close();
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(ReadKey("karvelo.cfg", L"IDNR", L"textlast"), L"B-2");
    // A set number outside 0..5 stays as it was.
    EXPECT_EQ(ReadKey("karvelo.cfg", L"MAIN", L"cfg"), L"9");
}

TEST_F(StationWindowTest, ARecordHandedOverBeforeTheEndIsWrittenFirst) {
    Open("[EXPORT]\r\nexporttype=5\r\n");
    static std::atomic<int> exported{0};
    exported = 0;
    SetRecordExporter([](const ExportTargets&, WindowPort&) { ++exported; });
    // The acquisition thread's hand-over of a workbook record: timer 1 asked for.
    window->port().StartTimer(kExportTimer, 1);
    PauseHonouringThread acquisition;

    window->FinishStation();

    SetRecordExporter(nullptr);
    EXPECT_EQ(exported.load(), 1);
    EXPECT_EQ(ends, 1);
}

TEST_F(StationWindowTest, SendSetsOnlyTheSendTrigger) {
    Open("[EXPORT]\r\nexporttype=1\r\n");
    window->show();
    QTest::keyClick(Control(kIdField), Qt::Key_Return);
    EXPECT_EQ(g_run.SendTrigger.load(), TriggerStage::Pending);
    EXPECT_EQ(g_run.KeyTrigger.load(), TriggerStage::Idle);
    EXPECT_EQ(ends, 0);
}

TEST_F(StationWindowTest, CancelledChooserChangesNothing) {
    Open("[EXPORT]\r\nexporttype=1\r\npath=/data/\r\nfile_csv=run.csv\r\n");
    g_run.AcquisitionPaused = true;
    window->ChooseExportTarget();  // batch mode: the chooser is cancelled
    EXPECT_EQ(g_run.ExportPath.str(), L"/data/");
    EXPECT_EQ(g_run.CsvFileName.str(), L"run.csv");
    EXPECT_EQ(window->ControlText(kFileNameField), QStringLiteral("run.csv"));
    EXPECT_FALSE(g_run.AcquisitionPaused.load());
    EXPECT_FALSE(g_run.ExportPauseRequest.load());
}

TEST_F(StationWindowTest, SlotConfigurationReloadsWhateverTheDialogWrote) {
    Open("[WINDOW]\r\nmaxno=2\r\n");
    g_run.AcquisitionPaused = true;
    int configured = 0;
    window->hooks().configureDevice = [&](int slot) {
        configured = slot;
        EXPECT_EQ(g_run.ConfigSlot.load(), 2);
        platform::WriteProfileString(L"DEVICE2", L"title", L"Bore", dir.file("karvelo.cfg"));
    };
    QTest::mouseClick(static_cast<QPushButton*>(Control(kSlotConfigFirst + 1)), Qt::LeftButton);
    EXPECT_EQ(configured, 2);
    EXPECT_EQ(g_run.Title[2].str(), L"Bore");
    EXPECT_FALSE(g_run.AcquisitionPaused.load());
}

}  // namespace
}  // namespace karvelo::testing

namespace karvelo::testing {
namespace {

using namespace app;

// The acquisition thread's end of a timer cycle: the send timer restarted
// through the window (queued, as from any thread but the window's), then the
// pause request honoured.
void RestartSendTimerThenPause(WindowPort& port, int ms) {
    std::thread cycleEnd([&port, ms] {
        port.StartTimer(kSendTimer, ms);
        g_run.AcquisitionPaused = true;
    });
    cycleEnd.join();
}

TEST_F(StationWindowTest, SendTimerRestartedJustBeforeThePauseStaysStopped) {
    dir.Write("karvelo3.cfg", "[WINDOW]\r\nmaxno=1\r\n");
    Open("[MAIN]\r\ncfg=0\r\n[DEVICE1]\r\ntyp=1\r\nsendmode=3\r\nsendtime=7\r\n");
    RestartSendTimerThenPause(window->port(), 7000);

    // To a set without timer slots: nothing may trigger a record there.
    window->SelectConfigSet(3);
    QCoreApplication::processEvents();

    auto& port = dynamic_cast<QtWindowPort&>(window->port());
    EXPECT_EQ(g_run.ConfigSet.load(), 3);
    EXPECT_FALSE(port.TimerRunning(kSendTimer));
}

// Nothing is copied from one set to another: after a switch the ID and slot
// fields, which the keyboard sources read into the records, hold the new set's
// last texts, and switching back brings the first set's texts back.
TEST_F(StationWindowTest, SwitchingSetsShowsTheNewSetsTexts) {
    dir.Write("karvelo2.cfg",
              "[WINDOW]\r\nmaxno=2\r\n[IDNR]\r\ntextlast=B-2\r\n"
              "[DEVICE2]\r\ntextlast=new text\r\n");
    Open(
        "[MAIN]\r\ncfg=0\r\n[WINDOW]\r\nmaxno=2\r\n[IDNR]\r\ntextlast=4711\r\n"
        "[DEVICE2]\r\ntextlast=old text\r\n");
    ASSERT_EQ(window->ControlText(kIdField), QStringLiteral("4711"));
    g_run.AcquisitionPaused = true;  // no acquisition thread here: the pause holds

    window->SelectConfigSet(2);
    EXPECT_EQ(window->ControlText(kIdField), QStringLiteral("B-2"));
    EXPECT_EQ(window->ControlText(kSlotTextFirst + 1), QStringLiteral("new text"));

    g_run.AcquisitionPaused = true;
    window->SelectConfigSet(0);
    EXPECT_EQ(window->ControlText(kIdField), QStringLiteral("4711"));
    EXPECT_EQ(window->ControlText(kSlotTextFirst + 1), QStringLiteral("old text"));
}

std::vector<std::string> g_exportEvents;

// SIGTERM (or FINISH / EXIT) while a record's export waits in a message box:
// the box is answered, the record is written, and only then does the station end.
TEST_F(StationWindowTest, EndDuringAnExportInAMessageBoxWritesTheRecordFirst) {
    Open();
    SetBatchMode(false);
    g_exportEvents.clear();
    SetRecordExporter([](const ExportTargets&, WindowPort& w) {
        g_exportEvents.push_back("box");
        w.MessageBox(L"ERROR", L"the file is locked", MessageIcon::None);
        g_exportEvents.push_back("written");
    });
    // The acquisition thread's part: it honours the end's pause request.
    std::atomic<bool> stop{false};
    std::thread acquisition([&stop] {
        while (!stop) {
            if (g_run.ClosePauseRequest.exchange(false)) g_run.AcquisitionPaused = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    QTimer::singleShot(100, [this] {
        g_exportEvents.push_back("finish");
        window->FinishStation();
    });
    g_run.AcquisitionPaused = true;
    OnTimerEvent(kExportTimer, window->port());
    stop = true;
    acquisition.join();
    SetRecordExporter(nullptr);
    SetBatchMode(true);

    EXPECT_EQ(g_exportEvents, (std::vector<std::string>{"box", "finish", "written"}));
    EXPECT_EQ(ends, 1);
}

TEST_F(StationWindowTest, ExportTypeChosenWhileACommandWaitsIsNotShownAsChosen) {
    Open("[EXPORT]\r\nexporttype=2\r\nfile_csv=run.csv\r\n");
    auto* list = static_cast<QComboBox*>(Control(kExportTypeList));
    // The operator picks another type while the command still waits for the pause.
    QTimer::singleShot(0, [&] {
        list->setCurrentIndex(4);
        Q_EMIT list->activated(4);
        g_run.AcquisitionPaused = true;
    });
    window->ChooseExportTarget();  // batch mode: the chooser is cancelled

    EXPECT_EQ(g_run.ExportType.load(), ExportKind::CsvMulti);
    EXPECT_EQ(ReadKey("karvelo.cfg", L"EXPORT", L"exporttype"), L"2");
    EXPECT_EQ(list->currentIndex(), 2);
}

}  // namespace
}  // namespace karvelo::testing
