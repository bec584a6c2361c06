// The slot rows as the operator sees them: the window rendered into an image.

#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QToolTip>
#include <algorithm>
#include <functional>

#include "state/run_state.h"
#include "station_window_fixture.h"
#include "ui/station/display_painter.h"

namespace karvelo::testing {
namespace {

using namespace app;

bool IsDisplayGreen(QRgb p) {
    return qGreen(p) > 160 && qRed(p) < 90 && qBlue(p) < 90;
}
bool IsBlack(QRgb p) {
    return qRed(p) < 8 && qGreen(p) < 8 && qBlue(p) < 8;
}

// The box around the green pixels of an area.
QRect GreenBox(const QImage& image, const QRect& area) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (IsDisplayGreen(image.pixel(x, y))) box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

class SlotRows : public StationWindowTest {
  protected:
    QImage Render() {
        window->show();
        QImage image(window->size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        window->render(&image);
        return image;
    }
    // The big value line of row s, above the small texts at its bottom.
    static QRect ValueBand(int s) { return QRect(12, 61 * s - 20, 286, 46); }
};

TEST_F(SlotRows, ValueIsRightAlignedInBigGreenDigits) {
    Open(
        "[WINDOW]\r\nmaxno=2\r\n[DEVICE1]\r\ntyp=1\r\nformat=3\r\ntitle=Bore "
        "A\r\n[DEVICE2]\r\ntyp=1\r\nformat=3\r\n");
    g_run.Value[1] = 12.3456;
    g_run.ValueReady[1] = true;
    g_run.Value[2] = 1.0;
    g_run.ValueReady[2] = false;  // nothing read yet: no value
    EXPECT_EQ(SlotValueText(1), QStringLiteral("12.346"));
    const QImage image = Render();

    const QRect row1 = SlotRowRect(1);
    EXPECT_TRUE(IsBlack(image.pixel(row1.left() + 3, row1.top() + 3)));
    EXPECT_TRUE(IsBlack(image.pixel(row1.right() - 3, row1.bottom() - 3)));

    const QRect value = GreenBox(image, ValueBand(1));
    ASSERT_FALSE(value.isEmpty());
    EXPECT_GE(value.right(), 272);
    EXPECT_LE(value.right(), 280);
    EXPECT_GE(value.height(), 30) << "big type";
    EXPECT_GT(value.width(), 100);
    EXPECT_LE(value.bottom(), 61 + 34);

    // The title in small type at the row's bottom left.
    const QRect title = GreenBox(image, QRect(10, 61 + 24, 60, 15));
    ASSERT_FALSE(title.isEmpty());
    EXPECT_LE(title.left(), 13);
    EXPECT_LE(title.height(), 12);

    EXPECT_TRUE(GreenBox(image, ValueBand(2)).isEmpty());
}

TEST_F(SlotRows, AnErrorShowsItsStatusWordInBigType) {
    Open("[DEVICE1]\r\ntyp=1\r\nformat=2\r\n");
    g_run.ValueReady[1] = true;
    g_run.ValueError[1] = true;
    g_run.StatusText[1] = L"com error";
    EXPECT_EQ(SlotTitleLine(1), QStringLiteral("     com error"));
    const QImage image = Render();
    const QRect word = GreenBox(image, ValueBand(1));
    ASSERT_FALSE(word.isEmpty());
    EXPECT_GE(word.height(), 22);  // the value font, far above the small texts' 12 px
    EXPECT_GE(word.right(), 270);
    EXPECT_GT(word.width(), 150);
}

TEST_F(SlotRows, DecimalsBeyondSevenShowEight) {
    ResetRunState();
    g_run.Value[3] = 12.3456;
    for (auto [decimals, text] : {std::pair{0, "12"},
                                  {3, "12.346"},
                                  {7, "12.3456000"},
                                  {9, "12.34560000"},
                                  {-1, "12.34560000"}}) {
        g_run.Decimals[3] = decimals;
        EXPECT_EQ(SlotValueText(3), QString::fromLatin1(text)) << decimals;
    }
}

// The longest value text of eight decimals keeps its leading digit: "2.34..."
// for 12.3456 would be a tenfold misreading.
TEST_F(SlotRows, TheLongestValueFitsItsRow) {
    const DisplayFonts fonts = DisplayFonts::Make();
    const QFontMetrics metrics(fonts.big);
    EXPECT_LE(metrics.height(), kBigFontPixels);
    EXPECT_GE(metrics.height(), kBigFontPixels - 4);
    for (const char* text : {"12.34560000", "device error", "out of range"}) {
        EXPECT_LE(metrics.horizontalAdvance(QString::fromLatin1(text)), 290 - 20) << text;
    }

    Open("[WINDOW]\r\nmaxno=1\r\n[DEVICE1]\r\ntyp=1\r\nformat=9\r\n");
    g_run.ValueReady[1] = true;
    g_run.Value[1] = 12.3456;
    const QImage image = Render();
    const QRect green = GreenBox(image, ValueBand(1));
    ASSERT_FALSE(green.isEmpty());
    EXPECT_GT(green.left(), 12) << "the leading digit is inside the row";
}

TEST_F(SlotRows, OnlyRowsUpToTenAreDrawnAndNegativeTypesNotAtAll) {
    // Twelve in a hand-edited file: the window follows, the rows stop at ten.
    Open("[WINDOW]\r\nmaxno=12\r\n[DEVICE3]\r\ntyp=-1\r\n");
    const QImage image = Render();
    EXPECT_EQ(image.height(), 61 * 12 + 195);
    EXPECT_TRUE(IsBlack(image.pixel(12, SlotRowRect(10).top() + 2)));
    EXPECT_FALSE(IsBlack(image.pixel(12, SlotRowRect(3).top() + 2)));
    // Where row 11 would be, the window's own background.
    EXPECT_FALSE(IsBlack(image.pixel(12, SlotRowRect(11).top() + 2)));
}

TEST_F(SlotRows, HoveringARowWithAPortProblemSaysWhy) {
    Open("[WINDOW]\r\nmaxno=3\r\n[DEVICE2]\r\ntyp=1\r\nport=3\r\n");
    const std::wstring why = L"COM3 (/dev/ttyUSB0): busy: held by another program";
    g_run.PortProblem[2] = why;
    struct Case {
        QPoint at;
        QString tip;
    };
    const Case cases[] = {
        {SlotRowRect(2).center(), QString::fromStdWString(why)},
        {SlotRowRect(2).topLeft(), QString::fromStdWString(why)},
        {SlotRowRect(1).center(), QString()},
        {SlotRowRect(3).center(), QString()},
        // Below the rows in use, where a fourth row would be.
        {SlotRowRect(4).center(), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at.y());
        // A tip fades out after it is hidden; wait until it is gone.
        QToolTip::hideText();
        EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 2000));
        QHelpEvent help(QEvent::ToolTip, c.at, window->mapToGlobal(c.at));
        QApplication::sendEvent(window.get(), &help);
        // The first tip of a process may take a moment to come up.
        (void)QTest::qWaitFor([] { return QToolTip::isVisible(); }, c.tip.isEmpty() ? 100 : 2000);
        EXPECT_EQ(QToolTip::isVisible() ? QToolTip::text() : QString(), c.tip);
    }
    QToolTip::hideText();
}

TEST_F(SlotRows, OnlyRowsWhoseContentChangedAreRepainted) {
    ResetRunState();
    g_run.DeviceCount = 3;
    for (int s = 1; s <= 3; ++s) {
        g_run.DeviceType[s] = 1;
        g_run.ValueReady[s] = true;
        g_run.Value[s] = s;
        g_run.Decimals[s] = 3;
    }
    g_run.DeviceType[3] = 0;  // a text slot
    SlotDisplay display;
    QImage image(310, 61 * 4 + 60, QImage::Format_RGB32);
    const auto paint = [&](const QRect& area) {
        QPainter painter(&image);
        display.Paint(painter, area);
    };
    EXPECT_EQ(display.ChangedRows(), QRegion(SlotRowRect(1)) + SlotRowRect(2) + SlotRowRect(3))
        << "nothing painted yet";
    paint(image.rect());
    EXPECT_TRUE(display.ChangedRows().isEmpty());

    struct Case {
        const char* what;
        std::function<void()> change;
        int row;  // the one row to repaint; 0: none
    };
    const Case cases[] = {
        {"the same reading again", [] { g_run.Value[1] = 1.0; }, 0},
        {"a value beyond the shown decimals", [] { g_run.Value[1] = 1.0000001; }, 0},
        {"a new reading", [] { g_run.Value[2] = 2.5; }, 2},
        {"a status word", [] { g_run.StatusText[1] = L"wait...."; }, 1},
        {"the same status word", [] { g_run.StatusText[1] = L"wait...."; }, 0},
        {"a failed reading", [] { g_run.ValueError[2] = true; }, 2},
        {"a text slot's title", [] { g_run.Title[3] = L"Operator"; }, 3},
        {"no reading yet", [] { g_run.ValueReady[1] = false; }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.change();
        EXPECT_EQ(display.ChangedRows(), c.row == 0 ? QRegion() : QRegion(SlotRowRect(c.row)));
        paint(image.rect());
        EXPECT_TRUE(display.ChangedRows().isEmpty());
    }

    // A row outside the painted area keeps waiting for its paint.
    g_run.Title[2] = L"Bore";
    g_run.Value[1] = 0.5;
    g_run.ValueReady[1] = true;
    paint(SlotRowRect(1));
    EXPECT_EQ(display.ChangedRows(), QRegion(SlotRowRect(2)));
}

TEST_F(SlotRows, TheLogoFillsItsPlace) {
    Open();
    const QImage image = Render();
    // Somewhere inside the logo's rectangle it is not the window's background.
    const QRgb background = image.pixel(100, 61 + 182);
    int different = 0;
    for (int y = 61 + 110; y < 61 + 150; ++y) {
        for (int x = 6; x < 56; ++x) different += image.pixel(x, y) != background;
    }
    EXPECT_GT(different, 1000);
}

}  // namespace
}  // namespace karvelo::testing
