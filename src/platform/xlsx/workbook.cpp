#include "platform/xlsx/workbook.h"

#include "platform/text_encoding.h"

namespace karvelo::platform::xlsx {

WorkbookError::WorkbookError(std::wstring text)
    : std::runtime_error(WideToUtf8(text)), text_(std::move(text)) {}

std::optional<CellPosition> ParseCellAddress(std::wstring_view) {
    return std::nullopt;
}

std::wstring FormatCellAddress(CellPosition) {
    return {};
}

bool ReadsAsNumber(std::wstring_view, double*) {
    return false;
}

std::unique_ptr<Workbook> Workbook::Open(const std::string& path) {
    throw WorkbookError(L"The workbook engine is not built yet: " + Utf8ToWide(path));
}

}  // namespace karvelo::platform::xlsx
