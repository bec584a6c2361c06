#pragma once
// Waits and the millisecond clock. A wait on the user-interface thread keeps
// the window's events flowing; other threads simply sleep. Tests replace the
// clock so that protocol waits cost no real time.

#include <cstdint>
#include <functional>

namespace karvelo::platform {

// Milliseconds of a monotonic clock; wraps around like a 32-bit tick count.
std::uint32_t TickCount();

// Sleeps the calling thread.
void SleepMs(int ms);

// Waits about ms milliseconds while dispatching the calling thread's pending
// window events: 0 dispatches at most one and returns; below 50 sleeps, then
// dispatches at most one; 50 or more dispatches events, or sleeps 10 ms when
// there are none, until ms have passed. A thread without an event pump just
// sleeps ms once.
void PumpWait(int ms);

// Installs the calling thread's event pump: a function that dispatches at most
// one pending event and tells whether there was one. Threads without a window
// have none.
void SetThreadEventPump(std::function<bool()> dispatchOne);

// A replaceable clock for tests.
class WaitClock {
  public:
    virtual ~WaitClock() = default;
    virtual std::uint32_t TickCount() = 0;
    virtual void Sleep(int ms) = 0;
};

// Replaces the clock of every thread (nullptr: the real clock). Tests only.
void SetWaitClock(WaitClock* clock);

}  // namespace karvelo::platform
