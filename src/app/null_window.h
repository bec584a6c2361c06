#pragma once
// A window that is not there: used by the command-line tools. The window stays
// where the configuration put it, messages go to standard error as
// "CAPTION: text", and posted work runs at once.

#include "state/window_port.h"

namespace karvelo::app {

class NullWindow : public WindowPort {
  public:
    void LayoutWindow() override {}
    void SetListSelection(int, int) override {}
    void SetControlText(int, std::wstring_view) override {}
    std::wstring GetControlText(int) override { return {}; }
    void ShowControl(int, bool) override {}
    void EnableControl(int, bool) override {}
    void InvalidateWindow(bool) override {}
    void InvalidateValues() override {}
    WindowRect GetWindowRect() override;
    // The Marposs read (timer 8) has no window to wait for: it runs at once.
    void StartTimer(int timerId, int milliseconds) override;
    void StopTimer(int) override {}
    void MessageBox(std::wstring_view caption, std::wstring_view text, MessageIcon icon) override;
    void PostToUi(std::function<void()> work) override { work(); }
    void PumpMessages() override {}
    void ShowExportProblem(std::wstring_view) override {}
    void ShowRecordWritten(std::wstring_view, std::wstring_view) override {}
};

}  // namespace karvelo::app
