#include "platform/wait.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace karvelo::platform {
namespace {

std::atomic<WaitClock*> g_clock{nullptr};
thread_local std::function<bool()> t_pump;

bool DispatchOne() {
    return t_pump ? t_pump() : false;
}

}  // namespace

std::uint32_t TickCount() {
    if (WaitClock* c = g_clock.load(std::memory_order_acquire)) return c->TickCount();
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SleepMs(int ms) {
    if (ms < 0) ms = 0;
    if (WaitClock* c = g_clock.load(std::memory_order_acquire)) {
        c->Sleep(ms);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void PumpWait(int ms) {
    // A thread without window events (the acquisition thread) has nothing to
    // keep flowing: one sleep, not a wake-up every 10 ms.
    if (!t_pump) {
        SleepMs(ms);
        return;
    }
    if (ms <= 0) {
        DispatchOne();
        return;
    }
    if (ms < 50) {
        SleepMs(ms);
        DispatchOne();
        return;
    }
    const std::uint32_t start = TickCount();
    // Unsigned difference: the tick counter's wrap-around is harmless.
    while (static_cast<std::uint32_t>(TickCount() - start) < static_cast<std::uint32_t>(ms)) {
        if (!DispatchOne()) SleepMs(10);
    }
}

void SetThreadEventPump(std::function<bool()> dispatchOne) {
    t_pump = std::move(dispatchOne);
}

void SetWaitClock(WaitClock* clock) {
    g_clock.store(clock, std::memory_order_release);
}

}  // namespace karvelo::platform
