#include "app/ui/display_painter.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

#include "devices/catalogue.h"
#include "platform/numbers.h"
#include "resources/artwork.h"
#include "state/run_state.h"

namespace karvelo::app {
namespace {

const QColor kDisplayGreen(0, 255, 0);
const QColor kRowBackground(0, 0, 0);
// A hairline inside each row, so that the rows read as separate displays.
const QColor kRowEdge(0x10, 0x40, 0x10);

constexpr int kValueRight = 280;
constexpr int kValueBottomOffset = 34;  // from 61s
constexpr int kSmallBottomOffset = 39;
constexpr int kTitleLeft = 10;
constexpr int kMaxDecimals = 7;
constexpr int kOtherDecimals = 8;
constexpr int kSystemIconSize = 32;

// Draws text with the horizontal edge and the bottom of its cell at (x, y).
void DrawAnchored(QPainter& p, const QString& text, int x, int y, Qt::AlignmentFlag edge) {
    const QFontMetrics fm(p.font());
    const int left = edge == Qt::AlignRight ? x - fm.horizontalAdvance(text) : x;
    p.drawText(QPoint(left, y - fm.descent()), text);
}

void ClearRow(QPainter& p, int s) {
    const QRect row = SlotRowRect(s);
    p.fillRect(row, kRowBackground);
    p.save();
    p.setPen(kRowEdge);
    p.setBrush(Qt::NoBrush);
    p.drawRect(row.adjusted(0, 0, -1, -1));
    p.restore();
}

void PaintTitleLine(QPainter& p, const DisplayFonts& fonts, int s) {
    p.setFont(fonts.small);
    DrawAnchored(p, SlotTitleLine(s), kTitleLeft, kRowPitch * s + kSmallBottomOffset,
                 Qt::AlignLeft);
}

void PaintMeasuringSlot(QPainter& p, const DisplayFonts& fonts, int s) {
    const QString value = SlotValueText(s);
    ClearRow(p, s);
    if (g_run.ValueReady[s]) {
        p.setFont(fonts.big);
        DrawAnchored(p, value, kValueRight, kRowPitch * s + kValueBottomOffset, Qt::AlignRight);
    }
    p.setFont(fonts.small);
    DrawAnchored(p, QString::fromStdWString(g_run.DeviceSummary[s].str()), kValueRight,
                 kRowPitch * s + kSmallBottomOffset, Qt::AlignRight);
    PaintTitleLine(p, fonts, s);
}

QImage& LogoStore() {
    static QImage logo;
    return logo;
}

QFont DisplayFont(int pixels) {  // pixel size: the font's em
    QFont f;
    f.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                   QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixels);
    return f;
}

}  // namespace

// The value font's height is its cell (ascent and descent), not its em: a
// font of pixel size 50 stands some 15 % taller and pushes the leading digit
// of a long value out of the row.
QFont CellHeightFont(int cellPixels) {
    QFont f = DisplayFont(cellPixels);
    for (int pixels = cellPixels; pixels > 1; --pixels) {
        f.setPixelSize(pixels);
        if (QFontMetrics(f).height() <= cellPixels) break;
    }
    return f;
}

DisplayFonts DisplayFonts::Make() {
    return {CellHeightFont(kBigFontPixels), DisplayFont(kSmallFontPixels)};
}

QRect SlotRowRect(int slot) {
    return QRect(10, kRowPitch * slot - 21, 290, 60);
}

int SlotAtPoint(const QPoint& point) {
    const int count = std::clamp(g_run.DeviceCount.load(), 0, kMaxSlots);
    for (int s = 1; s <= count; ++s) {
        if (SlotRowRect(s).contains(point)) return s;
    }
    return 0;
}

QString SlotToolTip(int slot) {
    if (slot < 1 || slot > kMaxSlots) return {};
    return QString::fromStdWString(g_run.PortProblem[slot].str());
}

QRect ValueAreaRect(int deviceCount) {
    const int bottom = kRowPitch * std::max(deviceCount, 0) + 60;
    return QRect(QPoint(10, 10), QPoint(299, bottom - 1));
}

QString SlotValueText(int slot) {
    if (g_run.ValueError[slot]) return QString::fromStdWString(g_run.StatusText[slot].str());
    const int decimals = g_run.Decimals[slot];
    const int digits = decimals >= 0 && decimals <= kMaxDecimals ? decimals : kOtherDecimals;
    return QString::fromStdWString(platform::FormatFixed(g_run.Value[slot], digits));
}

QString SlotTitleLine(int slot) {
    return QString::fromStdWString(g_run.Title[slot].str()) + QStringLiteral("     ") +
           QString::fromStdWString(g_run.StatusText[slot].str());
}

void PaintSlots(QPainter& painter, const DisplayFonts& fonts) {
    painter.save();
    painter.setPen(kDisplayGreen);
    painter.setBackgroundMode(Qt::TransparentMode);
    const int count = std::min<int>(g_run.DeviceCount, kMaxSlots);
    for (int s = 1; s <= count; ++s) {
        if (devices::IsTextType(g_run.DeviceType[s])) {
            // The slot's text is its edit field, which lies on the row and is
            // drawn over it by the toolkit.
            ClearRow(painter, s);
            PaintTitleLine(painter, fonts, s);
        } else if (devices::IsInstrumentCode(g_run.DeviceType[s])) {
            PaintMeasuringSlot(painter, fonts, s);
        }
    }
    painter.restore();
}

void LoadSharedLogo() {
    QImage& logo = LogoStore();
    if (logo.isNull()) logo = DrawLogo();
}

const QImage& SharedLogo() {
    return LogoStore();
}

void PaintSharedLogo(QPainter& painter, const QRect& target) {
    const QImage& logo = SharedLogo();
    if (logo.isNull() || target.isEmpty()) return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, logo);
    painter.restore();
}

void PaintMinimisedIcon(QPainter& painter, const QSize& client, const QIcon& icon) {
    const int left = (client.width() - kSystemIconSize + 1) / 2;
    const int top = (client.height() - kSystemIconSize + 1) / 2;
    painter.drawPixmap(left, top, icon.pixmap(kSystemIconSize, kSystemIconSize));
}

}  // namespace karvelo::app
