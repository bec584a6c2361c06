#pragma once
// The Marposs EasyBox wrapper as the Marposs back-end uses it: the two calls
// of libmarposs_zento.so, loaded at run time. Both may only be called on the
// user-interface thread. Tests use fakes.

#include <functional>
#include <memory>
#include <string>

namespace karvelo::marposs {

class MarpossLibrary {
  public:
    virtual ~MarpossLibrary() = default;
    // 1: ready.
    virtual int Init(int mode) = 0;
    // The reading of a channel; there is no error result.
    virtual double ReadValue(int channel) = 0;
};

// Loaded when a slot needs the box; null when there is no usable library.
using MarpossLoader = std::function<std::unique_ptr<MarpossLibrary>()>;

// libmarposs_zento.so from `folder` (empty: the program's folder), else from
// the system's library path.
std::unique_ptr<MarpossLibrary> LoadMarpossLibrary(const std::string& folder = {});

}  // namespace karvelo::marposs
