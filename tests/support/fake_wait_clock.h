#pragma once
// A wait clock that costs no real time: sleeps advance a counter and are
// recorded. Installed for the lifetime of the object.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/wait.h"

namespace karvelo::testing {

class FakeWaitClock : public platform::WaitClock {
  public:
    FakeWaitClock() { platform::SetWaitClock(this); }
    ~FakeWaitClock() override { platform::SetWaitClock(nullptr); }
    FakeWaitClock(const FakeWaitClock&) = delete;
    FakeWaitClock& operator=(const FakeWaitClock&) = delete;

    std::uint32_t TickCount() override { return now_.load(); }
    void Sleep(int ms) override {
        now_ += static_cast<std::uint32_t>(ms);
        std::lock_guard<std::mutex> g(m_);
        sleeps_.push_back(ms);
    }
    // Milliseconds slept since the clock was installed (or last reset).
    std::uint32_t elapsed() const { return now_.load() - start_; }
    void ResetElapsed() { start_ = now_.load(); }
    // Every sleep so far, in milliseconds, in order.
    std::vector<int> sleeps() {
        std::lock_guard<std::mutex> g(m_);
        return sleeps_;
    }

  private:
    std::atomic<std::uint32_t> now_{1000};
    std::uint32_t start_ = 1000;
    std::mutex m_;
    std::vector<int> sleeps_;
};

}  // namespace karvelo::testing
