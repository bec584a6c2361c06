#include "export/text_sources.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <sys/file.h>
#include <unistd.h>
#include <ostream>

#include <filesystem>
#include <optional>
#include <string>

#include "export/csv_export.h"
#include "export/record.h"
#include "export/text_source_file.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "state/window_port.h"
#include "support/fake_window.h"
#include "support/temp_dir.h"

namespace karvelo::exports {
namespace {

using karvelo::testing::FakeWindow;
using karvelo::testing::TempDir;

std::wstring W(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

struct SplitCase {
    const char* name;
    std::wstring line;
    int field;
    std::wstring expected;
};

// Test listings name the case, not its bytes.
void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.name;
}

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, Field) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(SplitTextLine(c.line)[static_cast<std::size_t>(c.field)], c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitTest,
    ::testing::Values(
        SplitCase{"Second", L"4711;Lot 5;A-3;\n", 2, L"Lot 5"},
        SplitCase{"Third", L"4711;Lot 5;A-3;\n", 3, L"A-3"},
        SplitCase{"LineEndIsTheFourth", L"4711;Lot 5;A-3;\n", 4, L"\n"},
        SplitCase{"FifthIsEmpty", L"4711;Lot 5;A-3;\n", 5, L""},
        SplitCase{"LineEndStaysWithTheLast", L"4711;Lot 5;A-3\n", 3, L"A-3\n"},
        SplitCase{"NoLineEnd", L"4711;Lot 5", 2, L"Lot 5"},
        SplitCase{"EmptyBetweenSeparators", L"a;;c", 2, L""},
        SplitCase{"TenthEndsAtTheTenthSeparator", L"1;2;3;4;5;6;7;8;9;10;11;12", 10, L"10"},
        SplitCase{"CutAt255", std::wstring(300, L'x') + L";y", 1, std::wstring(255, L'x')},
        SplitCase{"NextFieldAfterALongOne", std::wstring(300, L'x') + L";y", 2, L"y"}),
    [](const auto& p) { return std::string(p.param.name); });

class TextSourceTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetRunState(); }

    // Entry e reads field n of the file "list.csv".
    void UseFile(int entry, int n) {
        g_run.TextSource[entry] = n;
        g_run.TextPath[entry] = W(dir.path().string() + "/");
        g_run.TextFile[entry] = L"list.csv";
    }

    TempDir dir;
    FakeWindow window;
};

// What the ID reader makes of a list file's contents.
struct IdCase {
    const char* name;
    std::string file;  // the list file's bytes
    int source;
    std::wstring text;                  // TextLast[0] afterwards
    std::optional<std::wstring> field;  // the ID field afterwards; nullopt: not set
};

// Test listings name the case, not its bytes.
void PrintTo(const IdCase& c, std::ostream* os) {
    *os << c.name;
}

class IdFromFileTest : public TextSourceTest, public ::testing::WithParamInterface<IdCase> {};

