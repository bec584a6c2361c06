#pragma once
// The Marposs read hand-over between the acquisition thread and the window's
// timer 8: the Marposs library may only be called on the user-interface thread.
// The reader sets Result to 0, then Slot and Requested, and starts timer 8; the
// timer's handler answers with a result that is never 0.

#include <atomic>
#include <cstdint>

namespace karvelo {

// The value read of an initialised Marposs library. Called on the
// user-interface thread only; the reading has no error result.
class MarpossValueRead {
  public:
    virtual double ReadValue(int channel) = 0;

  protected:
    ~MarpossValueRead() = default;
};

struct MarpossHandover {
    std::atomic<std::int32_t> Slot{0};
    std::atomic<std::int32_t> Requested{0};
    std::atomic<std::int32_t> Result{0};
    // The library once its Init has reported ready, null otherwise (reads give
    // -4). The Marposs back-end sets and clears it on the user-interface
    // thread and keeps the library alive while it is set; timer 8 reads
    // through it.
    std::atomic<MarpossValueRead*> Library{nullptr};
};

extern MarpossHandover g_marposs;

}  // namespace karvelo
