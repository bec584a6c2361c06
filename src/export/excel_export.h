#pragma once
// The workbook export (types 5 and 6): each record written into cells of one
// worksheet of an existing workbook, through the automation interface
// (export/excel_automation.h). The station holds its link to the application
// from "open" (or the first record) until "close", a set switch or the end.
//
// User-interface thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "export/excel_automation.h"
#include "export/record.h"
#include "state/window_port.h"

namespace karvelo::exports {

// The programmatic identifiers tried, in order, when an application is created.
inline constexpr std::wstring_view kExcelProgIds[] = {
    L"Excel.Application",    L"Excel.Application.5",  L"Excel.Application.6",
    L"Excel.Application.7",  L"Excel.Application.8",  L"Excel.Application.9",
    L"Excel.Application.10", L"Excel.Application.11", L"Excel.Application.12",
};

// The A1 address of a cell: column letters ("A" to "Z", then "AA" ...) and the
// row in decimal; (2, 7) gives "B7". A column outside 1..16384 gives "A".
std::wstring CellAddressFromPosition(std::int32_t column, std::int32_t row);

class ExcelLink {
  public:
    ExcelLink(WindowPort& window, excel::ApplicationFactory factory);
    ~ExcelLink();
    ExcelLink(const ExcelLink&) = delete;
    ExcelLink& operator=(const ExcelLink&) = delete;

    // "open": attaches the workbook ExportPath + XlsFileName, starting the
    // application first when none is held.
    void OpenExcel();
    // "close", a set switch: lets the workbook and the application go.
    void CloseExcel();
    // One record into the cells; with text slots for type 5, without for 6.
    // Returns whether the cells hold it (false: reported to the operator).
    bool WriteExcelRecord(const Record& record, bool withTextSlots);
    // FINISH / EXIT: save, close when configured so, and let every reference go.
    void EndSequence();

    bool HoldsApplication() const { return application_ != nullptr; }

  private:
    // Shows what the application said, and keeps it on the problem line.
    void ReportError(const excel::AutomationError& error);
    void WriteItems(const Record& record, excel::Range& reference, bool withTextSlots);
    void Shift();
    void ReleaseAll();

    WindowPort& window_;
    excel::ApplicationFactory factory_;
    std::shared_ptr<excel::Application> application_;
    std::shared_ptr<excel::Workbooks> workbooks_;
    std::shared_ptr<excel::Workbook> workbook_;
    std::shared_ptr<excel::Worksheets> worksheets_;
    std::shared_ptr<excel::Worksheet> worksheet_;
};

}  // namespace karvelo::exports