TEST_P(IdFromFileTest, Reads) {
    const IdCase& c = GetParam();
    dir.Write("list.csv", c.file);
    UseFile(kIdEntry, c.source);
    ReadIdText(window);
    EXPECT_EQ(g_run.TextLast[kIdEntry].str(), c.text);
    if (c.field) {
        EXPECT_EQ(window.texts[kIdField], *c.field);
    } else {
        EXPECT_EQ(window.texts.count(kIdField), 0u);
    }
    EXPECT_TRUE(g_run.ValueReady[kIdEntry]);
    EXPECT_FALSE(g_run.ValueError[kIdEntry]);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IdFromFileTest,
    ::testing::Values(
        IdCase{"Second", "4711;Lot 5;A-3;\n", 2, L"Lot 5", L"Lot 5"},
        IdCase{"CrLfReadsAsLf", "4711;Lot 5;A-3\r\n", 3, L"A-3\n", L"A-3\n"},
        IdCase{"OnlyTheLineEndIsTakenNotShown", "4711;Lot 5;A-3;\r\n", 4, L"\n", std::nullopt},
        IdCase{"OneCharacterIsTakenNotShown", "7;Lot 5\n", 1, L"7", std::nullopt},
        IdCase{"FewerFieldsGiveEmpty", "4711;Lot 5;A-3;\n", 5, L"", std::nullopt},
        IdCase{"OnlyTheFirstLine", "first;x\nsecond;y\n", 1, L"first", L"first"},
        IdCase{"Latin1", "M\xfcller;x\n", 1, L"M\u00fcller", L"M\u00fcller"},
        IdCase{"EndsAtNul", std::string("ab\0cd;x\n", 8), 1, L"ab", L"ab"},
        // Nine fields of 120 characters: the line is read up to its 1022nd
        // character, which leaves 54 of the ninth.
        IdCase{"LineReadUpTo1022Characters",
               std::string(120, 'a') + ";" + std::string(120, 'b') + ";" + std::string(120, 'c') +
                   ";" + std::string(120, 'd') + ";" + std::string(120, 'e') + ";" +
                   std::string(120, 'f') + ";" + std::string(120, 'g') + ";" +
                   std::string(120, 'h') + ";" + std::string(120, 'i') + ";\n",
               9, std::wstring(54, L'i'), std::wstring(54, L'i')}),
    [](const auto& p) { return std::string(p.param.name); });

// A file that gives no line changes nothing: not the text, its field, the
// flags or the ID file name.
struct UnreadableCase {
    const char* name;
    void (*prepare)(const TempDir& dir);
};

// Test listings name the case, not its bytes.
void PrintTo(const UnreadableCase& c, std::ostream* os) {
    *os << c.name;
}

