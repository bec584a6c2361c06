// libFuzzer target: the locale-free number reading and formatting, on
// arbitrary text from configuration files and instrument wires.
//
// Input: byte 0 picks the decimals for formatting (low four bits); the rest is
// the text, one character per byte.
//
// Checked: no memory error or undefined behaviour; integers read as the C
// library reads them (in the "C" locale), clamped to 32 bits; decimal numbers
// read as the C library reads them wherever its forms and ours agree (ours
// has no hexadecimal, "inf" or "nan"); the wide and 8-bit readers agree; what
// the formatters write reads back as the same number.

#include <locale.h>
#include <stdlib.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "fuzz_support.h"
#include "platform/numbers.h"

namespace {

using karvelo::fuzz::Check;
namespace platform = karvelo::platform;

locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Whether the C library would read a form that the station does not: a
// hexadecimal number, an infinity or a NaN, where the number starts.
bool HasLibraryOnlyForm(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (i >= text.size()) return false;
    const char c = text[i];
    if (c == 'i' || c == 'I' || c == 'n' || c == 'N') return true;
    return c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X');
}

void CheckInt(const std::string& text, const std::wstring& wide) {
    const std::int32_t value = platform::ParseInt(wide);
    const long long library = strtoll_l(text.c_str(), nullptr, 10, CLocale());
    const long long clamped =
        std::max<long long>(std::numeric_limits<std::int32_t>::min(),
                            std::min<long long>(std::numeric_limits<std::int32_t>::max(), library));
    // strtoll stops at a NUL, the station's reader at the first non-digit:
    // both stop there, so they agree on every text.
    Check(value == clamped);
    Check(platform::ParseInt(platform::FormatInt(value)) == value);
}

void CheckDouble(const std::string& text, const std::wstring& wide, int decimals) {
    const double value = platform::ParseDouble(wide);
    const double narrow = platform::ParseDoubleNarrow(text);
    Check(value == narrow || (std::isnan(value) && std::isnan(narrow)));
    Check(!std::isnan(value));
    if (!HasLibraryOnlyForm(text)) {
        const double library = strtod_l(text.c_str(), nullptr, CLocale());
        Check(value == library);
    }
    if (!std::isfinite(value)) return;

    // "%.15g" keeps 15 significant digits.
    const double g15 = platform::ParseDouble(platform::FormatG15(value));
    Check(g15 == value || std::fabs(g15 - value) <= std::fabs(value) * 1e-14);
    // "%.*f" rounds to the decimals, so it reads back within half a step.
    const std::wstring fixed = platform::FormatFixed(value, decimals);
    Check(fixed.find(L',') == std::wstring::npos);
    const double back = platform::ParseDouble(fixed);
    Check(std::fabs(back - value) <= 0.5 * std::pow(10.0, -decimals) + std::fabs(value) * 1e-15);
    Check(platform::FormatFixedNarrow(value, decimals) == std::string(fixed.begin(), fixed.end()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int decimals = data[0] & 0x0F;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::wstring wide = karvelo::fuzz::WideText(data + 1, size - 1, false);
    CheckInt(text, wide);
    CheckDouble(text, wide, decimals);
    return 0;
}
