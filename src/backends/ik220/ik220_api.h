#pragma once
// The calls of libik220.so the station makes, as the library exports them. This
// header depends on nothing else, so that the card simulator library can be
// built against the same prototypes. Find, Read48 and ReadEn return nonzero
// for success.

#include <cstdint>

namespace karvelo::ik220 {

extern "C" {
using IK220FindFn = int (*)(std::uint32_t* table);
using IK220InitFn = int (*)(std::uint16_t axis);
using IK220WriteParFn = int (*)(std::uint16_t axis, std::uint16_t par, std::uint32_t value);
using IK220Read48Fn = int (*)(std::uint16_t axis, std::uint16_t latch, double* value);
using IK220ReadEnFn = int (*)(std::uint16_t axis, std::uint32_t* status, double* value,
                              std::uint32_t* alarm);
}

}  // namespace karvelo::ik220
