#pragma once
// The station's own artwork, drawn by code at run time so that its source is
// this file: the window icon (resource 104) and the logo (resource 1301), a
// measuring dial with a green needle on a dark blue plate.

#include <QIcon>
#include <QImage>

namespace karvelo::app {

inline constexpr int kIconResource = 104;
inline constexpr int kLogoResource = 1301;

// The logo at its native size (kLogoWidth x kLogoHeight); the dialogs stretch
// it into their logo rectangles.
inline constexpr int kLogoWidth = 240;
inline constexpr int kLogoHeight = 196;
QImage DrawLogo();

// The icon as a square image of `size` pixels.
QImage DrawIcon(int size);

// The icon at the sizes a desktop asks for.
QIcon StationIcon();

}  // namespace karvelo::app
