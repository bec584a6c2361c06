#include "export/export_types.h"

#include <array>
#include <cstddef>

namespace karvelo::exports {
namespace {

using K = ExportKind;
using N = FileName;
using C = Chooser;
using T = ExportTarget;

constexpr std::array<ExportType, 7> kExportTypes = {{
    {K::None, "-", N::None, C::None, T::None, false},
    {K::CsvSingle, "*.csv single", N::CsvFileName, C::CsvFile, T::CsvSingle, false},
    {K::CsvMulti, "*.csv multi", N::CsvFileName, C::CsvFile, T::CsvMulti, false},
    {K::IdCsvSingle, "ID.csv single", N::IdFileName, C::Folder, T::CsvSingle, false},
    {K::IdCsvMulti, "ID.csv multi", N::IdFileName, C::Folder, T::CsvMulti, false},
    {K::Workbook, "EXCEL-cells", N::XlsFileName, C::WorkbookDialog, T::Workbook, true},
    // Chosen only in the configuration file; the list has no entry for it.
    {K::WorkbookNoTexts, nullptr, N::XlsFileName, C::WorkbookDialog, T::Workbook, false},
}};

constexpr bool RowsInNumberOrder() {
    for (std::size_t i = 0; i < kExportTypes.size(); ++i) {
        if (static_cast<std::size_t>(kExportTypes[i].kind) != i) return false;
    }
    return true;
}
static_assert(RowsInNumberOrder(), "row i of the export-type table must hold type i");

}  // namespace

const ExportType& ExportTypeOf(ExportKind kind) {
    const auto i = static_cast<std::size_t>(kind);
    if (i < kExportTypes.size()) return kExportTypes[i];
    static constexpr ExportType kUnknown = {K::None, nullptr, N::None, C::None, T::Unknown, false};
    return kUnknown;
}

std::span<const ExportType> ExportTypes() {
    return kExportTypes;
}

}  // namespace karvelo::exports
