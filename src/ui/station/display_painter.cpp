#include "ui/station/display_painter.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>

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

void ClearRow(QPainter& p, int s) {
    const QRect row = SlotRowRect(s);
    p.fillRect(row, kRowBackground);
    p.save();
    p.setPen(kRowEdge);
    p.setBrush(Qt::NoBrush);
    p.drawRect(row.adjusted(0, 0, -1, -1));
    p.restore();
}

// Draws a prepared text with the horizontal edge and the bottom of its cell
// at (x, y).
void DrawAnchored(QPainter& p, const QStaticText& st, const QFont& font, int x, int y,
                  Qt::AlignmentFlag edge) {
    p.setFont(font);
    const QFontMetrics fm(font);
    const int width = static_cast<int>(std::ceil(st.size().width()));
    const int left = edge == Qt::AlignRight ? x - width : x;
    p.drawStaticText(QPoint(left, y - fm.descent() - fm.ascent()), st);
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

SlotDisplay::SlotDisplay() : fonts_(DisplayFonts::Make()) {}

const QStaticText& SlotDisplay::Layouts::For(const QString& text, const QFont& font) {
    for (const QStaticText& st : kept_) {
        if (st.text() == text) return st;
    }
    // Laid out once in `font`, as plain text (titles may hold '<'); replaces
    // the oldest kept layout.
    QStaticText& st = kept_[next_];
    next_ = (next_ + 1) % kept_.size();
    st.setTextFormat(Qt::PlainText);
    st.setPerformanceHint(QStaticText::AggressiveCaching);
    st.setText(text);
    st.prepare(QTransform(), font);
    return st;
}

SlotDisplay::Content SlotDisplay::ContentOf(int s) {
    Content c;
    const int type = g_run.DeviceType[s];
    if (devices::IsTextType(type)) {
        c.kind = 1;
    } else if (devices::IsInstrumentCode(type)) {
        c.kind = 2;
        c.ready = g_run.ValueReady[s];
        if (c.ready) c.value = SlotValueText(s);
        c.summary = QString::fromStdWString(g_run.DeviceSummary[s].str());
    }
    if (c.kind != 0) c.title = SlotTitleLine(s);
    return c;
}

QRegion SlotDisplay::ChangedRows() const {
    QRegion changed;
    const int count = std::clamp(g_run.DeviceCount.load(), 0, kMaxSlots);
    for (int s = 1; s <= count; ++s) {
        const Row& row = rows_[static_cast<std::size_t>(s)];
        if (!row.painted || !(row.shown == ContentOf(s))) changed += SlotRowRect(s);
    }
    return changed;
}

void SlotDisplay::Paint(QPainter& painter, const QRect& area) {
    painter.save();
    painter.setPen(kDisplayGreen);
    painter.setBackgroundMode(Qt::TransparentMode);
    const int count = std::clamp(g_run.DeviceCount.load(), 0, kMaxSlots);
    for (int s = 1; s <= count; ++s) {
        if (SlotRowRect(s).intersects(area)) PaintRow(painter, s);
    }
    painter.restore();
}

void SlotDisplay::PaintRow(QPainter& p, int s) {
    Row& row = rows_[static_cast<std::size_t>(s)];
    row.shown = ContentOf(s);
    row.painted = true;
    const Content& c = row.shown;
    if (c.kind == 0) return;  // a negative type: not painted at all
    // A text slot's text is its edit field, which lies on the row and is
    // drawn over it by the toolkit.
    ClearRow(p, s);
    if (c.kind == 2) {
        if (c.ready) {
            DrawAnchored(p, row.value.For(c.value, fonts_.big), fonts_.big, kValueRight,
                         kRowPitch * s + kValueBottomOffset, Qt::AlignRight);
        }
        DrawAnchored(p, row.summary.For(c.summary, fonts_.small), fonts_.small, kValueRight,
                     kRowPitch * s + kSmallBottomOffset, Qt::AlignRight);
    }
    DrawAnchored(p, row.title.For(c.title, fonts_.small), fonts_.small, kTitleLeft,
                 kRowPitch * s + kSmallBottomOffset, Qt::AlignLeft);
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
