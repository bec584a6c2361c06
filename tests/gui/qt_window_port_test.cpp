// The window port from the acquisition thread's side: calls from another
// thread reach the window on its own thread, reads wait for their answer.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "app/timers.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "station_window_fixture.h"
#include "ui/station/qt_window_port.h"

namespace karvelo::testing {
namespace {

using namespace app;

class WindowPortTest : public StationWindowTest {
  protected:
    // Runs `work` on another thread while this one keeps the window's events
    // flowing; false when it has not finished within the time.
    template <typename Work>
    bool OnOtherThread(Work work) {
        std::atomic<bool> done{false};
        std::thread other([&] {
            work();
            done = true;
        });
        const bool finished = QTest::qWaitFor([&] { return done.load(); }, 5000);
        other.join();
        return finished;
    }
};

TEST_F(WindowPortTest, TextReadFromAnotherThreadReturnsTheFieldsText) {
    Open();
    static_cast<QLineEdit*>(Control(kIdField))->setText(QStringLiteral("4711-\u00e4"));
    std::wstring read;
    ASSERT_TRUE(OnOtherThread([&] { read = window->port().GetControlText(kIdField); }));
    EXPECT_EQ(read, L"4711-\u00e4");
}

TEST_F(WindowPortTest, CallsFromAnotherThreadArriveInOrder) {
    Open("[EXPORT]\r\nexporttype=1\r\n");
    window->show();
    ASSERT_TRUE(Control(kSendButton)->isVisible());
    std::wstring readBack;
    ASSERT_TRUE(OnOtherThread([&] {
        WindowPort& port = window->port();
        port.ShowControl(kSendButton, false);
        port.SetControlText(kIdField, L"first");
        port.SetControlText(kIdField, L"second");
        // Queued behind the two writes, so it sees the second.
        readBack = port.GetControlText(kIdField);
        port.StartTimer(kIdTimer, 2000);
    }));
    EXPECT_EQ(readBack, L"second");
    QCoreApplication::processEvents();
    EXPECT_FALSE(Control(kSendButton)->isVisible());
    auto& qtPort = dynamic_cast<QtWindowPort&>(window->port());
    EXPECT_TRUE(qtPort.TimerRunning(kIdTimer));
    EXPECT_EQ(qtPort.TimerInterval(kIdTimer), 2000);
}

TEST_F(WindowPortTest, TimersRunTheirHandlerUntilStopped) {
    Open();
    WindowPort& port = window->port();
    g_run.IdReadRequest = false;
    port.StartTimer(kIdTimer, 5);
    ASSERT_TRUE(QTest::qWaitFor([] { return g_run.IdReadRequest.load(); }, 2000));
    // Periodic: it fires again.
    g_run.IdReadRequest = false;
    ASSERT_TRUE(QTest::qWaitFor([] { return g_run.IdReadRequest.load(); }, 2000));
    port.StopTimer(kIdTimer);
    g_run.IdReadRequest = false;
    QTest::qWait(30);
    EXPECT_FALSE(g_run.IdReadRequest.load());

    // The send timer stops itself and raises its trigger once.
    port.StartTimer(kSendTimer, 5);
    ASSERT_TRUE(
        QTest::qWaitFor([] { return g_run.TimerTrigger.load() == TriggerStage::Pending; }, 2000));
    EXPECT_FALSE(dynamic_cast<QtWindowPort&>(port).TimerRunning(kSendTimer));
}

// A send period is kept to the millisecond: never early, and late only by
// what a busy machine adds.
TEST_F(WindowPortTest, TheSendTimerNeverFiresEarly) {
    Open();
    for (int run = 0; run < 2; ++run) {
        g_run.TimerTrigger = TriggerStage::Idle;
        QElapsedTimer clock;
        clock.start();
        window->port().StartTimer(kSendTimer, 1170);
        ASSERT_TRUE(QTest::qWaitFor(
            [] { return g_run.TimerTrigger.load() == TriggerStage::Pending; }, 5000));
        const qint64 elapsed = clock.elapsed();
        EXPECT_GE(elapsed, 1169) << "run " << run;
        EXPECT_LT(elapsed, 1670) << "run " << run;
    }
}

TEST_F(WindowPortTest, BatchMessagesGoToStandardError) {
    Open();
    ::testing::internal::CaptureStderr();
    window->port().MessageBox(L"ERROR", L"Serial COM3 is used for more than one device!",
                              MessageIcon::None);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "ERROR: Serial COM3 is used for more than one device!\n");
}

TEST_F(WindowPortTest, ExportProblemShowsWithoutBlockingAndGoesAway) {
    Open("[EXPORT]\r\nexporttype=2\r\n");
    window->show();
    std::atomic<bool> returned{false};
    ASSERT_TRUE(OnOtherThread([&] {
        window->port().ShowExportProblem(L"/data/run.csv: Permission denied\n1 record waits");
        returned = true;
    }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(window->exportProblem(),
              QStringLiteral("/data/run.csv: Permission denied\n1 record waits"));
    // The field's tip names the file (none is chosen here), then the problem.
    EXPECT_EQ(Control(kFileNameField)->toolTip(),
              QStringLiteral("No file chosen\n\n") + window->exportProblem());
    window->port().ShowExportProblem(L"");
    EXPECT_TRUE(window->exportProblem().isEmpty());
    EXPECT_EQ(Control(kFileNameField)->toolTip(), QStringLiteral("No file chosen"));
}

TEST_F(WindowPortTest, RecordWrittenFromAnotherThreadIsShownOnTheWindowsThread) {
    Open("[EXPORT]\r\nexporttype=2\r\n");
    auto* band = window->findChild<QLabel*>(QStringLiteral("statusLine"));
    ASSERT_NE(band, nullptr);
    std::atomic<bool> returned{false};
    std::thread other([&] {
        window->port().ShowRecordWritten(L"08:05:03", L"/data/run.csv");
        returned = true;
    });
    // This thread dispatches nothing meanwhile: the call must return by itself.
    for (int i = 0; i < 500 && !returned; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const bool returnedAlone = returned.load();
    // Should it wait for this thread after all, it ends now.
    const bool returnedAtAll = QTest::qWaitFor([&] { return returned.load(); }, 5000);
    other.join();
    ASSERT_TRUE(returnedAtAll);
    ASSERT_TRUE(returnedAlone);
    EXPECT_FALSE(band->isVisible()) << "shown only when this thread gets to it";
    QCoreApplication::processEvents();
    EXPECT_TRUE(band->isVisible());
    EXPECT_EQ(band->text(), QStringLiteral("Last record 08:05:03 in run.csv"));
    EXPECT_EQ(band->toolTip(), QStringLiteral("/data/run.csv"));
}

TEST_F(WindowPortTest, WindowRectIsTheFramesPosition) {
    Open("[WINDOW]\r\nX=33\r\nY=44\r\n");
    const WindowRect r = window->port().GetWindowRect();
    EXPECT_EQ(r.left, window->frameGeometry().left());
    EXPECT_EQ(r.top, window->frameGeometry().top());
    EXPECT_EQ(r.left, 33);
    EXPECT_EQ(r.top, 44);
}

}  // namespace
}  // namespace karvelo::testing
