#include "app/null_window.h"

#include <cstdio>
#include <string>

#include "app/timers.h"
#include "platform/text_encoding.h"
#include "state/control_ids.h"
#include "state/run_state.h"

namespace karvelo::app {

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
