// The window tests run in one QApplication on the offscreen platform, on a
// desktop of two screens (tests/gui/offscreen_desktop.json): a 1280 x 1024
// primary screen, as the stations have, and an 800 x 600 one to its right.

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen") {
        qputenv("QT_QPA_PLATFORM",
                "offscreen:configfile=" KARVELO_SOURCE_DIR "/tests/gui/offscreen_desktop.json");
    }
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
