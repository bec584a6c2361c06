#include "app/window_port.h"

#include <atomic>
#include <cstdio>

#include "app/run_state.h"
#include "app/timers.h"
#include "platform/text_encoding.h"

namespace karvelo::app {

namespace {
NullWindow g_nullWindow;
std::atomic<WindowPort*> g_mainWindow{nullptr};
}  // namespace

WindowPort& MainWindow() {
    WindowPort* w = g_mainWindow.load(std::memory_order_acquire);
    return w ? *w : g_nullWindow;
}

void SetMainWindow(WindowPort* window) { g_mainWindow.store(window, std::memory_order_release); }

WindowRect NullWindow::GetWindowRect() {
    WindowRect r;
    r.left = g_run.WindowX;
    r.top = g_run.WindowY;
    r.right = r.left;
    r.bottom = r.top;
    return r;
}

void NullWindow::StartTimer(int timerId, int) {
    if (timerId == kMarpossTimer) OnTimerEvent(timerId, *this);
}

void NullWindow::MessageBox(std::wstring_view caption, std::wstring_view text, MessageIcon) {
    std::string line = platform::WideToUtf8(caption) + ": " + platform::WideToUtf8(text) + "\n";
    std::fputs(line.c_str(), stderr);
}

}  // namespace karvelo::app
