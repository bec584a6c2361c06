#pragma once
// A window for tests in which the acquisition thread runs on its own thread
// while the test plays the user-interface thread. Every call is safe from any
// thread. It records what the core asks of it: control texts and visibility,
// timer starts and stops in order (as "start 1 1", "stop 2", "show 1 off"),
// value invalidations and message boxes. Posted work waits until the test
// pumps it.
//
//   ThreadedFakeWindow window;
//   std::jthread acquisition(...);
//   ASSERT_TRUE(window.WaitForTimerStarts(kExportTimer, 1));
//   app::OnTimerEvent(kExportTimer, window);

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "state/window_port.h"

namespace karvelo::testing {

class ThreadedFakeWindow : public WindowPort {
  public:
    void LayoutWindow() override { Log("layout"); }
    void SetListSelection(int id, int index) override {
        Log("select " + std::to_string(id) + " " + std::to_string(index));
    }
    void SetControlText(int id, std::wstring_view text) override {
        std::lock_guard<std::mutex> g(m_);
        texts_[id] = std::wstring(text);
    }
    std::wstring GetControlText(int id) override {
        std::lock_guard<std::mutex> g(m_);
        auto it = texts_.find(id);
        return it == texts_.end() ? std::wstring() : it->second;
    }
    void ShowControl(int id, bool visible) override {
        std::lock_guard<std::mutex> g(m_);
        shown_[id] = visible;
        log_.push_back("show " + std::to_string(id) + (visible ? " on" : " off"));
        cv_.notify_all();
    }
    void EnableControl(int id, bool enabled) override {
        Log("enable " + std::to_string(id) + (enabled ? " on" : " off"));
    }
    void InvalidateWindow(bool) override { ++windowInvalidations_; }
    void InvalidateValues() override { ++valueInvalidations_; }
    WindowRect GetWindowRect() override { return {}; }
    void StartTimer(int id, int ms) override {
        std::lock_guard<std::mutex> g(m_);
        running_[id] = ms;
        ++starts_[id];
        log_.push_back("start " + std::to_string(id) + " " + std::to_string(ms));
        cv_.notify_all();
    }
    void StopTimer(int id) override {
        std::lock_guard<std::mutex> g(m_);
        running_.erase(id);
        log_.push_back("stop " + std::to_string(id));
        cv_.notify_all();
    }
    void MessageBox(std::wstring_view caption, std::wstring_view text, MessageIcon) override {
        std::lock_guard<std::mutex> g(m_);
        messages_.push_back(std::wstring(caption) + L": " + std::wstring(text));
    }
    void PostToUi(std::function<void()> work) override {
        std::lock_guard<std::mutex> g(m_);
        posted_.push_back(std::move(work));
        cv_.notify_all();
    }
    // Runs the posted work (call it on the thread that plays the window's).
    void PumpMessages() override {
        for (;;) {
            std::function<void()> work;
            {
                std::lock_guard<std::mutex> g(m_);
                if (posted_.empty()) return;
                work = std::move(posted_.front());
                posted_.pop_front();
            }
            work();
        }
    }
    void ShowExportProblem(std::wstring_view text) override {
        std::lock_guard<std::mutex> g(m_);
        exportProblem_ = std::wstring(text);
    }
    void ShowRecordWritten(std::wstring_view, std::wstring_view where) override {
        std::lock_guard<std::mutex> g(m_);
        lastRecordFile_ = std::wstring(where);
    }

    // Test side.

    // Appends a line of the test's own to the log (e.g. "export").
    void Log(const std::string& line) {
        std::lock_guard<std::mutex> g(m_);
        log_.push_back(line);
    }
    std::vector<std::string> log() const {
        std::lock_guard<std::mutex> g(m_);
        return log_;
    }
    void ClearLog() {
        std::lock_guard<std::mutex> g(m_);
        log_.clear();
    }
    // Times timer `id` has been started.
    int TimerStarts(int id) const {
        std::lock_guard<std::mutex> g(m_);
        auto it = starts_.find(id);
        return it == starts_.end() ? 0 : it->second;
    }
    // The period of timer `id` when it runs (started and not stopped since).
    std::optional<int> RunningTimer(int id) const {
        std::lock_guard<std::mutex> g(m_);
        auto it = running_.find(id);
        if (it == running_.end()) return std::nullopt;
        return it->second;
    }
    // Waits until timer `id` has been started at least `count` times in all;
    // false when that does not happen within the timeout.
    bool WaitForTimerStarts(int id, int count,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> g(m_);
        return cv_.wait_for(g, timeout, [&] {
            auto it = starts_.find(id);
            return it != starts_.end() && it->second >= count;
        });
    }
    // Visibility of a control; controls never hidden or shown count as shown.
    bool IsShown(int id) const {
        std::lock_guard<std::mutex> g(m_);
        auto it = shown_.find(id);
        return it == shown_.end() || it->second;
    }
    int valueInvalidations() const { return valueInvalidations_.load(); }
    int windowInvalidations() const { return windowInvalidations_.load(); }
    std::vector<std::wstring> messages() const {
        std::lock_guard<std::mutex> g(m_);
        return messages_;
    }
    std::wstring exportProblem() const {
        std::lock_guard<std::mutex> g(m_);
        return exportProblem_;
    }
    // The file of the newest record reported as written.
    std::wstring lastRecordFile() const {
        std::lock_guard<std::mutex> g(m_);
        return lastRecordFile_;
    }

  private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::map<int, std::wstring> texts_;
    std::map<int, bool> shown_;
    std::map<int, int> running_;
    std::map<int, int> starts_;
    std::vector<std::string> log_;
    std::vector<std::wstring> messages_;
    std::deque<std::function<void()>> posted_;
    std::wstring exportProblem_;
    std::wstring lastRecordFile_;
    std::atomic<int> valueInvalidations_{0};
    std::atomic<int> windowInvalidations_{0};
};

}  // namespace karvelo::testing
