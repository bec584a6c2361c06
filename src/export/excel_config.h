#pragma once
// What the "EXCEL Configuration" dialog shows and writes: the workbook, the
// application flags, the thirteen record items' cells, the worksheet, the
// reference cell and its move, and the send key. Read from the active
// configuration file with their defaults when the dialog opens, written back
// in one go by OK. Items 14 and 15 of the section are not the dialog's and are
// never touched here.

#include <array>
#include <string>

#include "platform/profile.h"

namespace karvelo::exports {

inline constexpr int kExcelDialogItems = 13;

// Index of the reference-mode list (key `refmode`). A file may hold any
// number: the value read is kept as it is, whether the list has an entry for
// it or not.
enum class ExcelReferenceMode : int { ActiveCell = 0, DefinedCell = 1, AddressInCell = 2 };
inline constexpr int kExcelReferenceModeCount = 3;

// Index of the send-key list (key `sendkey`): none, F1..F12, the space bar,
// the Enter key. Like the reference mode, any number read is kept.
enum class SendKeyChoice : int { None = 0, F1 = 1, F12 = 12, Space = 13, Enter = 14 };
inline constexpr int kSendKeyChoiceCount = 15;

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
    SendKeyChoice sendKey = SendKeyChoice::None;
    std::wstring sheet;
    ExcelReferenceMode refMode = ExcelReferenceMode::DefinedCell;
    std::wstring refAddress;
    bool shiftMode = true;
    std::wstring autoShiftColumn;
    std::wstring autoShiftRow;
};

// The longest texts OK writes: the file name and each cell field.
inline constexpr std::size_t kExcelFileNameChars = 255;
inline constexpr std::size_t kExcelCellFieldChars = 99;

// The values as the dialog opens with them, defaults for missing keys.
ExcelDialogValues ReadExcelDialogValues(const platform::ProfileDocument& doc);

// Every key of the dialog, in the order OK writes them: flags as "1"/"0",
// list indexes as numbers, texts as typed (the file name and the cell fields
// cut to their lengths above).
void WriteExcelDialogValues(platform::ProfileDocument& doc, const ExcelDialogValues& values);

// The file name as OK stores it, in the file and in the running station.
std::wstring ExcelFileNameToStore(std::wstring fileName);

}  // namespace karvelo::exports
