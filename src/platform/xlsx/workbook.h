#pragma once
// The workbook engine: an existing .xlsx or .xlsm workbook held in memory, its
// worksheets' cells read and written, saved back as a package in which every
// part that was not changed stays byte-identical (formatting, formulas, other
// sheets, charts and macros survive). No spreadsheet program is needed.
//
// Used on one thread at a time. Every failure is thrown as WorkbookError with
// a text for the operator.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace karvelo::platform::xlsx {

// A failure, with its text for the operator (UTF-8 in what(), wide in text()).
class WorkbookError : public std::runtime_error {
  public:
    explicit WorkbookError(std::wstring text);
    const std::wstring& text() const { return text_; }

  private:
    std::wstring text_;
};

// The size of a sheet, as the spreadsheet programs have it.
inline constexpr std::int32_t kMaxRows = 1048576;
inline constexpr std::int32_t kMaxColumns = 16384;  // "XFD"

// A cell, 1-based: column 1 is "A", row 1 the first row.
struct CellPosition {
    std::int32_t row = 1;
    std::int32_t column = 1;
    friend bool operator==(const CellPosition&, const CellPosition&) = default;
};

// "B7", "b7", "$B$7", "AA10", "XFD1048576": the cell; anything else (ranges,
// names, R1C1, a row or column outside the sheet, surrounding spaces): none.
std::optional<CellPosition> ParseCellAddress(std::wstring_view text);

// Column letters and row, "B7" for row 7 of column 2. The position must lie
// inside the sheet.
std::wstring FormatCellAddress(CellPosition cell);

enum class CellKind { Empty, Number, Text, Boolean, Error };

// What a cell holds, as Excel's Value2 gives it: a date is its serial number,
// a formula its last calculated result, a shared string its text.
struct CellValue {
    CellKind kind = CellKind::Empty;
    double number = 0.0;  // Number; Boolean: 0 or 1
    std::wstring text;    // Text; Error: the error's text, e.g. "#DIV/0!"
};

// True when `text` reads completely as a decimal number ("12.345000", "-3",
// "1e5", ".5"): optional sign, digits with an optional '.', optional exponent,
// nothing around it; finite. Locale-free.
bool ReadsAsNumber(std::wstring_view text, double* value = nullptr);

class Workbook {
  public:
    // Loads the workbook at `path` (UTF-8 file name). Refuses, with a text that
    // says what the file is and what to do: a missing file, a file that is not a
    // workbook, a legacy binary .xls (save it as .xlsx), an encrypted workbook, a
    // binary .xlsb.
    static std::unique_ptr<Workbook> Open(const std::string& path);

    virtual ~Workbook() = default;

    virtual const std::string& Path() const = 0;

    // The worksheets in the workbook's order (chart sheets are not worksheets).
    virtual std::vector<std::wstring> SheetNames() const = 0;
    // The index (into SheetNames) of the worksheet named `name`, compared
    // without regard to case as the spreadsheet programs do; -1 when none.
    virtual int FindSheet(std::wstring_view name) const = 0;

    // The sheet shown when the workbook is opened, and making a sheet that one.
    virtual int ActiveSheet() const = 0;
    virtual void ActivateSheet(int sheet) = 0;

    // The sheet's active cell: its stored selection ("A1" when it has none).
    virtual CellPosition ActiveCell(int sheet) const = 0;
    // Makes `cell` the sheet's selection and active cell.
    virtual void SelectCell(int sheet, CellPosition cell) = 0;

    virtual CellValue GetCell(int sheet, CellPosition cell) const = 0;
    // A text that reads completely as a number is stored as a number cell, any
    // other text as a string cell, the empty text clears the cell's value. The
    // cell keeps its style; a formula in it is replaced.
    virtual void SetCellText(int sheet, CellPosition cell, std::wstring_view text) = 0;
    virtual void SetCellNumber(int sheet, CellPosition cell, double value) = 0;

    // Changes made since the workbook was loaded or last saved.
    virtual bool HasUnsavedChanges() const = 0;

    // Writes the changed parts into a new package beside the file and puts it
    // in the file's place in one step, then syncs it. On any failure (a full
    // disk, a read-only folder, the workbook open in a spreadsheet program) the
    // file is left as it was, the changes stay in memory for the next save, and
    // WorkbookError says why.
    virtual void Save() = 0;

    // True when the file is no longer the one this workbook loaded or last saved
    // (another program has saved it since).
    virtual bool ChangedOnDisk() const = 0;
};

}  // namespace karvelo::platform::xlsx
