// The workbook dialog's keys: read with their defaults, written by OK in the
// dialog's order and cut to their field sizes.

#include "export/excel_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text_encoding.h"

namespace karvelo::exports {
namespace {

std::vector<std::string> KeysInOrder(const platform::ProfileDocument& doc) {
    std::vector<std::string> keys;
    const std::string text = doc.Serialize();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) keys.push_back(line.substr(0, eq));
        start = end + 1;
    }
    return keys;
}

TEST(ExcelConfigKeys, OkWritesEveryKeyInTheDialogsOrder) {
    platform::ProfileDocument doc;
    WriteExcelDialogValues(doc, ReadExcelDialogValues(doc));
    std::vector<std::string> expected = {"file_xls", "selectfile", "visible", "edit",
                                         "open",     "close",      "save"};
    for (const char* key : {"value", "rel"}) {
        for (int n = 1; n <= 13; ++n) expected.push_back(key + std::to_string(n));
    }
    for (int n = 1; n <= 13; ++n) {
        expected.push_back("SP" + std::to_string(n));
        expected.push_back("ZL" + std::to_string(n));
    }
    for (const char* key : {"sheet", "refmode", "refadresse", "shiftmode", "autoshift_sp",
                            "autoshift_zl", "sendkey"}) {
        expected.push_back(key);
    }
    EXPECT_EQ(KeysInOrder(doc), expected);
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"SP13", L""), L"12");
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"sendkey", L""), L"0");
}

TEST(ExcelConfigKeys, ReadsStoredValuesAndCutsLongOnes) {
    const platform::ProfileDocument stored = platform::ProfileDocument::Parse(
        "[EXPORT]\r\nfile_xls=book.xlsm\r\n[EXCEL]\r\nvisible=0\r\nrel3=0\r\nSP3=F\r\n"
        "ZL3=3\r\nrefmode=2\r\nsendkey=14\r\nSP14=99\r\n");
    ExcelDialogValues v = ReadExcelDialogValues(stored);
    EXPECT_EQ(v.fileName, L"book.xlsm");
    EXPECT_FALSE(v.visible);
    EXPECT_TRUE(v.edit);
    EXPECT_FALSE(v.rows[2].relative);
    EXPECT_EQ(v.rows[2].column, L"F");
    EXPECT_EQ(v.rows[2].line, L"3");
    EXPECT_EQ(v.refMode, 2);
    EXPECT_EQ(v.sendKey, 14);

    v.fileName = std::wstring(300, L'n');
    v.rows[0].column = std::wstring(120, L'c');
    platform::ProfileDocument doc = stored;
    WriteExcelDialogValues(doc, v);
    EXPECT_EQ(doc.ReadString(L"EXPORT", L"file_xls", L"").size(), 255u);
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"SP1", L"").size(), 99u);
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"SP14", L""), L"99") << "not the dialog's key";
}

}  // namespace
}  // namespace karvelo::exports
