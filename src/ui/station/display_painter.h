#pragma once
// The painting of the main window: the logo, one black row per slot in use
// with its value in big green digits, its title and status, and a small
// summary of its device. Everything is derived from the run-time state at each
// paint; nothing is kept between paints.
//
// Slot row s (1..10) is the rectangle (10, 61s - 21) to (300, 61s + 39). In a
// measuring slot the value is drawn in the big font with its right edge and
// bottom at (280, 61s + 34), the device summary in the small font with its
// right edge and bottom at (280, 61s + 39), and the title line
// "<title>     <status>" with its left edge and bottom at (10, 61s + 39).
// A text slot shows only the title line (its text is its own edit field); a
// slot with a negative type is not painted.

#include <QFont>
#include <QIcon>
#include <QImage>
#include <QRect>
#include <QRegion>
#include <QStaticText>
#include <QString>
#include <array>

#include "state/run_state.h"

class QPainter;

namespace karvelo::app {

inline constexpr int kRowPitch = 61;
// Pixel heights of the two display fonts.
inline constexpr int kBigFontPixels = 50;  // the value font's cell height
inline constexpr int kSmallFontPixels = 12;

struct DisplayFonts {
    QFont big;
    QFont small;
    // The nearest sans-serif faces at the display's pixel heights.
    static DisplayFonts Make();
};

// The rectangle of slot row s.
QRect SlotRowRect(int slot);

// The area the acquisition repaints after every read: (10, 10) to
// (300, 61 * deviceCount + 60).
QRect ValueAreaRect(int deviceCount);

// The value text of slot s as painted: its status word when the result is an
// error, else its value with its decimals (0..7; 8 for any other setting).
QString SlotValueText(int slot);

// The title line of slot s: title, five blanks, status word.
QString SlotTitleLine(int slot);

// The slot whose row holds `point`, among rows 1..DeviceCount; 0 for none.
int SlotAtPoint(const QPoint& point);

// What hovering over slot s says: why its port cannot be used; empty when
// there is nothing to say.
QString SlotToolTip(int slot);

// The slot rows of the window. Each row remembers what it last painted, with
// its texts laid out once: a read that changed nothing repaints nothing, and a
// changed text is shaped once, not once to measure and again to draw.
class SlotDisplay {
  public:
    SlotDisplay();

    const DisplayFonts& fonts() const { return fonts_; }

    // The rows 1..DeviceCount whose content now differs from what they last
    // painted; empty when every row is as painted.
    QRegion ChangedRows() const;

    // Paints the rows 1..DeviceCount (never beyond 10) that meet `area`.
    void Paint(QPainter& painter, const QRect& area);

  private:
    // What a row shows; rows are repainted when this changes.
    struct Content {
        int kind = 0;  // 0 nothing, 1 text slot, 2 measuring slot
        bool ready = false;
        QString value;
        QString title;
        QString summary;
        bool operator==(const Content&) const = default;
    };
    // The last few layouts of one text of a row: status words and readings
    // alternate ("wait...TIMER" and back, 12.345 and 12.350), and each is
    // shaped once.
    class Layouts {
      public:
        const QStaticText& For(const QString& text, const QFont& font);

      private:
        std::array<QStaticText, 4> kept_;
        std::size_t next_ = 0;
    };
    struct Row {
        Content shown;
        bool painted = false;
        Layouts value;
        Layouts title;
        Layouts summary;
    };

    static Content ContentOf(int slot);
    void PaintRow(QPainter& painter, int slot);

    DisplayFonts fonts_;
    std::array<Row, kMaxSlots + 1> rows_;
};

// The process-wide logo image, shared by every dialog that shows the logo.
// LoadSharedLogo draws it once; later calls keep it.
void LoadSharedLogo();
const QImage& SharedLogo();

// Stretches the whole shared logo into `target` (nothing before it is loaded).
void PaintSharedLogo(QPainter& painter, const QRect& target);

// The icon of a minimised window, centred in the client area.
void PaintMinimisedIcon(QPainter& painter, const QSize& client, const QIcon& icon);

}  // namespace karvelo::app
