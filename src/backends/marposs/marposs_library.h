#pragma once
// The Marposs EasyBox wrapper as the Marposs back-end uses it: the two calls
// of libmarposs_zento.so, loaded at run time. Both may only be called on the
// user-interface thread. Tests use fakes.

#include <functional>
#include <memory>
#include <string>

#include "state/marposs_handover.h"

namespace karvelo::marposs {

// The library's calls, which the window's timer 8 reads through once Init has
// reported ready (state/marposs_handover.h).
class MarpossLibrary : public MarpossValueRead {
  public:
    virtual ~MarpossLibrary() = default;
    // 1: ready.
    virtual int Init(int mode) = 0;
    // The reading of a channel; there is no error result.
    double ReadValue(int channel) override = 0;
};

// Loaded when a slot needs the box; null when there is no usable library.
using MarpossLoader = std::function<std::unique_ptr<MarpossLibrary>()>;

// libmarposs_zento.so from `folder` (empty: the program's folder), else from
// the system's library path. Null when it cannot be loaded or lacks one of the
// two calls (the reason goes to standard error).
std::unique_ptr<MarpossLibrary> LoadMarpossLibrary(const std::string& folder = {});

}  // namespace karvelo::marposs
