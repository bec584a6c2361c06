// IDNRCFG on a real configuration file, and the ID command around it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/timers.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "station_window_fixture.h"
#include "ui/export/id_config_dialog.h"
#include "ui/station/qt_window_port.h"

namespace karvelo::testing {
namespace {

using namespace app;
using exports::IdConfigDialog;

class IdConfig : public StationWindowTest {
  protected:
    IdConfigDialog& Dialog() { return window->idConfigDialog(); }
    QWidget* DialogControl(int id) { return Dialog().control(id); }
    bool DialogShows(int id) { return DialogControl(id)->isVisibleTo(&Dialog()); }
    void Choose(int index) {
        auto* list = static_cast<QComboBox*>(DialogControl(exports::kIdSourceList));
        list->setCurrentIndex(index);
        Q_EMIT list->activated(index);
    }
};

TEST_F(IdConfig, FileControlsShowOnlyForAFileSource) {
    Open("[IDNR]\r\ntextsource=0\r\ntextpath=/srv/lists/\r\ntextfile=ids.csv\r\n");
    Dialog().Open();
    auto* list = static_cast<QComboBox*>(DialogControl(exports::kIdSourceList));
    ASSERT_EQ(list->count(), 10);
    EXPECT_EQ(list->itemText(0), QStringLiteral("TEXT input"));
    EXPECT_EQ(list->itemText(9), QStringLiteral("CSV_9"));
    EXPECT_EQ(list->currentIndex(), 0);
    EXPECT_FALSE(DialogShows(exports::kIdFileField));
    EXPECT_FALSE(DialogShows(exports::kIdBrowseButton));
    EXPECT_EQ(static_cast<QLineEdit*>(DialogControl(exports::kIdFileField))->text(),
              QStringLiteral("ids.csv"));

    // A change of the choice is written at once.
    Choose(1);
    EXPECT_TRUE(DialogShows(exports::kIdFileField));
    EXPECT_TRUE(DialogShows(exports::kIdBrowseButton));
    EXPECT_EQ(ReadKey("karvelo.cfg", L"IDNR", L"textsource"), L"1");

    Choose(0);
    EXPECT_FALSE(DialogShows(exports::kIdFileField));
    EXPECT_FALSE(DialogShows(exports::kIdBrowseButton));
    EXPECT_EQ(ReadKey("karvelo.cfg", L"IDNR", L"textsource"), L"0");
}

TEST_F(IdConfig, OpensOnTheFilesChoiceAndOkWritesAllThreeKeys) {
    dir.Write("karvelo2.cfg",
              "[IDNR]\r\ntextsource=3\r\ntextpath=/srv/lists/\r\ntextfile=old.csv\r\n");
    Open("[MAIN]\r\ncfg=2\r\n");
    Dialog().Open();
    EXPECT_EQ(g_run.TextSource[kIdEntry].load(), 3);
    EXPECT_EQ(static_cast<QComboBox*>(DialogControl(exports::kIdSourceList))->currentIndex(), 3);
    EXPECT_TRUE(DialogShows(exports::kIdFileField));

    static_cast<QLineEdit*>(DialogControl(exports::kIdFileField))
        ->setText(QStringLiteral("new.csv"));
    Choose(2);
    QTest::mouseClick(static_cast<QPushButton*>(DialogControl(exports::kIdConfigOk)),
                      Qt::LeftButton);

    EXPECT_EQ(g_run.TextSource[kIdEntry].load(), 2);
    EXPECT_EQ(g_run.TextFile[kIdEntry].str(), L"new.csv");
    // The keys go to the active set's file, not to the main file.
    EXPECT_EQ(ReadKey("karvelo2.cfg", L"IDNR", L"textsource"), L"2");
    EXPECT_EQ(ReadKey("karvelo2.cfg", L"IDNR", L"textpath"), L"/srv/lists/");
    EXPECT_EQ(ReadKey("karvelo2.cfg", L"IDNR", L"textfile"), L"new.csv");
    EXPECT_EQ(ReadKey("karvelo.cfg", L"IDNR", L"textfile"), L"<missing>");
}

TEST_F(IdConfig, ClosingWithoutOkKeepsTheFileName) {
    Open("[IDNR]\r\ntextsource=1\r\ntextfile=ids.csv\r\n");
    Dialog().Open();
    static_cast<QLineEdit*>(DialogControl(exports::kIdFileField))
        ->setText(QStringLiteral("typed.csv"));
    Dialog().reject();
    EXPECT_EQ(ReadKey("karvelo.cfg", L"IDNR", L"textfile"), L"ids.csv");
    EXPECT_EQ(g_run.TextFile[kIdEntry].str(), L"ids.csv");
}

TEST_F(IdConfig, IdCommandPausesRunsTheDialogAndResumes) {
    Open("[DEVICE1]\r\ntyp=1\r\nsendmode=3\r\nsendtime=2.5\r\n[IDNR]\r\ntextsource=0\r\n");
    g_run.AcquisitionPaused = true;
    bool sawPaused = false;
    QTimer::singleShot(0, [&] {
        sawPaused = g_run.AcquisitionPaused && g_run.ConfigPauseRequest;
        ASSERT_TRUE(Dialog().isVisible());
        Choose(4);
        Dialog().accept();
    });
    QTest::mouseClick(static_cast<QPushButton*>(Control(kIdConfigButton)), Qt::LeftButton);

    EXPECT_TRUE(sawPaused);
    EXPECT_EQ(ReadKey("karvelo.cfg", L"IDNR", L"textsource"), L"4");
    EXPECT_FALSE(g_run.AcquisitionPaused.load());
    EXPECT_FALSE(g_run.ConfigPauseRequest.load());
    auto& port = dynamic_cast<QtWindowPort&>(window->port());
    EXPECT_TRUE(port.TimerRunning(kSendTimer));
    EXPECT_EQ(port.TimerInterval(kSendTimer), 2500);
}

}  // namespace
}  // namespace karvelo::testing
