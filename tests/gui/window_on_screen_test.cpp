// The window stays wholly on one screen of the test desktop (gui_main.cpp: a
// 1280 x 1024 primary screen and an 800 x 600 one to its right), whatever
// position was saved, and the position saved is the one it really has.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <ostream>
#include <string>

#include "app/configuration.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "station_window_fixture.h"

namespace karvelo::testing {
namespace {

using namespace app;

QScreen* ScreenNamed(const QString& name) {
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->name() == name) return screen;
    }
    return nullptr;
}

std::string Describe(const QRect& r) {
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) +
           "x" + std::to_string(r.height());
}

struct SavedCase {
    const char* what;
    int x;
    int y;
    const char* screen;  // where the window must end up, wholly
    friend void PrintTo(const SavedCase& c, std::ostream* os) { *os << c.what; }
};

class SavedPosition : public StationWindowTest, public ::testing::WithParamInterface<SavedCase> {};

TEST_P(SavedPosition, WindowEndsWhollyOnTheScreenAndThatPositionIsSaved) {
    const SavedCase c = GetParam();
    QScreen* screen = ScreenNamed(QString::fromLatin1(c.screen));
    ASSERT_NE(screen, nullptr) << "the test desktop has screens 'primary' and 'second'";
    Open("[MAIN]\r\ncfg=0\r\n[WINDOW]\r\nmaxno=2\r\nX=" + std::to_string(c.x) +
         "\r\nY=" + std::to_string(c.y) + "\r\n");

    const QRect frame = window->frameGeometry();
    EXPECT_TRUE(screen->availableGeometry().contains(frame))
        << Describe(frame) << " on " << Describe(screen->availableGeometry());

    // As the end saves it: the position the window really has.
    SaveMainFileState(window->port());
    EXPECT_EQ(ReadKey("karvelo.cfg", L"WINDOW", L"X"), std::to_wstring(frame.x()));
    EXPECT_EQ(ReadKey("karvelo.cfg", L"WINDOW", L"Y"), std::to_wstring(frame.y()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SavedPosition,
    ::testing::Values(SavedCase{"inside", 100, 200, "primary"},
                      SavedCase{"left of and above every screen", -321, -194, "primary"},
                      SavedCase{"beyond the primary's bottom", 300, 2000, "primary"},
                      SavedCase{"above the second screen", 1400, -50, "second"},
                      SavedCase{"right of every screen", 2500, 300, "second"},
                      // Below the second screen, nearer to the primary.
                      SavedCase{"between the screens", 1500, 900, "primary"}));

TEST_F(StationWindowTest, InsideTheScreenTheWindowStaysWhereItWasSaved) {
    Open("[WINDOW]\r\nX=100\r\nY=200\r\n");
    EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(100, 200));
}

// At the default position ten slots reach below a 1024-pixel screen: each "++"
// moves the window up as far as it must, so that SEND and FINISH stay there.
TEST_F(StationWindowTest, MoreSlotsUpToTenKeepSendAndFinishOnTheScreen) {
    Open("[MAIN]\r\ncfg=0\r\n[EXPORT]\r\nexporttype=2\r\nfile_csv=run.csv\r\n");
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_GE(area.height(), WindowHeightFor(10) + 40) << "the test desktop's primary screen";
    g_run.AcquisitionPaused = true;
    for (int count = 2; count <= 10; ++count) {
        SCOPED_TRACE(count);
        QTest::mouseClick(static_cast<QPushButton*>(Control(kMoreSlotsButton)), Qt::LeftButton);
        ASSERT_EQ(g_run.DeviceCount.load(), count);
        const QRect frame = window->frameGeometry();
        EXPECT_TRUE(area.contains(frame)) << Describe(frame);
        for (int id : {kSendButton, kFinishButton}) {
            QWidget* button = Control(id);
            ASSERT_TRUE(Shown(id)) << id;
            const QRect onScreen(button->mapToGlobal(QPoint(0, 0)), button->size());
            EXPECT_TRUE(area.contains(onScreen)) << id << ": " << Describe(onScreen);
        }
    }
    EXPECT_EQ(window->frameGeometry().bottom(), area.bottom()) << "moved up no further than needed";
    SaveMainFileState(window->port());
    EXPECT_EQ(ReadKey("karvelo.cfg", L"WINDOW", L"X"),
              std::to_wstring(window->frameGeometry().x()));
    EXPECT_EQ(ReadKey("karvelo.cfg", L"WINDOW", L"Y"),
              std::to_wstring(window->frameGeometry().y()));
}

}  // namespace
}  // namespace karvelo::testing
