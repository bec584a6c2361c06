// A1 addresses and the numbers a text may stand for.

#include <charconv>
#include <cmath>
#include <string>

#include "platform/xlsx/workbook.h"

namespace karvelo::platform::xlsx {

std::optional<CellPosition> ParseCellAddress(std::wstring_view text) {
    std::size_t i = 0;
    if (i < text.size() && text[i] == L'$') ++i;
    std::int64_t column = 0;
    const std::size_t lettersFrom = i;
    while (i < text.size() && i - lettersFrom < 4) {
        wchar_t c = text[i];
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        if (c < L'A' || c > L'Z') break;
        column = column * 26 + (c - L'A' + 1);
        ++i;
    }
    if (i == lettersFrom || column > kMaxColumns) return std::nullopt;
    if (i < text.size() && text[i] == L'$') ++i;
    std::int64_t row = 0;
    const std::size_t digitsFrom = i;
    while (i < text.size() && text[i] >= L'0' && text[i] <= L'9' && i - digitsFrom < 8) {
        row = row * 10 + (text[i] - L'0');
        ++i;
    }
    if (i == digitsFrom || i != text.size() || row < 1 || row > kMaxRows) return std::nullopt;
    return CellPosition{static_cast<std::int32_t>(row), static_cast<std::int32_t>(column)};
}

std::wstring FormatCellAddress(CellPosition cell) {
    std::wstring letters;
    for (std::int32_t c = cell.column; c > 0; c = (c - 1) / 26) {
        letters.insert(letters.begin(), static_cast<wchar_t>(L'A' + (c - 1) % 26));
    }
    return letters + std::to_wstring(cell.row);
}

bool ReadsAsNumber(std::wstring_view text, double* value) {
    std::string narrow;
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    std::size_t digits = 0;
    auto takeDigits = [&] {
        while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
            narrow += static_cast<char>(text[i++]);
            ++digits;
        }
    };
    takeDigits();
    if (i < text.size() && text[i] == L'.') {
        narrow += '.';
        ++i;
        takeDigits();
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == L'e' || text[i] == L'E')) {
        narrow += 'e';
        ++i;
        if (i < text.size() && (text[i] == L'+' || text[i] == L'-'))
            narrow += static_cast<char>(text[i++]);
        const std::size_t before = digits;
        takeDigits();
        if (digits == before) return false;
    }
    if (i != text.size()) return false;
    double parsed = 0.0;
    const auto [end, ec] = std::from_chars(narrow.data(), narrow.data() + narrow.size(), parsed);
    if (ec != std::errc() || end != narrow.data() + narrow.size() || !std::isfinite(parsed)) {
        return false;
    }
    if (value != nullptr) *value = negative ? -parsed : parsed;
    return true;
}

}  // namespace karvelo::platform::xlsx
