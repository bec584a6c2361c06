#include "resources/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRadialGradient>
#include <cmath>
#include <numbers>

namespace karvelo::app {
namespace {

const QColor kPlateTop(0x1f, 0x45, 0x6e);
const QColor kPlateBottom(0x0a, 0x18, 0x2a);
const QColor kPlateEdge(0x6f, 0x9c, 0xc8);
const QColor kScale(0xdc, 0xe6, 0xf0);
const QColor kGreen(0x00, 0xff, 0x00);
const QColor kGreenZone(0x00, 0xc8, 0x50);

// The point at `degrees` (counter-clockwise from three o'clock) on a circle.
QPointF OnCircle(QPointF centre, double radius, double degrees) {
    const double a = degrees * std::numbers::pi / 180.0;
    return {centre.x() + radius * std::cos(a), centre.y() - radius * std::sin(a)};
}

void DrawPlate(QPainter& p, const QRectF& r, double corner) {
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0.0, kPlateTop);
    fill.setColorAt(1.0, kPlateBottom);
    p.setPen(QPen(kPlateEdge, r.width() / 100.0));
    p.setBrush(fill);
    p.drawRoundedRect(r, corner, corner);
}

// A dial scale from 210 to -30 degrees with a green zone at its top end, and
// the needle at `needle` degrees.
void DrawDial(QPainter& p, QPointF centre, double radius, double needle) {
    constexpr double kFrom = 210.0;
    constexpr double kSweep = -240.0;
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    const double scaleWidth = radius / 11.0;

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kScale, scaleWidth, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(box, static_cast<int>(kFrom * 16), static_cast<int>(kSweep * 16));
    p.setPen(QPen(kGreenZone, scaleWidth * 1.6, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(box, static_cast<int>(10.0 * 16), static_cast<int>(-40.0 * 16));

    // Ten divisions, the middle and the ends longer.
    for (int i = 0; i <= 10; ++i) {
        const double a = kFrom + kSweep * i / 10.0;
        const bool major = i % 5 == 0;
        const double inner = radius * (major ? 0.68 : 0.78);
        p.setPen(QPen(kScale, scaleWidth * (major ? 0.9 : 0.6), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(OnCircle(centre, inner, a), OnCircle(centre, radius * 0.9, a));
    }

    p.setPen(QPen(kGreen, scaleWidth * 1.1, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(OnCircle(centre, -radius * 0.16, needle), OnCircle(centre, radius * 0.86, needle));

    QRadialGradient hub(centre, radius * 0.14);
    hub.setColorAt(0.0, Qt::white);
    hub.setColorAt(1.0, QColor(0x8f, 0xa8, 0xc0));
    p.setPen(Qt::NoPen);
    p.setBrush(hub);
    p.drawEllipse(centre, radius * 0.12, radius * 0.12);
}

QFont WordmarkFont(double pixels) {
    QFont f;
    f.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setBold(true);
    f.setPixelSize(static_cast<int>(pixels));
    f.setLetterSpacing(QFont::AbsoluteSpacing, pixels / 12.0);
    return f;
}

}  // namespace

QImage DrawLogo() {
    QImage image(kLogoWidth, kLogoHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    DrawPlate(p, QRectF(3, 3, kLogoWidth - 6, kLogoHeight - 6), 20);
    DrawDial(p, QPointF(kLogoWidth / 2.0, 98), 72, 38);

    p.setFont(WordmarkFont(34));
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 138, kLogoWidth, 48), Qt::AlignHCenter | Qt::AlignVCenter,
               QStringLiteral("KARVELO"));
    return image;
}

QImage DrawIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 64-unit grid and scaled, so every size has the same picture.
    p.scale(size / 64.0, size / 64.0);

    DrawPlate(p, QRectF(1.5, 1.5, 61, 61), 12);
    DrawDial(p, QPointF(32, 31), 23, 40);

    // A small black read-out with a green bar under the dial.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRoundedRect(QRectF(13, 47, 38, 10), 2, 2);
    p.setBrush(kGreen);
    p.drawRect(QRectF(17, 50.5, 26, 3));
    return image;
}

QIcon StationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(QPixmap::fromImage(DrawIcon(size)));
    return icon;
}

}  // namespace karvelo::app
