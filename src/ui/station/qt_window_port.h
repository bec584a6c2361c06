#pragma once
// The WindowPort of the station's Qt window. Calls from other threads (the
// acquisition thread reads and sets control texts, hides the SEND / EXPORT
// button, invalidates the values and starts timers) are carried to the
// user-interface thread: reads wait for their answer, everything else is
// queued in the order it was asked. Calls on the user-interface thread run at
// once.
//
// Timers are identified by number as the core knows them; starting a running
// timer restarts it with the new period, and every expiry runs
// app::OnTimerEvent on the user-interface thread until the timer is stopped.

#include <QObject>
#include <atomic>
#include <map>

#include "state/window_port.h"

class QTimer;

namespace karvelo::app {

class MainDialog;

class QtWindowPort final : public QObject, public WindowPort {
  public:
    // Lives on the thread that creates it, which must be the window's.
    explicit QtWindowPort(MainDialog& dialog);
    ~QtWindowPort() override;

    void LayoutWindow() override;
    void SetListSelection(int controlId, int index) override;
    void SetControlText(int controlId, std::wstring_view text) override;
    std::wstring GetControlText(int controlId) override;
    void ShowControl(int controlId, bool visible) override;
    void EnableControl(int controlId, bool enabled) override;
    void InvalidateWindow(bool erase) override;
    void InvalidateValues() override;
    WindowRect GetWindowRect() override;
    void StartTimer(int timerId, int milliseconds) override;
    void StopTimer(int timerId) override;
    void MessageBox(std::wstring_view caption, std::wstring_view text, MessageIcon icon) override;
    void PostToUi(std::function<void()> work) override;
    void PumpMessages() override;
    void ShowExportProblem(std::wstring_view text) override;
    void ShowRecordWritten(std::wstring_view when, std::wstring_view where) override;
    void ShowRecordsWaiting(long long waiting, std::wstring_view problem) override;
    void ShowSettingsNotKept(bool notKept) override;

    // Whether timer `timerId` runs, and its period (user-interface thread).
    bool TimerRunning(int timerId) const;
    int TimerInterval(int timerId) const;

  private:
    bool OnUiThread() const;
    // Runs `work` on the user-interface thread: at once there, else queued.
    void Run(std::function<void()> work);
    // Runs `work` on the user-interface thread and waits until it is done.
    void RunAndWait(const std::function<void()>& work);

    MainDialog& dialog_;
    std::map<int, QTimer*> timers_;
    // A row refresh is queued and has not started yet.
    std::atomic<bool> refreshQueued_{false};
};

// Dispatches the calling thread's waiting events; true when there were any.
// Installed as the user-interface thread's event pump, so that waits there
// keep the window alive.
bool DispatchWaitingEvents();

}  // namespace karvelo::app
