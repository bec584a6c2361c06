#pragma once
// Work that another thread hands to the user-interface thread travels through
// Qt's event queue, which Qt synchronises inside its own library. A
// ThreadSanitizer build cannot see that library's locks, so it would take every
// such hand-off for a race, and a real race of the station would drown among
// them. These helpers tell it about the hand-off itself: all the sending thread
// did before the hand-off happens before the work runs, and all the work did
// happens before a waiting sender goes on. In other builds they are nothing.

#include <memory>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define KARVELO_TSAN_HANDOFF 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KARVELO_TSAN_HANDOFF 1
#endif
#endif

#ifdef KARVELO_TSAN_HANDOFF
#include <sanitizer/tsan_interface.h>
#endif

namespace karvelo::app {

// What the calling thread did so far happens before a TakeOver of the same tag.
inline void HandOff([[maybe_unused]] const void* tag) {
#ifdef KARVELO_TSAN_HANDOFF
    __tsan_release(const_cast<void*>(tag));
#endif
}

inline void TakeOver([[maybe_unused]] const void* tag) {
#ifdef KARVELO_TSAN_HANDOFF
    __tsan_acquire(const_cast<void*>(tag));
#endif
}

// `work` ready to be posted to another thread: handed off here, taken over
// where it runs.
template <typename Work>
auto Handed(Work work) {
#ifdef KARVELO_TSAN_HANDOFF
    auto box = std::make_shared<Work>(std::move(work));
    HandOff(box.get());
    return [box] {
        TakeOver(box.get());
        (*box)();
    };
#else
    return work;
#endif
}

}  // namespace karvelo::app
