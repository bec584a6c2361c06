#pragma once
// What the "EXCEL Configuration" dialog shows and writes: the workbook, the
// application flags, the thirteen record items' cells, the worksheet, the
// reference cell and its move, and the send key. Read from the active
// configuration file with their defaults when the dialog opens, written back
// in one go by OK.

#include <array>
#include <string>

#include "platform/profile.h"

namespace karvelo::exports {

inline constexpr int kExcelDialogItems = 13;

struct ExcelCellRow {
    bool on = true;
    bool relative = true;
    std::wstring column;  // a column offset, or the column letters of a fixed cell
    std::wstring line;    // a row offset, or the row number of a fixed cell
};

struct ExcelDialogValues {
    std::wstring fileName;  // file_xls of EXPORT
    bool selectFile = true;
    bool visible = true;
    bool edit = true;
    bool open = true;
    bool close = true;
    bool save = true;
    std::array<ExcelCellRow, kExcelDialogItems> rows;
    int sendKey = 0;  // index of the send-key list
    std::wstring sheet;
    int refMode = 1;  // index of the reference-mode list
    std::wstring refAddress;
    bool shiftMode = true;
    std::wstring autoShiftColumn;
    std::wstring autoShiftRow;
};

// The values as the dialog opens with them, defaults for missing keys.
ExcelDialogValues ReadExcelDialogValues(const platform::ProfileDocument& doc);

// Every key of the dialog, in the order OK writes them: flags as "1"/"0",
// list indexes as numbers, texts as typed (the file name cut to 255 and the
// cell fields to 99 characters).
void WriteExcelDialogValues(platform::ProfileDocument& doc, const ExcelDialogValues& values);

}  // namespace karvelo::exports
