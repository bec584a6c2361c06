#pragma once
// The number lists that some instruments answer with: up to ten numbers
// separated by ',' or ';', ended by CR, LF or a zero byte.

#include <array>
#include <span>

namespace karvelo::serial {

inline constexpr int kListValues = 10;
inline constexpr int kListFieldCapacity = 50;  // a field holds at most 49 characters

using NumberList = std::array<double, kListValues>;

// Splits a received line into `values`. Each field keeps only its digits, '-'
// and '.', so units and blanks around the numbers do no harm; every '+' in the
// line is blanked in place. Returns the number of values found, or 0 (with
// every value 0) when the line is no valid list: no terminator within the
// first 100 bytes, more than ten fields, a field longer than 49 characters, or
// nothing at all. Values after the last one found are 0.
int SplitNumberList(std::span<char> line, NumberList& values);

}  // namespace karvelo::serial
