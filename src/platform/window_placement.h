#pragma once
// Where the station's window goes on the desktop: wholly on one screen, inside
// the part of it that panels and docks leave free. Plain arithmetic in desktop
// pixels, so that every case is tested without a window system.

#include <span>

namespace karvelo::platform {

struct ScreenPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

struct ScreenRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct ScreenArea {
    ScreenRect geometry;   // the whole screen
    ScreenRect available;  // without panels and docks
};

// The screen whose geometry holds `point`, else the one nearest to it; among
// equals the earlier one (list the primary screen first). -1 without screens.
int ScreenIndexFor(ScreenPoint point, std::span<const ScreenArea> screens);

// The top-left corner that puts a window of `width` x `height` wholly inside
// `area`, moved as little as possible from `wanted`. A window wider or taller
// than the area keeps its left or top edge (the title bar) inside it.
ScreenPoint FitIntoArea(ScreenPoint wanted, int width, int height, ScreenRect area);

// The top-left corner of a window (frame included in its size) whose saved
// corner is `saved`: fitted into the free area of the screen that holds that
// corner or is nearest to it. Without screens, `saved` as it is.
ScreenPoint PlaceWindow(ScreenPoint saved, int width, int height,
                        std::span<const ScreenArea> screens);

}  // namespace karvelo::platform
