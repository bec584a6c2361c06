// The workbook engine on real workbooks: made by openpyxl or LibreOffice,
// changed and saved by the engine, then read back by openpyxl and LibreOffice
// rather than by the engine itself.

#include "platform/xlsx/workbook.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/temp_dir.h"
#include "support/workbook_tool.h"

namespace karvelo::platform::xlsx {
namespace {

using karvelo::testing::TempDir;
namespace wb = karvelo::testing::workbook;
namespace fs = std::filesystem;

TEST(CellAddress, ParsesAndFormats) {
    struct Case {
        const wchar_t* text;
        int row;  // 0: refused
        int column;
    };
    const Case cases[] = {
        {L"A1", 1, 1},
        {L"b7", 7, 2},
        {L"$B$7", 7, 2},
        {L"Z3", 3, 26},
        {L"AA10", 10, 27},
        {L"AZ1", 1, 52},
        {L"XFD1048576", 1048576, 16384},
        {L"0", 0, 0},
        {L"A0", 0, 0},
        {L"XFE1", 0, 0},
        {L"A1048577", 0, 0},
        {L"A1:B2", 0, 0},
        {L" A1", 0, 0},
        {L"A1 ", 0, 0},
        {L"1A", 0, 0},
        {L"", 0, 0},
    };
    for (const Case& c : cases) {
        const auto cell = ParseCellAddress(c.text);
        if (c.row == 0) {
            EXPECT_FALSE(cell.has_value()) << c.text;
            continue;
        }
        ASSERT_TRUE(cell.has_value()) << c.text;
        EXPECT_EQ(*cell, (CellPosition{c.row, c.column})) << c.text;
        EXPECT_EQ(ParseCellAddress(FormatCellAddress(*cell)), cell) << c.text;
    }
    EXPECT_EQ(FormatCellAddress({7, 2}), L"B7");
    EXPECT_EQ(FormatCellAddress({1, 27}), L"AA1");
    EXPECT_EQ(FormatCellAddress({1, 16384}), L"XFD1");
}

TEST(ReadsAsNumber, OnlyWholeDecimalNumbers) {
    struct Case {
        const wchar_t* text;
        bool number;
        double value;
    };
    const Case cases[] = {
        {L"12.345000", true, 12.345},
        {L"-0.500000", true, -0.5},
        {L"+3", true, 3},
        {L"1e5", true, 1e5},
        {L".5", true, 0.5},
        {L"5.", true, 5},
        {L"10.12.2026", false, 0},
        {L"08:05:03", false, 0},
        {L"12,5", false, 0},
        {L" 12", false, 0},
        {L"12 ", false, 0},
        {L"1e", false, 0},
        {L"inf", false, 0},
        {L"nan", false, 0},
        {L"0x10", false, 0},
        {L"1e999", false, 0},
        {L"", false, 0},
        {L"-", false, 0},
        {L".", false, 0},
    };
    for (const Case& c : cases) {
        double value = 0.0;
        EXPECT_EQ(ReadsAsNumber(c.text, &value), c.number) << c.text;
        if (c.number) {
            EXPECT_DOUBLE_EQ(value, c.value) << c.text;
        }
    }
}

class WorkbookTest : public ::testing::Test {
  protected:
    std::string Rich() {
        const std::string path = dir.file("rich.xlsx");
        wb::MakeRich(path);
        return path;
    }
    TempDir dir;
};

TEST_F(WorkbookTest, ReadsValue2OfEveryKind) {
    // LibreOffice's own file: shared strings and cached formula results.
    const std::string path = wb::Resave(Rich(), (dir.path() / "lo").string());
    auto book = Workbook::Open(path);
    const int sheet = book->FindSheet(L"tabelle1");  // names compare without case
    ASSERT_EQ(sheet, 0);
    EXPECT_EQ(book->FindSheet(L"Notes"), 1);
    EXPECT_EQ(book->FindSheet(L"Missing"), -1);

    const CellValue header = book->GetCell(sheet, {1, 1});
    EXPECT_EQ(header.kind, CellKind::Text);
    EXPECT_EQ(header.text, L"header");
    const CellValue number = book->GetCell(sheet, {1, 3});
    EXPECT_EQ(number.kind, CellKind::Number);
    EXPECT_DOUBLE_EQ(number.number, 1.5);
    const CellValue formula = book->GetCell(sheet, {10, 5});
    EXPECT_EQ(formula.kind, CellKind::Number) << "a formula gives its last result";
    EXPECT_DOUBLE_EQ(formula.number, 6.0);
    EXPECT_EQ(book->GetCell(sheet, {2, 1}).kind, CellKind::Empty);
    EXPECT_EQ(book->GetCell(1, {2, 1}).text, L"note one");
}

TEST_F(WorkbookTest, WrittenCellsAsAnIndependentReaderSeesThem) {
    const std::string path = Rich();
    const std::string layout = wb::Layout(path, "Tabelle1");
    {
        auto book = Workbook::Open(path);
        const int s = book->FindSheet(L"Tabelle1");
        book->SetCellText(s, {5, 2}, L"12.345000");    // a number text: a number
        book->SetCellText(s, {5, 3}, L"10.12.2026");   // not a number: a string
        book->SetCellText(s, {5, 1}, L" <LOT & 7> ");  // markup and spaces kept
        book->SetCellNumber(s, {4, 6}, 42);            // into an existing row
        book->SetCellText(s, {1, 3}, L"2");            // over a formatted number
        book->SetCellText(s, {1, 1}, L"");             // cleared
        book->SetCellText(s, {20, 27}, L"far");        // a new last row, column AA
        book->SetCellText(s, {10, 5}, L"7");           // over the formula
        book->SetCellText(s, {6, 2},
                          L"a\x01"
                          L"b\tc");                // XML cannot carry \x01
        book->SetCellText(s, {6, 3}, L"_x0041_");  // reads like an escape
        book->SetCellText(s, {6, 4}, L"=1+1");     // a text, never a formula
        EXPECT_TRUE(book->HasUnsavedChanges());
        book->Save();
        EXPECT_FALSE(book->HasUnsavedChanges());
    }
    const auto cells = wb::ReadCells(path, "Tabelle1");
    EXPECT_EQ(cells.at("B5"), (wb::Cell{'n', "12.345"}));
    EXPECT_EQ(cells.at("C5"), (wb::Cell{'s', "10.12.2026"}));
    EXPECT_EQ(cells.at("A5"), (wb::Cell{'s', " <LOT & 7> "}));
    EXPECT_EQ(cells.at("F4"), (wb::Cell{'n', "42"}));
    EXPECT_EQ(cells.at("C1"), (wb::Cell{'n', "2"}));
    EXPECT_EQ(cells.count("A1"), 0u);
    EXPECT_EQ(cells.at("AA20"), (wb::Cell{'s', "far"}));
    EXPECT_EQ(cells.at("E10"), (wb::Cell{'n', "7"}));
    EXPECT_EQ(cells.at("D2"), (wb::Cell{'n', "2"})) << "untouched cells stay";
    // openpyxl leaves the format's _xHHHH_ escapes as they stand.
    EXPECT_EQ(cells.at("B6"), (wb::Cell{'s', "a_x0001_b\tc"}));
    EXPECT_EQ(cells.at("C6"), (wb::Cell{'s', "_x005F_x0041_"}));
    // An inline string, never a formula (openpyxl itself takes any text that
    // begins with "=" for one, so the part is looked at as it stands).
    const std::string sheet = wb::Run({"part", path, "xl/worksheets/sheet1.xml"});
    const std::size_t d6 = sheet.find("r=\"D6\"");
    ASSERT_NE(d6, std::string::npos);
    const std::string cell = sheet.substr(d6, sheet.find("</c>", d6) - d6);
    EXPECT_NE(cell.find("t=\"inlineStr\""), std::string::npos) << cell;
    EXPECT_EQ(cell.find("<f"), std::string::npos) << cell;
    EXPECT_EQ(wb::Layout(path, "Tabelle1"), layout)
        << "styles (the cleared A1's too), widths, the merged range and the name stay";
    EXPECT_EQ(wb::OrderFault(path, "xl/worksheets/sheet1.xml"), "");

    auto again = Workbook::Open(path);
    EXPECT_EQ(again->GetCell(0, {6, 2}).text,
              L"a\x01"
              L"b\tc");
    EXPECT_EQ(again->GetCell(0, {6, 3}).text, L"_x0041_");
}

TEST_F(WorkbookTest, EverythingElseSurvivesAndLibreOfficeRecalculates) {
    // LibreOffice's own file holds the formula's cached result and no order to
    // recalculate on opening; the engine must give that order.
    const std::string path = wb::Resave(Rich(), (dir.path() / "made").string());
    const auto before = wb::EntryHashes(path);
    const auto notes = wb::ReadCells(path, "Notes");
    const std::string layout = wb::Layout(path, "Tabelle1");
    {
        auto book = Workbook::Open(path);
        book->SetCellNumber(0, {1, 4}, 10);  // D1, summed by E10
        book->SetCellText(0, {3, 1}, L"record");
        book->Save();
    }
    const auto after = wb::EntryHashes(path);
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [name, hash] : before) {
        const bool rewritten = name == "xl/worksheets/sheet1.xml" || name == "xl/workbook.xml";
        EXPECT_EQ(after.at(name) == hash, !rewritten) << name;
    }
    EXPECT_EQ(wb::ReadCells(path, "Notes"), notes);
    const auto cells = wb::ReadCells(path, "Tabelle1");
    EXPECT_EQ(cells.at("E10"), (wb::Cell{'f', "=SUM(D1:D3)"}));
    EXPECT_EQ(cells.at("H1"), (wb::Cell{'s', "merged"}));
    EXPECT_EQ(wb::Layout(path, "Tabelle1"), layout);

