#pragma once
// The framed commands of the PU instruments: "$", the payload, "*", the
// checksum in upper-case hexadecimal without leading zeros, then the
// terminator. The checksum is the XOR of the payload's bytes, each taken as a
// signed 8-bit value, as the instruments' firmware computes it.

#include <string>
#include <string_view>

namespace karvelo::ftdi {

std::string FramedCommand(std::string_view payload, std::string_view terminator = "\n\r");

}  // namespace karvelo::ftdi
