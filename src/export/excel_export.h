#pragma once
// The workbook export (types 5 and 6): each record written into cells of one
// worksheet of an existing workbook, through the automation interface
// (export/excel_automation.h). The station holds its link to the application
// from "open" (or the first record) until "close", a set switch or the end.
//
// A workbook never loses what was in it: the first record of an attachment
// that writes over cells holding something first keeps a copy of the file as
// it is on disk, "NAME.before-YYYYMMDD-HHMMSS.EXT" beside it ("-2", "-3" ...
// when that name is taken), and says so once. Later records of the same
// attachment make none. A copy that cannot be made is reported, and the record
// is written all the same.
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

// What became of a record written into the workbook.
enum class WorkbookWrite {
    Written,     // in the cells, and saved when saving after each record is on
    NotSaved,    // in the cells, but the save failed: it goes with the next save
    NotWritten,  // not in the cells: to be written again
};

class ExcelLink {
  public:
    // `clock` gives the local time the name of a copy carries.
    ExcelLink(WindowPort& window, excel::ApplicationFactory factory,
              LocalClock clock = &SystemLocalTime);
    ~ExcelLink();
    ExcelLink(const ExcelLink&) = delete;
    ExcelLink& operator=(const ExcelLink&) = delete;

    // "open": attaches the workbook ExportPath + XlsFileName, starting the
    // application first when none is held.
    void OpenExcel();
    // "close", a set switch: lets the workbook and the application go.
    void CloseExcel();
    // One record into the cells; with text slots for type 5, without for 6.
    // Failures are reported to the operator.
    WorkbookWrite WriteExcelRecord(const Record& record, bool withTextSlots);
    // FINISH / EXIT: save, close when configured so, and let every reference go.
    void EndSequence();

    bool HoldsApplication() const { return application_ != nullptr; }

  private:
    // Shows what the application said, and keeps it on the problem line.
    void ReportError(const excel::AutomationError& error);
    void WriteItems(const Record& record, excel::Range& reference, bool withTextSlots);
    // Copies the workbook file as it is on disk before a record writes over it.
    void KeepWorkbookAsItWas();
    void Shift();
    void ReleaseAll();

    WindowPort& window_;
    excel::ApplicationFactory factory_;
    LocalClock clock_;
    std::shared_ptr<excel::Application> application_;
    std::shared_ptr<excel::Workbooks> workbooks_;
    std::shared_ptr<excel::Workbook> workbook_;
    std::shared_ptr<excel::Worksheets> worksheets_;
    std::shared_ptr<excel::Worksheet> worksheet_;

    // The file attached, and whether this attachment has tried its copy yet.
    std::wstring workbookPath_;
    bool copyTried_ = false;
    // What the current record's copy gave: its file name, or why there is none.
    std::wstring copyName_;
    std::wstring copyProblem_;
};

}  // namespace karvelo::exports
