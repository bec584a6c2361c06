#include "platform/numbers.h"

#include <locale.h>
#include <stdlib.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

namespace karvelo::platform {
namespace {

template <typename Char>
bool IsBlank(Char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <typename Char>
bool IsDigit(Char c) {
    return c >= '0' && c <= '9';
}

template <typename Char>
std::int32_t ParseIntImpl(std::basic_string_view<Char> t) {
    std::size_t i = 0;
    while (i < t.size() && IsBlank(t[i])) ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    std::int64_t v = 0;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < t.size() && IsDigit(t[i]); ++i) {
        if (v <= kLimit) v = v * 10 + (t[i] - '0');
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

// Copies the longest prefix that forms a decimal number into `out` (ASCII).
template <typename Char>
bool ExtractDecimal(std::basic_string_view<Char> t, std::string& out) {
    std::size_t i = 0;
    while (i < t.size() && IsBlank(t[i])) ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) out.push_back(static_cast<char>(t[i++]));
    std::size_t digits = 0;
    for (; i < t.size() && IsDigit(t[i]); ++i, ++digits) out.push_back(static_cast<char>(t[i]));
    if (i < t.size() && t[i] == '.') {
        out.push_back('.');
        for (++i; i < t.size() && IsDigit(t[i]); ++i, ++digits)
            out.push_back(static_cast<char>(t[i]));
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        std::string exponent = "e";
        std::size_t j = i + 1;
        if (j < t.size() && (t[j] == '+' || t[j] == '-'))
            exponent.push_back(static_cast<char>(t[j++]));
        if (j < t.size() && IsDigit(t[j])) {
            for (; j < t.size() && IsDigit(t[j]); ++j) exponent.push_back(static_cast<char>(t[j]));
            out += exponent;
        }
    }
    return true;
}

locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

template <typename Char>
double ParseDoubleImpl(std::basic_string_view<Char> t) {
    std::string ascii;
    if (!ExtractDecimal(t, ascii)) return 0.0;
    // strtod_l in the "C" locale gives the C library's rounding and overflow
    // behaviour without depending on the process locale.
    return strtod_l(ascii.c_str(), nullptr, CLocale());
}

std::string FormatWith(double value, std::chars_format fmt, int precision) {
    if (precision < 0) precision = 6;
    // Large enough for "%.*f" of the largest double with the given precision.
    std::vector<char> buf(static_cast<std::size_t>(precision) + 400);
    auto r = std::to_chars(buf.data(), buf.data() + buf.size(), value, fmt, precision);
    return std::string(buf.data(), r.ptr);
}

std::wstring Widen(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

}  // namespace

std::int32_t ParseInt(std::wstring_view text) {
    return ParseIntImpl(text);
}
double ParseDouble(std::wstring_view text) {
    return ParseDoubleImpl(text);
}
double ParseDoubleNarrow(std::string_view text) {
    return ParseDoubleImpl(text);
}

std::wstring FormatInt(std::int64_t value) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::wstring(buf, r.ptr);
}

std::string FormatFixedNarrow(double value, int decimals) {
    return FormatWith(value, std::chars_format::fixed, decimals);
}
std::string FormatG15Narrow(double value) {
    return FormatWith(value, std::chars_format::general, 15);
}
std::wstring FormatFixed(double value, int decimals) {
    return Widen(FormatFixedNarrow(value, decimals));
}
std::wstring FormatG15(double value) {
    return Widen(FormatG15Narrow(value));
}

}  // namespace karvelo::platform
