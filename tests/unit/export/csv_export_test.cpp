#include "export/csv_export.h"

#include <gtest/gtest.h>

#include <ostream>

#include <filesystem>
#include <string>
#include <vector>

#include "export/export_record.h"
#include "export/pending_records.h"
#include "export/record_journal.h"
#include "platform/text_encoding.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "support/export_now.h"
#include "support/fake_window.h"
#include "support/temp_dir.h"

namespace karvelo::exports {
namespace {

using karvelo::testing::FakeWindow;
using karvelo::testing::TempDir;

std::wstring W(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::tm At(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

// The clock the tests set: it gives `g_readings` in turn (the last one again
// once they are used up) and counts how often it is read.
std::vector<std::tm> g_readings;
std::size_t g_reads = 0;
bool g_clockWorks = true;

bool TestClock(std::tm& local) {
    if (!g_clockWorks) return false;
    local = g_readings[std::min(g_reads, g_readings.size() - 1)];
    ++g_reads;
    return true;
}

class CsvExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        std::filesystem::create_directory(dir.path() / "cfg");
        std::filesystem::create_directory(dir.path() / "out");
        g_run.ConfigDir = W(dir.file("cfg") + "/");
        g_run.ExportPath = W(dir.file("out") + "/");
        g_run.CsvFileName = L"data.csv";
        ReloadPendingRecords();
        g_readings = {At(2026, 12, 9, 8, 5, 3)};
        g_reads = 0;
        g_clockWorks = true;
        SetLocalClock(TestClock);
    }
    void TearDown() override {
        SetLocalClock(nullptr);
        CloseJournal();
        ReloadPendingRecords();
    }

    static void SetRecord(const std::wstring& id, const std::wstring& slot1) {
        g_run.TextLast[kIdEntry] = id;
        g_run.TextLast[1] = slot1;
    }
    std::string Out(const std::string& name) const { return dir.Read("out/" + name); }
    // The record of this moment, as the acquisition thread takes it.
    static exports::Record Now() { return CaptureRecord(g_run, StampNow(), NewRecordId()); }

    TempDir dir;
    FakeWindow window;
};

TEST_F(CsvExportTest, FileGetsTheStampOfTheCompletedRecordOnce) {
    g_run.ExportType = ExportKind::CsvMulti;
    g_readings = {At(2026, 12, 9, 8, 5, 3), At(2026, 12, 9, 8, 5, 9)};
    SetRecord(L"P-1", L"1.000");
    const exports::Record record = Now();
    ASSERT_TRUE(CommitRecord(record));
    // The export runs later, but the line has the moment the record was complete.
    ASSERT_TRUE(WriteCsvMulti(record, window));
    ASSERT_TRUE(WriteCsvMulti(Now(), window));
    EXPECT_EQ(Out("data.csv"),
              "P-1;09.12.2026;08:05:03;1.000;;;;;;;;;;\r\n"
              "P-1;09.12.2026;08:05:09;1.000;;;;;;;;;;\r\n");
    EXPECT_EQ(g_reads, 2u);
}

TEST_F(CsvExportTest, JournalThatCannotBeWrittenIsShownWithTheFiles) {
    g_run.ExportType = ExportKind::CsvMulti;
    SetRecord(L"P-2", L"2.000");
    // A folder where the journal's file should be.
    std::filesystem::create_directory(dir.path() / "cfg" / "records.sqlite");
    exports::Record record = Now();
    ASSERT_FALSE(CommitRecord(record));
    ASSERT_TRUE(WriteCsvMulti(record, window));
    EXPECT_NE(window.exportProblem.find(L"1 record kept"), std::wstring::npos)
        << platform::WideToUtf8(window.exportProblem);

    // Both told when the file cannot be written either.
    g_run.CsvFileName = L"no-such-folder/data.csv";
    record = Now();
    ASSERT_FALSE(CommitRecord(record));
    // Kept in the CSV spool: safe, though not in the file.
    ASSERT_TRUE(WriteCsvMulti(record, window));
    EXPECT_NE(window.exportProblem.find(L"record journal"), std::wstring::npos);
    EXPECT_NE(window.exportProblem.find(L"no-such-folder"), std::wstring::npos);

    g_run.CsvFileName = L"data.csv";
    std::filesystem::remove(dir.path() / "cfg" / "records.sqlite");
    record = Now();
    ASSERT_TRUE(CommitRecord(record));
    ASSERT_TRUE(WriteCsvMulti(record, window));
    // What still shows is the line kept for the other file, no longer the journal.
    EXPECT_EQ(window.exportProblem.find(L"journal"), std::wstring::npos)
        << platform::WideToUtf8(window.exportProblem);
    EXPECT_NE(window.exportProblem.find(L"1 record waiting"), std::wstring::npos);
}

TEST_F(CsvExportTest, RecordLineHasThirteenSeparatorsAndCrLf) {
    g_run.ExportType = ExportKind::CsvMulti;
    SetRecord(L"P-17", L"12.345");
    ASSERT_TRUE(WriteCsvMulti(Now(), window));
    EXPECT_EQ(Out("data.csv"), "P-17;09.12.2026;08:05:03;12.345;;;;;;;;;;\r\n");
}

// A failed reading is no measurement: its field stays empty, while a zeroed
// gauge's valid 0.000 and a text slot's text are written as they are.
TEST_F(CsvExportTest, MeasuringSlotsWriteOnlyValidReadings) {
    struct Slot {
        int type;
        const wchar_t* text;
        bool ready;
        bool error;
    };
    const Slot slots[] = {
        {0, L"Lot 5", false, false},   // text slot
        {1, L"0.000", true, false},    // a zeroed gauge
        {1, L"0.000", true, true},     // "com error"
        {1, L"0.000", false, false},   // nothing read
        {26, L"12.345", true, false},  // a channel of a list instrument
        {7, L"0.000", false, false},   // a free code
    };
    for (int s = 1; s <= 6; ++s) {
        const Slot& slot = slots[s - 1];
        g_run.DeviceType[s] = slot.type;
        g_run.TextLast[s] = slot.text;
        g_run.ValueReady[s] = slot.ready;
        g_run.ValueError[s] = slot.error;
    }
    g_run.DeviceCount = 6;
    g_run.TextLast[kIdEntry] = L"P-17";
    const exports::Record record = Now();
    EXPECT_EQ(CsvLineOf(record), "P-17;09.12.2026;08:05:03;Lot 5;0.000;;;12.345;;;;;;\r\n");
    EXPECT_EQ(g_run.TextLast[3].str(), L"0.000")
        << "the screen and the saved text stay as they are";
}

struct LineCase {
    const char* name;
    std::wstring id;
    std::wstring slot1;
    std::wstring slot10;
    std::string expected;
};

// Test listings name the case, not its bytes.
void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class RecordLineTest : public CsvExportTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(RecordLineTest, Line) {
    const LineCase& c = GetParam();
    SetRecord(c.id, c.slot1);
    g_run.TextLast[10] = c.slot10;
    // Slot texts of a plain record (no device in use) are written as they are.
    g_run.DeviceType[1] = 0;
    g_run.DeviceType[10] = 0;
    EXPECT_EQ(CsvLineOf(Now()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordLineTest,
    ::testing::Values(LineCase{"EmptyIdStartsWithSeparator", L"", L"1.0", L"",
                               ";09.12.2026;08:05:03;1.0;;;;;;;;;;\r\n"},
                      LineCase{"SeparatorInsideTextUnchanged", L"a;b", L"x", L"z",
                               "a;b;09.12.2026;08:05:03;x;;;;;;;;;z;\r\n"},
                      LineCase{"Latin1ByteAndQuestionMarkBeyond", L"\u00d8l", L"\u20ac5",
                               L"\U0001F600", "\xd8l;09.12.2026;08:05:03;?5;;;;;;;;;?;\r\n"},
                      LineCase{"LineEndOfAListFieldStaysOutOfTheLine", L"Lot 5\n", L"A-3\r\n",
                               L"\n", "Lot 5;09.12.2026;08:05:03;A-3;;;;;;;;;;\r\n"}),
    [](const auto& p) { return std::string(p.param.name); });

struct StampCase {
    const char* name;
    std::vector<std::tm> readings;
    const wchar_t* date;
    const wchar_t* time;
};

// Test listings name the case, not its bytes.
void PrintTo(const StampCase& c, std::ostream* os) {
    *os << c.name;
}

class StampTest : public CsvExportTest, public ::testing::WithParamInterface<StampCase> {};

TEST_P(StampTest, DateAndTimeFromOneReading) {
    g_readings = GetParam().readings;
    const RecordStamp stamp = StampNow();
    EXPECT_EQ(stamp.date, GetParam().date);
    EXPECT_EQ(stamp.time, GetParam().time);
    EXPECT_EQ(g_reads, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StampTest,
    ::testing::Values(StampCase{"Padded", {At(2027, 2, 1, 3, 4, 5)}, L"01.02.2027", L"03:04:05"},
                      StampCase{"Midnight",
                                {At(2026, 12, 31, 23, 59, 59), At(2027, 1, 1, 0, 0, 0)},
                                L"31.12.2026",
                                L"23:59:59"},
                      StampCase{
                          "LateEvening", {At(2026, 10, 28, 23, 0, 0)}, L"28.10.2026", L"23:00:00"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(CsvExportTest, WithoutLocalTimeTheRecordIsWrittenUndated) {
    g_clockWorks = false;
    g_run.ExportType = ExportKind::CsvSingle;
    SetRecord(L"P-17", L"1");
    ASSERT_TRUE(WriteCsvSingle(Now(), window));
    EXPECT_EQ(Out("data.csv"), "P-17;;;1;;;;;;;;;;\r\n");
}

struct IdNameCase {
    std::wstring id;
    std::wstring file;
};

void PrintTo(const IdNameCase& c, std::ostream* os) {
    *os << karvelo::platform::WideToUtf8(c.id);
}

class IdFileNameTest : public ::testing::TestWithParam<IdNameCase> {};

TEST_P(IdFileNameTest, Name) {
    EXPECT_EQ(IdFileName(GetParam().id), GetParam().file);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IdFileNameTest,
    ::testing::Values(IdNameCase{L"AB 12/3", L"AB_12_3.csv"}, IdNameCase{L"", L"ID.csv"},
                      IdNameCase{L"Lot.7-a", L"Lot.7-a.csv"},
                      IdNameCase{L"../etc\\x", L".._etc_x.csv"},
                      IdNameCase{L"M\u00fcller", L"M_ller.csv"},
                      IdNameCase{std::wstring(300, L'a'), std::wstring(254, L'a') + L".csv"}));

// Three records through the export dispatch, by export type. A type that
// writes no file says so for every record, in the window and on standard error.
struct TypeCase {
    int type;
    const char* file;                  // nullptr: no file is written
    const char* expected;              // the file's contents after the three records
    const char* notWritten = nullptr;  // what the operator is told, for a type that writes nothing
};

// Test listings name the case, not its bytes.
void PrintTo(const TypeCase& c, std::ostream* os) {
    *os << "type " << c.type;
}

class ExportTypeTest : public CsvExportTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(ExportTypeTest, ThreeRecords) {
    const TypeCase& c = GetParam();
    g_run.ExportType = static_cast<ExportKind>(c.type);
    window.texts[kFileNameField] = L"AB_12_3.csv";
    ::testing::internal::CaptureStderr();
    for (const wchar_t* value : {L"1", L"2", L"3"}) {
        SetRecord(L"AB 12/3", value);
        karvelo::testing::ExportNow(window);
    }
    const std::string stderrText = ::testing::internal::GetCapturedStderr();
    if (c.file == nullptr) {
        EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "out"));
    } else {
        EXPECT_EQ(Out(c.file), c.expected);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / "out"), {}), 1);
    }
    if (c.notWritten == nullptr) {
        EXPECT_EQ(window.exportProblem, L"");
        EXPECT_EQ(stderrText, "");
    } else {
        EXPECT_EQ(window.exportProblem, W(c.notWritten));
        const std::string line = std::string("karvelo: ") + c.notWritten + "\n";
        EXPECT_EQ(stderrText, line + line + line) << "once for every record";
    }
}

constexpr const char* kThree =
    "AB 12/3;09.12.2026;08:05:03;1;;;;;;;;;;\r\n"
    "AB 12/3;09.12.2026;08:05:03;2;;;;;;;;;;\r\n"
    "AB 12/3;09.12.2026;08:05:03;3;;;;;;;;;;\r\n";
constexpr const char* kLast = "AB 12/3;09.12.2026;08:05:03;3;;;;;;;;;;\r\n";
// Without a workbook link (the window holds one) the workbook types write nothing.
constexpr const char* kWorkbookMissing =
    "The workbook export (\"EXCEL-cells\") is not available here: this record is not written.";

INSTANTIATE_TEST_SUITE_P(
    Cases, ExportTypeTest,
    ::testing::Values(TypeCase{0, nullptr, nullptr}, TypeCase{1, "data.csv", kLast},
                      TypeCase{2, "data.csv", kThree}, TypeCase{3, "AB_12_3.csv", kLast},
                      TypeCase{4, "AB_12_3.csv", kThree},
                      TypeCase{5, nullptr, nullptr, kWorkbookMissing},
                      TypeCase{6, nullptr, nullptr, kWorkbookMissing},
                      TypeCase{7, nullptr, nullptr,
                               "Export type 7 is not known (key exporttype): this record is not "
                               "written."}));

// The window hears of every record that reached its file, with the record's
// time and the file's full path, and of no other.
TEST_F(CsvExportTest, WrittenRecordsAreReportedWithTheirFile) {
    struct Case {
        const char* what;
        ExportKind type;
        const char* exportPath;  // below the test folder; relative ones below cfg/
        const char* csvFileName;
        bool clockWorks;
        const char* expectedFile;  // below the test folder; nullptr: nothing reported
        const wchar_t* expectedTime;
    };
    const Case cases[] = {
        {"single", ExportKind::CsvSingle, "out/", "data.csv", true, "out/data.csv", L"08:05:03"},
        {"multi", ExportKind::CsvMulti, "out/", "data.csv", true, "out/data.csv", L"08:05:03"},
        {"ID single", ExportKind::IdCsvSingle, "out/", "", true, "out/P-17.csv", L"08:05:03"},
        {"ID multi", ExportKind::IdCsvMulti, "out/", "", true, "out/P-17.csv", L"08:05:03"},
        {"relative folder", ExportKind::CsvMulti, "rel/", "data.csv", true, "cfg/rel/data.csv",
         L"08:05:03"},
        {"without local time", ExportKind::CsvSingle, "out/", "data.csv", false, "out/data.csv",
         L""},
        {"single, missing folder", ExportKind::CsvSingle, "out/missing/", "data.csv", true, nullptr,
         nullptr},
        {"multi, missing folder", ExportKind::CsvMulti, "out/missing/", "data.csv", true, nullptr,
         nullptr},
        {"multi, no file chosen", ExportKind::CsvMulti, "out/", "", true, nullptr, nullptr},
    };
    std::filesystem::create_directory(dir.path() / "cfg" / "rel");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReloadPendingRecords();
        FakeWindow fresh;
        fresh.texts[kFileNameField] = L"P-17.csv";
        g_run.ExportType = c.type;
        const std::string folder = c.exportPath;
        g_run.ExportPath = folder.rfind("rel/", 0) == 0 ? W(folder) : W(dir.file(folder));
        g_run.CsvFileName = W(c.csvFileName);
        g_clockWorks = c.clockWorks;
        SetRecord(L"P-17", L"1.5");
        ::testing::internal::CaptureStderr();
        karvelo::testing::ExportNow(fresh);
        ::testing::internal::GetCapturedStderr();
        if (c.expectedFile == nullptr) {
            EXPECT_TRUE(fresh.recordsWritten.empty());
            EXPECT_NE(fresh.exportProblem, L"");
            continue;
        }
        ASSERT_EQ(fresh.recordsWritten.size(), 1u);
        EXPECT_EQ(fresh.recordsWritten[0].where, W(dir.file(c.expectedFile)));
        EXPECT_EQ(fresh.recordsWritten[0].when, c.expectedTime);
        EXPECT_TRUE(std::filesystem::exists(dir.path() / c.expectedFile));
    }
}

TEST_F(CsvExportTest, SingleReplacesAnExistingFileAndMultiAppendsToIt) {
    dir.Write("out/single.csv", "an older and much longer line\r\n");
    dir.Write("out/multi.csv", "kept\r\n");
    SetRecord(L"X", L"1");
    g_run.ExportType = ExportKind::CsvSingle;
    g_run.CsvFileName = L"single.csv";
    karvelo::testing::ExportNow(window);
    g_run.ExportType = ExportKind::CsvMulti;
    g_run.CsvFileName = L"multi.csv";
    karvelo::testing::ExportNow(window);
    EXPECT_EQ(Out("single.csv"), "X;09.12.2026;08:05:03;1;;;;;;;;;;\r\n");
    EXPECT_EQ(Out("multi.csv"), "kept\r\nX;09.12.2026;08:05:03;1;;;;;;;;;;\r\n");
}

TEST_F(CsvExportTest, IdFileNameFieldIsReadAtMost254Characters) {
    g_run.ExportType = ExportKind::IdCsvMulti;
    window.texts[kFileNameField] = std::wstring(254, L'n') + L"-tail";
    EXPECT_EQ(CsvTargetPath(window), g_run.ExportPath.str() + std::wstring(254, L'n'));
}

}  // namespace
}  // namespace karvelo::exports
