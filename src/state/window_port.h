#pragma once
// The core's one way to the window. The Qt dialog implements it; tests and the
// command-line tools use fakes or the null window (app/null_window.h).
//
// Threads: the control-text, visibility, invalidation and timer calls may come
// from the acquisition thread too; the implementation carries them to the
// user-interface thread (a text read waits for its answer, which is safe because
// the user-interface thread never waits for the acquisition thread without
// dispatching events). Everything else is called on the user-interface thread.

#include <functional>
#include <string>
#include <string_view>

namespace karvelo {

struct WindowRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

enum class MessageIcon { None, Error };

class WindowPort {
  public:
    virtual ~WindowPort() = default;

    // Places and shows the controls for the current DeviceCount and ExportType.
    virtual void LayoutWindow() = 0;
    // Selects an entry of a list control; an index outside the list selects none.
    virtual void SetListSelection(int controlId, int index) = 0;
    virtual void SetControlText(int controlId, std::wstring_view text) = 0;
    virtual std::wstring GetControlText(int controlId) = 0;
    virtual void ShowControl(int controlId, bool visible) = 0;
    virtual void EnableControl(int controlId, bool enabled) = 0;
    // Repaints the whole window (erase: clear the background first).
    virtual void InvalidateWindow(bool erase) = 0;
    // Repaints the slot rows; may be called from any thread.
    virtual void InvalidateValues() = 0;
    // The window's current rectangle on the screen.
    virtual WindowRect GetWindowRect() = 0;
    virtual void StartTimer(int timerId, int milliseconds) = 0;
    virtual void StopTimer(int timerId) = 0;
    // A message box with an OK button; returns when it is answered.
    virtual void MessageBox(std::wstring_view caption, std::wstring_view text,
                            MessageIcon icon) = 0;
    // Runs work on the user-interface thread; may be called from any thread.
    virtual void PostToUi(std::function<void()> work) = 0;
    // Dispatches the window messages that are waiting (used by waits that must
    // keep the window responsive).
    virtual void PumpMessages() = 0;
    // Tells the operator that records cannot be written (empty text: all is
    // well again). Must not block.
    virtual void ShowExportProblem(std::wstring_view text) = 0;
    // Tells the operator whether changes of the settings are being lost (the
    // configuration cannot be written). User-interface thread.
    virtual void ShowSettingsNotKept(bool notKept) { (void)notKept; }
    // Tells the operator that a record has been written: the local time it
    // carries ("14:03:22"; empty when the clock could not be read) and the
    // full path of its file. Must not block.
    virtual void ShowRecordWritten(std::wstring_view when, std::wstring_view where) = 0;
    // Tells the operator how many records wait for the plant server and why
    // (0 and empty: none wait). May be called from any thread; must not block.
    virtual void ShowRecordsWaiting(long long waiting, std::wstring_view problem) {
        (void)waiting;
        (void)problem;
    }
};

}  // namespace karvelo
