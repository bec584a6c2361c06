#pragma once
// How the analog back-end turns conversions into a reading: four conversions
// of which the one farthest from the others is dropped.

#include <array>
#include <cstdint>
#include <optional>

#include "backends/analog/analog_library.h"

namespace karvelo::analog {

// Four raw conversions A, B, C, D in the order they were taken.
using FourConversions = std::array<std::uint16_t, 4>;

// m is the mean of the four; then, for A, B, C and D in turn, a conversion
// farther from m than each of the other three (strictly) is dropped: m becomes
// the integer sum of the other three divided by 3 in whole numbers. Each step
// compares against the m the steps before it left.
double SampleOfFour(const FourConversions& c);

// Where one input is read.
struct Input {
    int board = 0;
    int channel = 0;
    int rangeCode = 0;
};

// One raw conversion; a failing call is tried once more. None when both fail.
std::optional<std::uint16_t> Convert(AnalogLibrary& library, const Input& input);

// SampleOfFour over four conversions taken from `input`; none as soon as one
// conversion fails twice.
std::optional<double> SampleInput(AnalogLibrary& library, const Input& input);

}  // namespace karvelo::analog
