#pragma once
// Locale-free number reading and formatting. Qt sets the C library's locale from
// the environment, so the C library's own conversions would write "12,345" on a
// German desktop; every number of the station goes through these functions.

#include <cstdint>
#include <string>
#include <string_view>

namespace karvelo::platform {

// Reads an integer the way the C library's text-to-integer conversion does:
// leading blanks skipped, an optional sign, decimal digits up to the first other
// character. No digits gives 0; a value beyond 32 bits is clamped.
std::int32_t ParseInt(std::wstring_view text);

// Reads a floating-point number the same way, with "." as the decimal point
// whatever the locale: blanks, sign, digits, optional fraction, optional
// exponent. No leading digits gives 0. Words such as "inf" or "nan" and
// hexadecimal forms are not numbers here (they read as 0). Overflow gives
// +-HUGE_VAL, as the C library does.
double ParseDouble(std::wstring_view text);

// "%d".
std::wstring FormatInt(std::int64_t value);
// "%.*f" with "." as the decimal point; a negative precision means 6.
std::wstring FormatFixed(double value, int decimals);
// "%.15g" with "." as the decimal point.
std::wstring FormatG15(double value);

// 8-bit variants for instrument wires and files.
std::string FormatFixedNarrow(double value, int decimals);
std::string FormatG15Narrow(double value);
double ParseDoubleNarrow(std::string_view text);

}  // namespace karvelo::platform