    const std::string csv = wb::ConvertToCsv(path, (dir.path() / "lo").string());
    const auto lines = wb::Rows(csv);
    ASSERT_GE(lines.size(), 10u) << csv;
    EXPECT_EQ(lines[0], "header,,1.5,10,,,,merged");
    EXPECT_EQ(lines[2], "record,,,3,,,,");
    EXPECT_EQ(lines[9], ",,,,15,,,") << "the formula follows the new value";
}

// Rows and cells may leave out their positions; new ones go before, between
// and after the present ones, the dimension and the selection follow.
TEST_F(WorkbookTest, RowsAndCellsInOrder) {
    const std::string path = dir.file("plain.xlsx");
    wb::Make(path, {"Tabelle1"});
    dir.Write("sheet.xml",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
              "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
              "<dimension ref=\"A2:D5\"/>"
              "<sheetData><row r=\"2\" spans=\"1:2\"><c><v>1</v></c><c><v>2</v></c></row>"
              "<row><c t=\"inlineStr\"><is><t>x</t></is></c></row>"
              "<row r=\"5\"><c r=\"C5\"><v>5</v></c><c><v>6</v></c></row></sheetData></worksheet>");
    wb::PutPart(path, "xl/worksheets/sheet1.xml", dir.file("sheet.xml"));
    {
        auto book = Workbook::Open(path);
        EXPECT_DOUBLE_EQ(book->GetCell(0, {2, 2}).number, 2);
        EXPECT_EQ(book->GetCell(0, {3, 1}).text, L"x");
        EXPECT_DOUBLE_EQ(book->GetCell(0, {5, 4}).number, 6);
        EXPECT_EQ(book->ActiveCell(0), (CellPosition{1, 1})) << "no selection stored";
        book->SetCellNumber(0, {1, 1}, 9);   // before every row
        book->SetCellNumber(0, {4, 2}, 3);   // between rows
        book->SetCellNumber(0, {7, 1}, 7);   // after every row
        book->SetCellNumber(0, {5, 1}, 4);   // before the row's cells
        book->SetCellNumber(0, {5, 5}, 8);   // after them
        book->SetCellNumber(0, {2, 1}, 10);  // a cell without position
        book->SetCellNumber(0, {2, 3}, 11);  // beyond the row's spans
        book->SelectCell(0, {8, 2});         // no sheet view yet
        book->Save();
    }
    const auto cells = wb::ReadCells(path, "Tabelle1");
    const std::map<std::string, wb::Cell> expected = {
        {"A1", {'n', "9"}}, {"A2", {'n', "10"}}, {"B2", {'n', "2"}}, {"C2", {'n', "11"}},
        {"A3", {'s', "x"}}, {"B4", {'n', "3"}},  {"A5", {'n', "4"}}, {"C5", {'n', "5"}},
        {"D5", {'n', "6"}}, {"E5", {'n', "8"}},  {"A7", {'n', "7"}},
    };
    EXPECT_EQ(cells, expected);
    EXPECT_EQ(wb::OrderFault(path, "xl/worksheets/sheet1.xml"), "");
    const std::string part = wb::Part(path, "xl/worksheets/sheet1.xml");
    EXPECT_NE(part.find("<dimension ref=\"A1:E7\"/>"), std::string::npos) << part;
    EXPECT_EQ(part.find("spans=\"1:2\""), std::string::npos) << "a stale span";
    EXPECT_EQ(wb::ActiveCell(path, "Tabelle1"), "B8");
}

TEST_F(WorkbookTest, SelectionAndActiveSheet) {
    const std::string path = Rich();
    {
        auto book = Workbook::Open(path);
        EXPECT_EQ(book->ActiveSheet(), 0);
        EXPECT_EQ(book->ActiveCell(0), (CellPosition{1, 1}));
        book->SelectCell(0, {5, 3});
        book->ActivateSheet(1);
        book->SelectCell(1, {2, 2});
        book->Save();
    }
    EXPECT_EQ(wb::ActiveCell(path, "Tabelle1"), "C5");
    EXPECT_EQ(wb::ActiveCell(path, "Notes"), "B2");
    auto again = Workbook::Open(path);
    EXPECT_EQ(again->ActiveSheet(), 1);
    EXPECT_EQ(again->ActiveCell(0), (CellPosition{5, 3}));
    again->ActivateSheet(1);
    again->SelectCell(0, {5, 3});
    EXPECT_FALSE(again->HasUnsavedChanges()) << "nothing changed, nothing to write";
}

TEST_F(WorkbookTest, SelectionInTheActivePaneOfFrozenPanes) {
    const std::string path = dir.file("frozen.xlsx");
    wb::Make(path, {"Tabelle1"});
    wb::Freeze(path, "Tabelle1", "B3", "C5");
    {
        auto book = Workbook::Open(path);
        EXPECT_EQ(book->ActiveCell(0), (CellPosition{5, 3}));
        book->SelectCell(0, {7, 4});
        book->Save();
    }
    EXPECT_EQ(wb::ActiveCell(path, "Tabelle1"), "D7");
    const std::string part = wb::Part(path, "xl/worksheets/sheet1.xml");
    EXPECT_NE(part.find("state=\"frozen\""), std::string::npos) << part;
    std::size_t selections = 0;
    for (std::size_t at = part.find("<selection"); at != std::string::npos;
         at = part.find("<selection", at + 1)) {
        ++selections;
    }
    EXPECT_EQ(selections, 3u) << part;
}

// Typing over a formula leaves the calculation chain naming a cell without one,
// which spreadsheet programs report as damage: the chain goes (it is rebuilt
// on opening). A write beside the formula keeps it.
TEST_F(WorkbookTest, CalculationChainOfAReplacedFormula) {
    const std::string path = Rich();
    wb::AddCalcChain(path, {"E10"});
    const auto chained = wb::EntryHashes(path);
    auto book = Workbook::Open(path);
    book->SetCellNumber(0, {1, 4}, 10);
    book->Save();
    EXPECT_EQ(wb::EntryHashes(path).at("xl/calcChain.xml"), chained.at("xl/calcChain.xml"));

    book->SetCellText(0, {10, 5}, L"7");
    book->Save();
    const auto entries = wb::EntryHashes(path);
    EXPECT_EQ(entries.count("xl/calcChain.xml"), 0u);
    EXPECT_EQ(wb::Part(path, "[Content_Types].xml").find("calcChain"), std::string::npos);
    EXPECT_EQ(wb::Part(path, "xl/_rels/workbook.xml.rels").find("calcChain"), std::string::npos);
    EXPECT_EQ(entries.at("xl/styles.xml"), chained.at("xl/styles.xml"));
    EXPECT_EQ(wb::ReadCells(path, "Tabelle1").at("E10"), (wb::Cell{'n', "7"}));
    const std::string workbook = wb::Part(path, "xl/workbook.xml");
    EXPECT_NE(workbook.find("fullCalcOnLoad=\"1\""), std::string::npos) << workbook;
}

TEST_F(WorkbookTest, RefusesWhatIsNotAWorkbookAndSaysWhat) {
    dir.Write("text.xlsx", "just some text");
    dir.Write("legacy.xls",
              std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(512, '\0'));
    dir.Write("locked.xlsx", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) +
                                 std::string("E\0n\0c\0r\0y\0p\0t\0i\0o\0n\0I\0n\0f\0o\0", 28));
    const std::string binary = dir.file("binary.xlsb");
    wb::Make(binary, {"Tabelle1"});
    dir.Write("empty.bin", "");
    wb::PutPart(binary, "xl/workbook.bin", dir.file("empty.bin"));
    wb::PutPart(dir.file("other.zip"), "content.xml", dir.file("empty.bin"));
    struct Case {
        std::string file;
        const wchar_t* says;
    };
    const Case cases[] = {
        {"absent.xlsx", L"No such file"},    {"text.xlsx", L"is not a workbook"},
        {"legacy.xls", L"save it as .xlsx"}, {"locked.xlsx", L"without a password"},
        {"binary.xlsb", L"(.xlsb)"},         {"other.zip", L"is not a workbook"},
    };
    for (const Case& c : cases) {
        try {
            Workbook::Open(dir.file(c.file));
            ADD_FAILURE() << c.file << " was opened";
        } catch (const WorkbookError& error) {
            EXPECT_NE(error.text().find(c.says), std::wstring::npos) << error.what();
            EXPECT_NE(error.text().find(L"/" + std::wstring(c.file.begin(), c.file.end())),
                      std::wstring::npos)
                << "names the file: " << error.what();
        }
    }
}

