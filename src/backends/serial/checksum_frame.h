#pragma once
// The checksummed frames of the PU instruments.

#include <string>
#include <string_view>

namespace karvelo::serial {

// "$" body "*" XOR of the body's bytes in upper-case hexadecimal without
// leading zeros, then the terminator.
std::string ChecksumFrame(std::string_view body, std::string_view terminator);

}  // namespace karvelo::serial
