#pragma once
// The Marposs read hand-over between the acquisition thread and the window's
// timer 8: the Marposs library may only be called on the user-interface thread.
// The reader sets Result to 0, then Slot and Requested, and starts timer 8; the
// timer's handler answers with a result that is never 0.

#include <atomic>
#include <cstdint>

namespace karvelo {

struct MarpossHandover {
    std::atomic<std::int32_t> Slot{0};
    std::atomic<std::int32_t> Requested{0};
    std::atomic<std::int32_t> Result{0};
};

extern MarpossHandover g_marposs;

}  // namespace karvelo
