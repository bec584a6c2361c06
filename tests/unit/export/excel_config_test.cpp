// The workbook dialog's keys: read with their defaults, written by OK in the
// dialog's order and cut to their field sizes; items 14 and 15 left alone.

#include "export/excel_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace karvelo::exports {
namespace {

using platform::ProfileDocument;

std::vector<std::string> KeysInOrder(const ProfileDocument& doc) {
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

TEST(ExcelConfigKeys, AnEmptyFileOpensWithTheDefaults) {
    const ExcelDialogValues v = ReadExcelDialogValues(ProfileDocument{});
    EXPECT_EQ(v.fileName, L"");
    for (bool flag : {v.selectFile, v.visible, v.edit, v.open, v.close, v.save, v.shiftMode}) {
        EXPECT_TRUE(flag);
    }
    for (int n = 0; n < kExcelDialogItems; ++n) {
        const ExcelCellRow& row = v.rows[static_cast<std::size_t>(n)];
        EXPECT_TRUE(row.on) << n;
        EXPECT_TRUE(row.relative) << n;
        EXPECT_EQ(row.column, std::to_wstring(n)) << n;
        EXPECT_EQ(row.line, L"0") << n;
    }
    EXPECT_EQ(v.sendKey, SendKeyChoice::None);
    EXPECT_EQ(v.sheet, L"Tabelle1");
    EXPECT_EQ(v.refMode, ExcelReferenceMode::DefinedCell);
    EXPECT_EQ(v.refAddress, L"0");
    EXPECT_EQ(v.autoShiftColumn, L"0");
    EXPECT_EQ(v.autoShiftRow, L"1");
}

TEST(ExcelConfigKeys, ReadsTheStoredValues) {
    const ProfileDocument stored = ProfileDocument::Parse(
        "[EXPORT]\r\nfile_xls=book.xlsm\r\n[EXCEL]\r\nselectfile=0\r\nvisible=0\r\nedit=2\r\n"
        "save=x\r\nvalue13=0\r\nrel3=0\r\nSP3=F\r\nZL3=3\r\nsheet=Daten\r\nrefmode=2\r\n"
        "refadresse=Z1\r\nshiftmode=0\r\nautoshift_sp=1\r\nautoshift_zl=0\r\nsendkey=14\r\n");
    const ExcelDialogValues v = ReadExcelDialogValues(stored);
    EXPECT_EQ(v.fileName, L"book.xlsm");
    EXPECT_FALSE(v.selectFile);
    EXPECT_FALSE(v.visible);
    EXPECT_TRUE(v.edit) << "any non-zero number is on";
    EXPECT_FALSE(v.save) << "no number reads as 0";
    EXPECT_TRUE(v.open);
    EXPECT_FALSE(v.rows[12].on);
    EXPECT_TRUE(v.rows[11].on);
    EXPECT_FALSE(v.rows[2].relative);
    EXPECT_EQ(v.rows[2].column, L"F");
    EXPECT_EQ(v.rows[2].line, L"3");
    EXPECT_EQ(v.sheet, L"Daten");
    EXPECT_EQ(v.refMode, ExcelReferenceMode::AddressInCell);
    EXPECT_EQ(v.refAddress, L"Z1");
    EXPECT_FALSE(v.shiftMode);
    EXPECT_EQ(v.autoShiftColumn, L"1");
    EXPECT_EQ(v.autoShiftRow, L"0");
    EXPECT_EQ(v.sendKey, SendKeyChoice::Enter);
}

TEST(ExcelConfigKeys, OkWritesEveryKeyInTheDialogsOrderWithTheValuesShown) {
    ProfileDocument doc;
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
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"value7", L""), L"1");
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"refmode", L""), L"1");
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"sendkey", L""), L"0");
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"sheet", L""), L"Tabelle1");
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"autoshift_zl", L""), L"1");
}

TEST(ExcelConfigKeys, FlagsAndListIndexesAreWrittenAsNumbers) {
    ProfileDocument doc;
    ExcelDialogValues v = ReadExcelDialogValues(doc);
    v.close = false;
    v.rows[4].on = false;
    v.rows[1].relative = false;
    v.shiftMode = false;
    v.sendKey = SendKeyChoice::F12;
    v.refMode = ExcelReferenceMode::ActiveCell;
    WriteExcelDialogValues(doc, v);
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"close", L""), L"0");
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"open", L""), L"1");
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"value5", L""), L"0");
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"rel2", L""), L"0");
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"rel1", L""), L"1");
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"shiftmode", L""), L"0");
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"sendkey", L""), L"12");
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"refmode", L""), L"0");
}

TEST(ExcelConfigKeys, AnIndexTheListsDoNotHaveIsWrittenBackUnchanged) {
    ProfileDocument doc = ProfileDocument::Parse("[EXCEL]\r\nrefmode=7\r\nsendkey=-3\r\n");
    WriteExcelDialogValues(doc, ReadExcelDialogValues(doc));
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"refmode", L""), L"7");
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"sendkey", L""), L"-3");
}

// The file name and the cell fields are cut; the other texts go as typed.
struct CutCase {
    std::size_t typed;
    std::size_t stored;
};

class ExcelConfigCuts : public ::testing::TestWithParam<CutCase> {};

TEST_P(ExcelConfigCuts, FileNameAndCellFields) {
    const CutCase c = GetParam();
    ProfileDocument doc;
    ExcelDialogValues v = ReadExcelDialogValues(doc);
    v.fileName = std::wstring(c.typed + kExcelFileNameChars - kExcelCellFieldChars, L'n');
    v.rows[0].column = std::wstring(c.typed, L'c');
    v.rows[12].line = std::wstring(c.typed, L'l');
    v.sheet = std::wstring(c.typed, L's');
    WriteExcelDialogValues(doc, v);
    EXPECT_EQ(doc.ReadString(L"EXPORT", L"file_xls", L"").size(),
              c.stored + kExcelFileNameChars - kExcelCellFieldChars);
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"SP1", L"").size(), c.stored);
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"ZL13", L"").size(), c.stored);
    EXPECT_EQ(doc.ReadString(L"EXCEL", L"sheet", L"").size(), c.typed);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ExcelConfigCuts,
                         ::testing::Values(CutCase{98, 98}, CutCase{99, 99}, CutCase{100, 99},
                                           CutCase{160, 99}));

TEST(ExcelConfigKeys, ItemsFourteenAndFifteenAreLeftAlone) {
    const std::string others =
        "value14=0\r\nvalue15=0\r\nrel14=0\r\nrel15=0\r\nSP14=X\r\nSP15=Y\r\nZL14=7\r\nZL15=8\r\n";
    ProfileDocument doc = ProfileDocument::Parse("[EXCEL]\r\n" + others);
    WriteExcelDialogValues(doc, ReadExcelDialogValues(doc));
    const std::string text = doc.Serialize();
    EXPECT_NE(text.find("[EXCEL]\r\n" + others), std::string::npos) << text;
    const std::vector<std::string> keys = KeysInOrder(doc);
    for (const char* key : {"value14", "rel15", "SP14", "ZL15"}) {
        EXPECT_EQ(std::count(keys.begin(), keys.end(), key), 1) << key;
    }
}

}  // namespace
}  // namespace karvelo::exports
