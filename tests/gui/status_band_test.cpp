// The band under the configuration-set buttons: the last record written in
// the window's own colours, an export problem in red over it.
//
// With KARVELO_WINDOW_SHOT set to a file name, the window's picture with the
// band showing the last record is written there as PNG (how
// docs/station-window.png is made).

#include <gtest/gtest.h>

#include <QColor>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <cstdlib>
#include <string>

#include "export/csv_export.h"
#include "export/export_record.h"
#include "export/pending_records.h"
#include "platform/text_encoding.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "station_window_fixture.h"
#include "support/export_now.h"
#include "support/noon_clock.h"

namespace karvelo::testing {
namespace {

using namespace app;

class StatusBandTest : public StationWindowTest {
  protected:
    void SetUp() override {
        StationWindowTest::SetUp();
        exports::SetLocalClock(&NoonClock);
        exports::ReloadPendingRecords();
    }
    void TearDown() override {
        exports::SetLocalClock(nullptr);
        StationWindowTest::TearDown();
        exports::ReloadPendingRecords();
    }

    QLabel& Band() const {
        auto* band = window->findChild<QLabel*>(QStringLiteral("statusLine"));
        EXPECT_NE(band, nullptr);
        return *band;
    }
    // The band's background, beside its text.
    QColor BandBackground() const {
        const QImage image = Band().grab().toImage();
        return image.pixelColor(2, image.height() / 2);
    }
};

TEST_F(StatusBandTest, ShowsTheLastRecordUnlessAProblemIsThere) {
    Open(
        "[MAIN]\r\ncfg=0\r\n[WINDOW]\r\nmaxno=3\r\n[IDNR]\r\ntextlast=LOT-0001\r\n"
        "[EXPORT]\r\nexporttype=2\r\nfile_csv=demo.csv\r\n"
        "[DEVICE1]\r\ntyp=1\r\ntyp_txt=Sylvac duplex\r\nport=3\r\nport_txt=COM3\r\n"
        "title=Bore diameter\r\nformat=3\r\n"
        "[DEVICE2]\r\ntyp=1\r\ntyp_txt=Sylvac duplex\r\nport=4\r\nport_txt=COM4\r\n"
        "title=Shaft length A\r\nformat=3\r\n"
        "[DEVICE3]\r\ntyp=0\r\ntitle=Inspector\r\ntextlast=Demo operator\r\n");
    EXPECT_FALSE(Band().isVisible()) << "no record yet, no problem";
    const QColor windowBackground = window->palette().color(QPalette::Window);

    for (int s = 1; s <= 2; ++s) {
        g_run.ValueReady[s] = true;
        g_run.Value[s] = s == 1 ? 12.346 : 25.014;
        g_run.TextLast[s] = s == 1 ? L"12.346" : L"25.014";
    }
    karvelo::testing::ExportNow(window->port());
    const QString file = QString::fromStdString(dir.file("demo.csv"));
    ASSERT_EQ(QString::fromStdString(dir.Read("demo.csv")).left(9), QStringLiteral("LOT-0001;"));
    EXPECT_TRUE(Band().isVisible());
    EXPECT_EQ(Band().text(), QStringLiteral("Last record 12:00:00 in demo.csv"));
    EXPECT_EQ(Band().toolTip(), file);
    EXPECT_EQ(BandBackground(), windowBackground);

    if (const char* shot = std::getenv("KARVELO_WINDOW_SHOT")) {
        window->update();
        EXPECT_TRUE(window->grab().save(QString::fromLocal8Bit(shot), "PNG")) << shot;
    }

    window->port().ShowExportProblem(
        L"Cannot write to /data/demo.csv (Permission denied): 1 record kept.\nmore");
    EXPECT_EQ(Band().text().left(25), QStringLiteral("Cannot write to /data/dem"));
    EXPECT_EQ(Band().toolTip(),
              QStringLiteral("Cannot write to /data/demo.csv (Permission denied): 1 record "
                             "kept.\nmore"));
    EXPECT_EQ(BandBackground(), QColor(0x5a, 0x00, 0x00));

    window->port().ShowExportProblem(L"");
    EXPECT_TRUE(Band().isVisible());
    EXPECT_EQ(Band().text(), QStringLiteral("Last record 12:00:00 in demo.csv"));
    EXPECT_EQ(Band().toolTip(), file);
    EXPECT_EQ(BandBackground(), windowBackground);
}

TEST_F(StatusBandTest, RecordsWaitingForThePlantServerAreCountedBesideTheLastRecord) {
    Open(
        "[MAIN]\r\ncfg=0\r\n[WINDOW]\r\nmaxno=1\r\n[EXPORT]\r\nexporttype=0\r\n"
        "[DEVICE1]\r\ntyp=0\r\ntitle=Inspector\r\n");
    const std::wstring down =
        L"cannot forward records to bench@plant-db:5432/plant: connection refused";
    const std::string problem = platform::WideToUtf8(down);
    struct Step {
        long long waiting;
        std::wstring problem;
        bool recordFirst;  // a record is written to /data/demo.csv first
        std::string text;  // the band's text
        std::string tip;
    };
    const Step steps[] = {
        {3, down, false, "3 records waiting for the plant server", problem},
        {1, down, false, "1 record waiting for the plant server", problem},
        {1, down, true, "Last record 12:00:00; 1 waiting for the plant server",
         "/data/demo.csv\n" + problem},
        {0, L"", false, "Last record 12:00:00 in demo.csv", "/data/demo.csv"},
    };
    for (const Step& step : steps) {
        if (step.recordFirst) window->port().ShowRecordWritten(L"12:00:00", L"/data/demo.csv");
        window->port().ShowRecordsWaiting(step.waiting, step.problem);
        EXPECT_TRUE(Band().isVisible()) << step.text;
        EXPECT_EQ(Band().text().toStdString(), step.text);
        EXPECT_EQ(Band().toolTip().toStdString(), step.tip) << step.text;
    }
    // An export problem still outranks everything else.
    window->port().ShowRecordsWaiting(5, down);
    window->port().ShowExportProblem(L"Cannot write to /data/demo.csv (No space left on device)");
    EXPECT_EQ(Band().text().left(15), QStringLiteral("Cannot write to"));
}

// Counts the style changes a widget goes through.
class StyleChanges : public QObject {
  public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::StyleChange) ++count;
        return false;
    }
};

TEST_F(StatusBandTest, SuccessfulExportsLeaveTheStyleAlone) {
    Open("[EXPORT]\r\nexporttype=2\r\nfile_csv=demo.csv\r\n");
    StyleChanges field;
    StyleChanges band;
    Control(kFileNameField)->installEventFilter(&field);
    Band().installEventFilter(&band);
    window->ShowRecordWritten(QStringLiteral("12:00:00"), QStringLiteral("/tmp/demo.csv"));
    const int bandBefore = band.count;
    for (int i = 0; i < 10; ++i) {
        window->ShowExportProblem(QString());
        window->ShowRecordWritten(QStringLiteral("12:00:0") + QString::number(i),
                                  QStringLiteral("/tmp/demo.csv"));
    }
    EXPECT_EQ(field.count, 0);
    EXPECT_EQ(band.count, bandBefore);
    // A problem and its end do change it, once each.
    window->ShowExportProblem(QStringLiteral("disk full"));
    window->ShowExportProblem(QStringLiteral("disk full"));
    EXPECT_EQ(field.count, 1);
    window->ShowExportProblem(QString());
    EXPECT_EQ(field.count, 2);
    Control(kFileNameField)->removeEventFilter(&field);
    Band().removeEventFilter(&band);
}

}  // namespace
}  // namespace karvelo::testing
