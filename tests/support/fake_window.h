#pragma once
// A window that records what the core asks of it.

#include <map>
#include <string>
#include <vector>

#include "state/window_port.h"

namespace karvelo::testing {

class FakeWindow : public WindowPort {
  public:
    void LayoutWindow() override { ++layouts; }
    void SetListSelection(int id, int index) override { listSelection[id] = index; }
    void SetControlText(int id, std::wstring_view text) override { texts[id] = std::wstring(text); }
    std::wstring GetControlText(int id) override { return texts[id]; }
    void ShowControl(int id, bool visible) override { shown[id] = visible; }
    void EnableControl(int id, bool enabled) override { enabled_[id] = enabled; }
    void InvalidateWindow(bool) override { ++invalidations; }
    void InvalidateValues() override { ++valueInvalidations; }
    WindowRect GetWindowRect() override { return rect; }
    void StartTimer(int id, int ms) override { timers[id] = ms; }
    void StopTimer(int id) override { timers.erase(id); }
    void MessageBox(std::wstring_view caption, std::wstring_view text, MessageIcon) override {
        messages.push_back(std::wstring(caption) + L": " + std::wstring(text));
    }
    void PostToUi(std::function<void()> work) override { work(); }
    void PumpMessages() override {}
    void ShowExportProblem(std::wstring_view text) override { exportProblem = std::wstring(text); }
    void ShowRecordWritten(std::wstring_view when, std::wstring_view where) override {
        recordsWritten.push_back({std::wstring(when), std::wstring(where)});
    }
    void ShowSettingsNotKept(bool notKept) override { settingsNotKept = notKept; }

    bool IsEnabled(int id) const {
        auto it = enabled_.find(id);
        return it == enabled_.end() || it->second;
    }

    bool settingsNotKept = false;
    int layouts = 0;
    int invalidations = 0;
    int valueInvalidations = 0;
    WindowRect rect{};
    std::map<int, int> listSelection;
    std::map<int, std::wstring> texts;
    std::map<int, bool> shown;
    std::map<int, int> timers;
    std::vector<std::wstring> messages;
    std::wstring exportProblem;
    struct RecordWritten {
        std::wstring when;
        std::wstring where;
    };
    std::vector<RecordWritten> recordsWritten;

  private:
    std::map<int, bool> enabled_;
};

}  // namespace karvelo::testing
