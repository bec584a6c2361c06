#pragma once
// The Measurement Computing library as the analog back-end uses it: one call
// of libcbw.so, loaded at run time. Tests use fakes.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace karvelo::analog {

class AnalogLibrary {
  public:
    virtual ~AnalogLibrary() = default;
    // 0: `value` holds one raw conversion.
    virtual int AIn(int board, int channel, int range, std::uint16_t* value) = 0;
};

// Loaded when a slot reads an analog input; null when there is no usable
// library.
using AnalogLoader = std::function<std::unique_ptr<AnalogLibrary>()>;

// libcbw.so from `folder` (empty: the program's folder), else from the
// system's library path.
std::unique_ptr<AnalogLibrary> LoadAnalogLibrary(const std::string& folder = {});

}  // namespace karvelo::analog
