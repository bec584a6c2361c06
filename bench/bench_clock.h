#pragma once
// The clocks the benchmarks measure with.

#include <time.h>

#include <chrono>

namespace karvelo::bench {

// CPU time the calling thread has used, in milliseconds.
inline double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Wall milliseconds since t0.
inline double MsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace karvelo::bench