TEST_F(WorkbookTest, ADamagedSheetIsReportedWhenFirstUsed) {
    const std::string path = dir.file("damaged.xlsx");
    wb::Make(path, {"Tabelle1", "Other"});
    dir.Write("sheet.xml", "<worksheet><sheetData><row r=\"1\">");
    wb::PutPart(path, "xl/worksheets/sheet2.xml", dir.file("sheet.xml"));
    auto book = Workbook::Open(path);
    EXPECT_EQ(book->GetCell(0, {1, 1}).kind, CellKind::Empty);
    try {
        book->GetCell(1, {1, 1});
        ADD_FAILURE() << "a damaged sheet was read";
    } catch (const WorkbookError& error) {
        EXPECT_NE(error.text().find(L"damaged"), std::wstring::npos) << error.what();
        EXPECT_NE(error.text().find(L"/damaged.xlsx"), std::wstring::npos) << error.what();
    }
}

// A small file whose zip index lies about a part's size: refused with a
// message naming the file, never an allocation of what the header claims.
TEST_F(WorkbookTest, APartWhoseIndexLiesAboutItsSizeIsRefused) {
    struct Case {
        const char* name;
        std::uint32_t claimed;  // 0: the real size plus 1000
        const wchar_t* said;
    };
    const Case cases[] = {
        {"claims 4 GiB", 0xFFFFFFF0u, L"claims 4095 MiB"},
        {"claims just over the limit", (256u << 20) + 1, L"claims 256 MiB"},
        {"claims less than it holds", 10, L"damaged"},
        {"claims more than it holds", 0, L"damaged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("lies.xlsx");
        wb::Make(path, {"Tabelle1"});
        const std::uint32_t real =
            static_cast<std::uint32_t>(wb::Run({"part", path, "xl/worksheets/sheet1.xml"}).size());
        wb::ClaimSize(path, "xl/worksheets/sheet1.xml", c.claimed != 0 ? c.claimed : real + 1000);
        try {
            auto book = Workbook::Open(path);
            book->GetCell(0, {1, 1});
            ADD_FAILURE() << "a part that lies was read";
        } catch (const WorkbookError& error) {
            EXPECT_NE(error.text().find(c.said), std::wstring::npos) << error.what();
            EXPECT_NE(error.text().find(L"/lies.xlsx"), std::wstring::npos) << error.what();
        }
    }
}

// Copies that saves of a killed station left beside the workbook are removed
// when it is opened again, and only those: not while a save runs, not files
// of other names.
TEST_F(WorkbookTest, CopiesLeftByAKilledSaveAreRemovedAtTheNextOpen) {
    const std::string path = dir.file("book.xlsx");
    wb::Make(path, {"Tabelle1"});
    const std::vector<std::string> left = {"book.xlsx.save-Ab12Cd", "book.xlsx.save-Ab12Cd.x1Y2z3"};
    const std::vector<std::string> kept = {"book.xlsx.save-notours", "other.xlsx.save-Ab12Cd",
                                           "book.xlsx.save-Ab1-Cd"};
    for (const auto& name : left) dir.Write(name, "partial copy");
    for (const auto& name : kept) dir.Write(name, "someone else's");
    const auto present = [&](const std::string& name) {
        return std::filesystem::exists(dir.file(name));
    };
    {
        // A save of another station runs: its copy may be one of them.
        const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(other, 0);
        ASSERT_EQ(::flock(other, LOCK_SH), 0);
        Workbook::Open(path);
        ::close(other);
        for (const auto& name : left) EXPECT_TRUE(present(name)) << name;
    }
    Workbook::Open(path);
    for (const auto& name : left) EXPECT_FALSE(present(name)) << name;
    for (const auto& name : kept) EXPECT_TRUE(present(name)) << name;
}

// A cell reference with far more letters than a sheet has columns is taken
// for a column past the last one, without overflowing on the way.
TEST_F(WorkbookTest, AnOverlongCellReferenceIsHarmless) {
    const std::string path = dir.file("long.xlsx");
    wb::Make(path, {"Tabelle1"});
    dir.Write("sheet.xml",
              "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/"
              "2006/main\"><sheetData><row r=\"1\"><c r=\"" +
                  std::string(120, 'Z') +
                  "1\"><v>1</v></c><c><v>2</v></c></row><row r=\"2\"><c "
                  "r=\"B2\"><v>7</v></c></row></sheetData></worksheet>");
    wb::PutPart(path, "xl/worksheets/sheet1.xml", dir.file("sheet.xml"));
    auto book = Workbook::Open(path);
    EXPECT_EQ(book->GetCell(0, {1, 1}).kind, CellKind::Empty);
    EXPECT_EQ(book->GetCell(0, {2, 2}).kind, CellKind::Number);
}

// The save cannot be written (here: its folder is gone, as a read-only or
// full disk makes it fail), or the workbook is open in a spreadsheet program:
// the file stays as it was and the changes wait for the next save.
TEST_F(WorkbookTest, AFailedSaveLosesNothing) {
    fs::create_directories(dir.path() / "bench");
    const std::string path = (dir.path() / "bench" / "book.xlsx").string();
    wb::Make(path, {"Tabelle1"});
    auto book = Workbook::Open(path);
    book->SetCellNumber(0, {1, 1}, 1);

    const std::string lock = (dir.path() / "bench" / ".~lock.book.xlsx#").string();
    dir.Write("bench/.~lock.book.xlsx#", "x");
    const auto untouched = wb::EntryHashes(path);
    try {
        book->Save();
        ADD_FAILURE() << "saved under a spreadsheet program's lock";
    } catch (const WorkbookError& error) {
        EXPECT_NE(error.text().find(L".~lock.book.xlsx#"), std::wstring::npos) << error.what();
    }
    EXPECT_EQ(wb::EntryHashes(path), untouched);
    EXPECT_TRUE(book->HasUnsavedChanges());
    fs::remove(lock);

    fs::rename(dir.path() / "bench", dir.path() / "away");
    book->SetCellNumber(0, {2, 1}, 2);
    EXPECT_THROW(book->Save(), WorkbookError);
    EXPECT_TRUE(book->HasUnsavedChanges());
    fs::rename(dir.path() / "away", dir.path() / "bench");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "bench"), {}), 1)
        << "no temporary file left behind";

    book->Save();
    const auto cells = wb::ReadCells(path, "Tabelle1");
    EXPECT_EQ(cells.at("A1"), (wb::Cell{'n', "1"}));
    EXPECT_EQ(cells.at("A2"), (wb::Cell{'n', "2"}));
}

TEST_F(WorkbookTest, KeepsPermissionsAndSeesAnotherWriter) {
    const std::string path = dir.file("book.xlsx");
    wb::Make(path, {"Tabelle1"});
    ::chmod(path.c_str(), 0640);
    auto book = Workbook::Open(path);
    EXPECT_FALSE(book->ChangedOnDisk());
    book->SetCellNumber(0, {1, 1}, 1);
    book->Save();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_FALSE(book->ChangedOnDisk()) << "its own save is not another writer";
    if (::geteuid() == 0) {  // only root can give the file to another owner
        ASSERT_EQ(::chown(path.c_str(), 4321, 4321), 0);
        book->SetCellNumber(0, {1, 1}, 2);
        book->Save();
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 4321u) << "the operator's file stays the operator's";
        EXPECT_EQ(st.st_gid, 4321u);
    }
    wb::Make(path, {"Tabelle1", "Other"});
    EXPECT_TRUE(book->ChangedOnDisk());
}

}  // namespace
}  // namespace karvelo::platform::xlsx
