#pragma once
// The one call of libcbw.so the station makes, as the library exports it. This
// header depends on nothing else, so that the module simulator library can be
// built against the same prototype.

#include <cstdint>

namespace karvelo::analog {

// 0: success, `value` holds one raw conversion; anything else: failure.
extern "C" {
using cbAInFn = int (*)(int board, int channel, int range, std::uint16_t* value);
}

}  // namespace karvelo::analog
