#include "export/excel_config.h"

#include <utility>

#include "platform/numbers.h"

namespace karvelo::exports {
namespace {

using platform::FormatInt;
using platform::ParseInt;

constexpr std::wstring_view kExcel = L"EXCEL";

bool ReadFlag(const platform::ProfileDocument& doc, std::wstring_view key) {
    return ParseInt(doc.ReadString(kExcel, key, L"1")) != 0;
}

void WriteFlag(platform::ProfileDocument& doc, std::wstring_view key, bool on) {
    doc.Set(kExcel, key, on ? L"1" : L"0");
}

std::wstring Cut(std::wstring text, std::size_t chars) {
    if (text.size() > chars) text.resize(chars);
    return text;
}

std::wstring Numbered(std::wstring_view key, int n) {
    return std::wstring(key) + FormatInt(n);
}

}  // namespace

ExcelDialogValues ReadExcelDialogValues(const platform::ProfileDocument& doc) {
    ExcelDialogValues v;
    v.fileName = doc.ReadString(L"EXPORT", L"file_xls", L"");
    v.selectFile = ReadFlag(doc, L"selectfile");
    v.visible = ReadFlag(doc, L"visible");
    v.edit = ReadFlag(doc, L"edit");
    v.open = ReadFlag(doc, L"open");
    v.close = ReadFlag(doc, L"close");
    v.save = ReadFlag(doc, L"save");
    for (int n = 1; n <= kExcelDialogItems; ++n) {
        ExcelCellRow& row = v.rows[static_cast<std::size_t>(n - 1)];
        row.on = ReadFlag(doc, Numbered(L"value", n));
        row.relative = ReadFlag(doc, Numbered(L"rel", n));
        row.column = doc.ReadString(kExcel, Numbered(L"SP", n), FormatInt(n - 1));
        row.line = doc.ReadString(kExcel, Numbered(L"ZL", n), L"0");
    }
    v.sendKey = static_cast<SendKeyChoice>(ParseInt(doc.ReadString(kExcel, L"sendkey", L"")));
    v.sheet = doc.ReadString(kExcel, L"sheet", L"Tabelle1");
    v.refMode = static_cast<ExcelReferenceMode>(ParseInt(doc.ReadString(kExcel, L"refmode", L"1")));
    v.refAddress = doc.ReadString(kExcel, L"refadresse", L"0");
    v.shiftMode = ReadFlag(doc, L"shiftmode");
    v.autoShiftColumn = doc.ReadString(kExcel, L"autoshift_sp", L"0");
    v.autoShiftRow = doc.ReadString(kExcel, L"autoshift_zl", L"1");
    return v;
}

void WriteExcelDialogValues(platform::ProfileDocument& doc, const ExcelDialogValues& v) {
    doc.Set(L"EXPORT", L"file_xls", ExcelFileNameToStore(v.fileName));
    WriteFlag(doc, L"selectfile", v.selectFile);
    WriteFlag(doc, L"visible", v.visible);
    WriteFlag(doc, L"edit", v.edit);
    WriteFlag(doc, L"open", v.open);
    WriteFlag(doc, L"close", v.close);
    WriteFlag(doc, L"save", v.save);
    for (int n = 1; n <= kExcelDialogItems; ++n) {
        WriteFlag(doc, Numbered(L"value", n), v.rows[static_cast<std::size_t>(n - 1)].on);
    }
    for (int n = 1; n <= kExcelDialogItems; ++n) {
        WriteFlag(doc, Numbered(L"rel", n), v.rows[static_cast<std::size_t>(n - 1)].relative);
    }
    for (int n = 1; n <= kExcelDialogItems; ++n) {
        const ExcelCellRow& row = v.rows[static_cast<std::size_t>(n - 1)];
        doc.Set(kExcel, Numbered(L"SP", n), Cut(row.column, kExcelCellFieldChars));
        doc.Set(kExcel, Numbered(L"ZL", n), Cut(row.line, kExcelCellFieldChars));
    }
    doc.Set(kExcel, L"sheet", v.sheet);
    doc.Set(kExcel, L"refmode", FormatInt(static_cast<int>(v.refMode)));
    doc.Set(kExcel, L"refadresse", v.refAddress);
    WriteFlag(doc, L"shiftmode", v.shiftMode);
    doc.Set(kExcel, L"autoshift_sp", v.autoShiftColumn);
    doc.Set(kExcel, L"autoshift_zl", v.autoShiftRow);
    doc.Set(kExcel, L"sendkey", FormatInt(static_cast<int>(v.sendKey)));
}

std::wstring ExcelFileNameToStore(std::wstring fileName) {
    return Cut(std::move(fileName), kExcelFileNameChars);
}

}  // namespace karvelo::exports