class UnreadableTest : public TextSourceTest,
                       public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(UnreadableTest, IdAndSlotStayAsTheyWere) {
    GetParam().prepare(dir);
    g_run.ExportType = ExportKind::IdCsvSingle;
    window.texts[kIdField] = L"old id";
    window.texts[kFileNameField] = L"old.csv";
    g_run.TextLast[kIdEntry] = L"old id";
    g_run.TextLast[2] = L"old text";
    UseFile(kIdEntry, 1);
    UseFile(2, 1);

    ReadIdText(window);
    EXPECT_FALSE(ReadSlotText(2, window));

    EXPECT_EQ(g_run.TextLast[kIdEntry].str(), L"old id");
    EXPECT_EQ(window.texts[kIdField], L"old id");
    EXPECT_EQ(window.texts[kFileNameField], L"old.csv");
    EXPECT_FALSE(g_run.ValueReady[kIdEntry]);
    EXPECT_EQ(g_run.TextLast[2].str(), L"old text");
    EXPECT_FALSE(g_run.ValueReady[2]);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnreadableTest,
    ::testing::Values(UnreadableCase{"Missing", [](const TempDir&) {}},
                      UnreadableCase{"Empty", [](const TempDir& d) { d.Write("list.csv", ""); }},
                      UnreadableCase{"Folder",
                                     [](const TempDir& d) {
                                         std::filesystem::create_directory(d.path() / "list.csv");
                                     }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(TextSourceTest, FileLockedByItsWriterIsStillRead) {
    dir.Write("list.csv", "4711;Lot 5;\n");
    const int writer = ::open(dir.file("list.csv").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    UseFile(kIdEntry, 2);
    ReadIdText(window);
    ::close(writer);
    EXPECT_EQ(g_run.TextLast[kIdEntry].str(), L"Lot 5");
}

TEST_F(TextSourceTest, KeyboardTakesTheIdFieldAndRefreshesTheFileName) {
    g_run.TextSource[kIdEntry] = 0;
    g_run.ExportType = ExportKind::IdCsvMulti;
    window.texts[kIdField] = L"AB 12/3" + std::wstring(300, L'x');
    ReadIdText(window);
    EXPECT_EQ(g_run.TextLast[kIdEntry].str(),
              (L"AB 12/3" + std::wstring(300, L'x')).substr(0, 254));
    EXPECT_EQ(window.texts[kFileNameField], IdFileName(window.texts[kIdField]));
    EXPECT_EQ(window.texts[kFileNameField].substr(0, 8), L"AB_12_3x");
    EXPECT_TRUE(g_run.ValueReady[kIdEntry]);
}

// An ID from a list file that holds a NUL is the text before it, and the file
// the window names is the one the record goes to.
TEST_F(TextSourceTest, IdBeforeANulNamesTheFileTheRecordGoesTo) {
    g_run.ExportType = ExportKind::IdCsvMulti;
    g_run.ExportPath = W(dir.path().string() + "/");
    window.texts[kIdField] = L"";
    dir.Write("list.csv", std::string("A\0B-7;x\n", 8));
    UseFile(kIdEntry, 1);
    ReadIdText(window);
    EXPECT_EQ(g_run.TextLast[kIdEntry].str(), L"A");
    EXPECT_EQ(window.texts[kFileNameField], L"A.csv");
    EXPECT_EQ(RecordTargetPath(g_run, g_run.ExportType, g_run.TextLast[kIdEntry].str()),
              W(dir.path().string() + "/A.csv"));
}

TEST_F(TextSourceTest, FileNameFieldFollowsOnlyForIdExportTypes) {
    g_run.ExportType = ExportKind::CsvMulti;
    window.texts[kIdField] = L"P-17";
    ReadIdText(window);
    EXPECT_EQ(window.texts.count(kFileNameField), 0u);
}

TEST_F(TextSourceTest, IdSourceAboveNineGivesAnEmptyText) {
    dir.Write("list.csv", "1;2;3;4;5;6;7;8;9;10;\n");
    UseFile(kIdEntry, 10);
    g_run.TextLast[kIdEntry] = L"old";
    ReadIdText(window);
    EXPECT_EQ(g_run.TextLast[kIdEntry].str(), L"");
    EXPECT_TRUE(g_run.ValueReady[kIdEntry]);
}

struct SlotCase {
    const char* name;
    int source;
    std::wstring text;                  // TextLast[3] afterwards
    std::optional<std::wstring> field;  // slot 3's text field afterwards
};

// Test listings name the case, not its bytes.
void PrintTo(const SlotCase& c, std::ostream* os) {
    *os << c.name;
}

class SlotTextTest : public TextSourceTest, public ::testing::WithParamInterface<SlotCase> {};

TEST_P(SlotTextTest, Reads) {
    const SlotCase& c = GetParam();
    dir.Write("list.csv", "1;22;3;4;5;6;7;8;9;tenth;eleventh\n");
    UseFile(3, c.source);
    g_run.TextLast[3] = L"old";
    EXPECT_TRUE(ReadSlotText(3, window));
    EXPECT_EQ(g_run.TextLast[3].str(), c.text);
    const int fieldId = kSlotTextFirst + 2;
    if (c.field) {
        EXPECT_EQ(window.texts[fieldId], *c.field);
    } else {
        EXPECT_EQ(window.texts.count(fieldId), 0u);
    }
    EXPECT_TRUE(g_run.ValueReady[3]);
    EXPECT_FALSE(g_run.ValueError[3]);
}

INSTANTIATE_TEST_SUITE_P(Cases, SlotTextTest,
                         ::testing::Values(SlotCase{"Second", 2, L"22", L"22"},
                                           SlotCase{"OneCharacterNotShown", 1, L"1", std::nullopt},
                                           SlotCase{"TenthOnlyForSlots", 10, L"tenth", L"tenth"},
                                           SlotCase{"SourceBeyondTenLeavesTheText", 11, L"old",
                                                    std::nullopt}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace karvelo::exports
