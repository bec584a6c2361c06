#include "platform/window_placement.h"

#include <gtest/gtest.h>

#include <vector>

namespace karvelo::platform {
namespace {

// The primary screen, 1920 x 1080 with a 40-pixel panel at the bottom, and a
// second one to its right, 1280 x 1024 with a 24-pixel panel at the top (so
// there is an empty corner below it, right of the primary).
const std::vector<ScreenArea> kTwoScreens = {
    {{0, 0, 1920, 1080}, {0, 0, 1920, 1040}},
    {{1920, 0, 1280, 1024}, {1920, 24, 1280, 1000}},
};
// One 1280 x 1024 screen without panels.
const std::vector<ScreenArea> kOneScreen = {{{0, 0, 1280, 1024}, {0, 0, 1280, 1024}}};

TEST(PlaceWindow, KeepsTheWindowWhollyOnTheScreenOfItsSavedCorner) {
    struct Case {
        const char* what;
        const std::vector<ScreenArea>& screens;
        ScreenPoint saved;
        int width;
        int height;
        ScreenPoint expected;
    };
    const Case cases[] = {
        {"inside", kTwoScreens, {663, 405}, 355, 256, {663, 405}},
        {"off to the left and top", kTwoScreens, {-321, -194}, 355, 256, {0, 0}},
        {"left only", kTwoScreens, {-50, 300}, 355, 256, {0, 300}},
        {"beyond the bottom panel", kTwoScreens, {100, 1000}, 355, 256, {100, 784}},
        {"crossing onto the second screen", kTwoScreens, {1800, 100}, 355, 256, {1565, 100}},
        {"on the second screen", kTwoScreens, {2000, 300}, 355, 256, {2000, 300}},
        {"under the second screen's top panel", kTwoScreens, {2000, 5}, 355, 256, {2000, 24}},
        {"beyond every screen's right", kTwoScreens, {5000, 100}, 355, 256, {2845, 100}},
        {"in the corner between the screens", kTwoScreens, {2500, 1050}, 355, 256, {2500, 768}},
        {"far below the primary", kTwoScreens, {300, 4000}, 355, 256, {300, 784}},
        {"taller than the screen", kTwoScreens, {100, 300}, 355, 1200, {100, 0}},
        {"taller than the second screen", kTwoScreens, {2000, 500}, 355, 1100, {2000, 24}},
        {"wider than the screen", kOneScreen, {500, 10}, 1500, 256, {0, 10}},
        {"ten slots at the default position", kOneScreen, {663, 405}, 355, 805, {663, 219}},
        {"saved at the extremes", kOneScreen, {32767, -32768}, 355, 805, {925, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ScreenPoint placed = PlaceWindow(c.saved, c.width, c.height, c.screens);
        EXPECT_EQ(placed.x, c.expected.x);
        EXPECT_EQ(placed.y, c.expected.y);
    }
}

TEST(PlaceWindow, WithoutScreensTheSavedCornerStays) {
    EXPECT_EQ(PlaceWindow({-321, -194}, 355, 256, {}), (ScreenPoint{-321, -194}));
}

TEST(ScreenIndexFor, EquallyNearScreensGoToTheFirstListed) {
    // Columns 800 to 900 lie between two screens; column 850 is 51 from each.
    const std::vector<ScreenArea> gap = {
        {{0, 0, 800, 600}, {0, 0, 800, 600}},
        {{901, 0, 800, 600}, {901, 0, 800, 600}},
    };
    EXPECT_EQ(ScreenIndexFor({850, 100}, gap), 0);
    EXPECT_EQ(ScreenIndexFor({851, 100}, gap), 1);
    EXPECT_EQ(ScreenIndexFor({1000, 100}, gap), 1);
    EXPECT_EQ(ScreenIndexFor({1000, 100}, {}), -1);
}

}  // namespace
}  // namespace karvelo::platform
