#pragma once
// Measurement requests: what each instrument type is sent (bytes, line pulses,
// breaks) so that a fresh value is waiting when its slot is read.

#include <cstdint>
#include <string>
#include <string_view>

namespace karvelo::devices {

// Triggers the instrument of slot s (1..10). A missing port or device marks the
// slot with its missing-device word at once; the closing wait still runs.
void RequestMeasurement(int slot);

// A checksummed frame of the PU instruments: "$" body "*" XOR of the body's
// bytes in upper-case hexadecimal without leading zeros, then the terminator.
std::string ChecksumFrame(std::string_view body, std::string_view terminator);

}  // namespace karvelo::devices
