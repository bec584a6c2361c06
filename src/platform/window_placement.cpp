#include "platform/window_placement.h"

#include <algorithm>
#include <cstdint>

namespace karvelo::platform {
namespace {

// How far `v` lies outside [first, first + length); 0 inside.
std::int64_t Outside(std::int64_t v, std::int64_t first, std::int64_t length) {
    if (v < first) return first - v;
    const std::int64_t last = first + std::max<std::int64_t>(length, 1) - 1;
    return v > last ? v - last : 0;
}

// The squared distance from `p` to the rectangle; 0 inside it.
std::int64_t DistanceSquared(ScreenPoint p, const ScreenRect& r) {
    const std::int64_t dx = Outside(p.x, r.left, r.width);
    const std::int64_t dy = Outside(p.y, r.top, r.height);
    return dx * dx + dy * dy;
}

// The start that puts [start, start + length) inside [first, first + room),
// or at `first` when it is longer than the room.
int FitSpan(int start, int length, int first, int room) {
    const std::int64_t lastStart = std::int64_t{first} + room - length;
    const std::int64_t fitted = std::min<std::int64_t>(start, lastStart);
    return static_cast<int>(std::max<std::int64_t>(fitted, first));
}

}  // namespace

int ScreenIndexFor(ScreenPoint point, std::span<const ScreenArea> screens) {
    int best = -1;
    std::int64_t bestDistance = 0;
    for (std::size_t i = 0; i < screens.size(); ++i) {
        const std::int64_t d = DistanceSquared(point, screens[i].geometry);
        if (best < 0 || d < bestDistance) {
            best = static_cast<int>(i);
            bestDistance = d;
        }
    }
    return best;
}

ScreenPoint FitIntoArea(ScreenPoint wanted, int width, int height, ScreenRect area) {
    return {FitSpan(wanted.x, width, area.left, area.width),
            FitSpan(wanted.y, height, area.top, area.height)};
}

ScreenPoint PlaceWindow(ScreenPoint saved, int width, int height,
                        std::span<const ScreenArea> screens) {
    const int screen = ScreenIndexFor(saved, screens);
    if (screen < 0) return saved;
    return FitIntoArea(saved, width, height, screens[static_cast<std::size_t>(screen)].available);
}

}  // namespace karvelo::platform
