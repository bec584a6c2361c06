// gtest first: the X11 headers define macros (None, Bool, ...) that clash with it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/keystate.h"
#include "support/xvfb.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace karvelo::platform {
namespace {

constexpr int kF5 = 5;
constexpr int kEnter = 14;
constexpr int kSpace = 13;

// Another program's window holds the focus; the keys are typed with XTest, as
// the keyboard would.
class DesktopKeyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!xvfb_.available()) GTEST_SKIP() << "Xvfb is not available";
        const char* old = std::getenv("DISPLAY");
        oldDisplay_ = old ? old : "";
        setenv("DISPLAY", xvfb_.display().c_str(), 1);
        other_ = XOpenDisplay(xvfb_.display().c_str());
        ASSERT_NE(other_, nullptr);
        const Window w =
            XCreateSimpleWindow(other_, DefaultRootWindow(other_), 0, 0, 100, 100, 0, 0, 0);
        XMapWindow(other_, w);
        XSync(other_, False);
        XSetInputFocus(other_, w, RevertToParent, CurrentTime);
        XSync(other_, False);
        keys_ = CreateSystemKeyState();
    }
    void TearDown() override {
        keys_.reset();
        if (other_) XCloseDisplay(other_);
        if (!oldDisplay_.empty())
            setenv("DISPLAY", oldDisplay_.c_str(), 1);
        else
            unsetenv("DISPLAY");
    }
    void Key(KeySym sym, bool down) {
        XTestFakeKeyEvent(other_, XKeysymToKeycode(other_, sym), down ? True : False, CurrentTime);
        XSync(other_, False);
    }
    // The query reads the events the server has sent by now; give it a moment.
    bool Query(int key) {
        usleep(50 * 1000);
        return keys_->IsDownOrWasPressed(key);
    }

    karvelo::testing::Xvfb xvfb_;
    std::string oldDisplay_;
    Display* other_ = nullptr;
    std::unique_ptr<KeyState> keys_;
};

TEST_F(DesktopKeyTest, APressBetweenTwoQueriesIsNotLost) {
    EXPECT_FALSE(Query(kF5));
    Key(XK_F5, true);
    Key(XK_F5, false);
    EXPECT_TRUE(Query(kF5)) << "pressed and released since the last query";
    EXPECT_FALSE(Query(kF5)) << "one press counts once";
}

TEST_F(DesktopKeyTest, AHeldKeyIsDownUntilReleased) {
    Key(XK_Return, true);
    EXPECT_TRUE(Query(kEnter));
    EXPECT_TRUE(Query(kEnter));
    Key(XK_Return, false);
    EXPECT_FALSE(Query(kEnter));
}

// Foot switches and keypads send the keypad's Enter.
TEST_F(DesktopKeyTest, KeypadEnterIsEnter) {
    Key(XK_KP_Enter, true);
    EXPECT_TRUE(Query(kEnter)) << "held";
    Key(XK_KP_Enter, false);
    EXPECT_FALSE(Query(kEnter));
    Key(XK_KP_Enter, true);
    Key(XK_KP_Enter, false);
    EXPECT_TRUE(Query(kEnter)) << "pressed since the last query";
}

// Another program (a screen locker, a game, a remote desktop) grabs the
// keyboard: a foot switch's quick press must still count.
TEST_F(DesktopKeyTest, APressDuringAnotherProgramsGrabCounts) {
    const Window root = DefaultRootWindow(other_);
    ASSERT_EQ(XGrabKeyboard(other_, root, False, GrabModeAsync, GrabModeAsync, CurrentTime),
              GrabSuccess);
    XSync(other_, False);
    Key(XK_F5, true);
    Key(XK_F5, false);
    EXPECT_TRUE(Query(kF5));
    XUngrabKeyboard(other_, CurrentTime);
    XSync(other_, False);
}

TEST_F(DesktopKeyTest, AKeyHeldBeforeTheStartIsDown) {
    keys_.reset();
    Key(XK_space, true);
    keys_ = CreateSystemKeyState();
    EXPECT_TRUE(Query(kSpace));
    Key(XK_space, false);
    EXPECT_FALSE(Query(kSpace));
}

// An idle station waits for key events instead of waking every 50 ms; a
// press must end that wait, not the wait's limit.
TEST_F(DesktopKeyTest, AnIdleWaitEndsWithTheNextKeyEvent) {
    EXPECT_FALSE(Query(kF5));
    std::thread typist([this] {
        usleep(200 * 1000);
        Key(XK_F5, true);
        Key(XK_F5, false);
    });
    const auto start = std::chrono::steady_clock::now();
    keys_->WaitForKeyEvents(20000);
    const auto waited = std::chrono::steady_clock::now() - start;
    typist.join();
    EXPECT_LT(waited, std::chrono::seconds(10)) << "woken by the press, long before the limit";
    EXPECT_TRUE(keys_->IsDownOrWasPressed(kF5));
}

TEST_F(DesktopKeyTest, OtherKeysAndNoKeyDoNotCount) {
    Key(XK_F6, true);
    Key(XK_F6, false);
    EXPECT_FALSE(Query(kF5));
    EXPECT_FALSE(Query(0));
    EXPECT_FALSE(Query(15));
    // Enter typed into a field while F5 is the send key: choosing Enter
    // afterwards must not find that press and write a record.
    Key(XK_Return, true);
    Key(XK_Return, false);
    EXPECT_FALSE(Query(kF5));
    EXPECT_FALSE(Query(kEnter));
    // Nor a press made while no send key was chosen.
    Key(XK_F5, true);
    Key(XK_F5, false);
    EXPECT_FALSE(Query(0));
    EXPECT_FALSE(Query(kF5));
}

TEST(NoDesktop, TheSendKeyNeverTriggers) {
    const char* old = std::getenv("DISPLAY");
    const std::string saved = old ? old : "";
    unsetenv("DISPLAY");
    auto keys = CreateSystemKeyState();
    EXPECT_FALSE(keys->IsDownOrWasPressed(kF5));
    if (!saved.empty()) setenv("DISPLAY", saved.c_str(), 1);
}

}  // namespace
}  // namespace karvelo::platform
