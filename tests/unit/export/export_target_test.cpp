// Where records go and what happens when they cannot: the file a path names,
// a CSV export without a file name, lines kept for a file that cannot be
// written, and the sync after each record. Real files and folders.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "export/csv_export.h"
#include "export/export_record.h"
#include "export/pending_records.h"
#include "platform/text_encoding.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "support/export_now.h"
#include "support/fake_window.h"
#include "support/noon_clock.h"
#include "support/temp_dir.h"

namespace karvelo::exports {
namespace {

using karvelo::testing::FakeWindow;
using karvelo::testing::NoonClock;
using karvelo::testing::NoonLine;

using karvelo::testing::TempDir;
namespace fs = std::filesystem;

std::wstring W(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (e.is_regular_file()) names.push_back(fs::relative(e.path(), folder).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

// The station's folders: the configuration folder cfg/ (beside the program),
// an export folder out/, and the folder the station was started from, cwd/,
// which is the working directory while a test runs.
class ExportTargetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        for (const char* folder : {"cfg", "out", "cwd"}) fs::create_directory(dir.path() / folder);
        g_run.ConfigDir = W(cfg() + "/");
        g_run.ExportPath = W(dir.file("out") + "/");
        g_run.CsvFileName = L"data.csv";
        g_run.ExportType = ExportKind::CsvMulti;
        ReloadPendingRecords();
        SetLocalClock(NoonClock);
        startFolder_ = fs::current_path();
        fs::current_path(dir.path() / "cwd");
    }
    void TearDown() override {
        fs::current_path(startFolder_);
        SetLocalClock(nullptr);
        SetDataSync(nullptr);
        ReloadPendingRecords();
    }

    std::string cfg() const { return dir.file("cfg"); }
    std::vector<std::string> SpoolFiles() const {
        std::vector<std::string> spools;
        for (const auto& e : fs::directory_iterator(cfg())) {
            if (e.path().extension() == ".spool") spools.push_back(e.path().filename().string());
        }
        return spools;
    }
    void Export(const std::string& id) {
        g_run.TextLast[kIdEntry] = W(id);
        karvelo::testing::ExportNow(window);
    }
    // Exports and returns what went to standard error.
    std::string ExportQuoting(const std::string& id) {
        ::testing::internal::CaptureStderr();
        Export(id);
        return ::testing::internal::GetCapturedStderr();
    }

    TempDir dir;
    FakeWindow window;

  private:
    fs::path startFolder_;
};

// ---- which file a record goes to --------------------------------------------

struct PathCase {
    const char* name;
    int type;
    const wchar_t* exportPath;
    const wchar_t* fileName;  // CsvFileName, the file-name field or XlsFileName, by type
    const char* expected;     // "@" stands for the configuration folder; "" for no file
};

void PrintTo(const PathCase& c, std::ostream* os) {
    *os << c.name;
}

class ExportFilePathTest : public ExportTargetTest,
                           public ::testing::WithParamInterface<PathCase> {};

TEST_P(ExportFilePathTest, FullPath) {
    const PathCase& c = GetParam();
    g_run.ExportType = static_cast<ExportKind>(c.type);
    g_run.ExportPath = c.exportPath;
    g_run.CsvFileName = c.fileName;
    g_run.XlsFileName = c.fileName;
    std::string expected = c.expected;
    if (expected.starts_with('@')) expected = cfg() + "/" + expected.substr(1);
    EXPECT_EQ(ExportFilePath(c.fileName), W(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExportFilePathTest,
    ::testing::Values(
        PathCase{"EmptyFolderIsTheConfigurationFolder", 2, L"", L"data.csv", "@data.csv"},
        PathCase{"RelativeFolderIsUnderTheConfigurationFolder", 1, L"runs/", L"data.csv",
                 "@runs/data.csv"},
        PathCase{"FullFolderStaysAsItIs", 2, L"/srv/q/", L"data.csv", "/srv/q/data.csv"},
        PathCase{"FolderWithoutFileNameNamesNoFile", 2, L"/srv/q/", L"", ""},
        PathCase{"NothingChosenNamesNoFile", 1, L"", L"", ""},
        PathCase{"IdFileInTheChosenFolder", 4, L"/srv/q/", L"AB_12_3.csv", "/srv/q/AB_12_3.csv"},
        // A field that shows the folder as well never doubles it.
        PathCase{"IdFieldWithItsFolder", 3, L"/srv/q/", L"/srv/q/ID.csv", "/srv/q/ID.csv"},
        PathCase{"IdFileWithoutFolder", 4, L"", L"ID.csv", "@ID.csv"},
        PathCase{"WorkbookBesideTheConfiguration", 5, L"", L"book.xlsx", "@book.xlsx"},
        PathCase{"NoExportNoFile", 0, L"/srv/q/", L"data.csv", ""}),
    [](const auto& p) { return std::string(p.param.name); });

// A relative export folder is the configuration folder's, whatever folder the
// station was started from.
struct RelativeCase {
    const char* name;
    int type;
    const wchar_t* exportPath;
    const char* file;  // under cfg/
};

void PrintTo(const RelativeCase& c, std::ostream* os) {
    *os << c.name;
}

class RelativeFolderTest : public ExportTargetTest,
                           public ::testing::WithParamInterface<RelativeCase> {};

TEST_P(RelativeFolderTest, RecordGoesBesideTheConfiguration) {
    const RelativeCase& c = GetParam();
    fs::create_directory(dir.path() / "cfg" / "runs");
    fs::create_directory(dir.path() / "cwd" / "runs");
    g_run.ExportType = static_cast<ExportKind>(c.type);
    g_run.ExportPath = c.exportPath;
    window.texts[kFileNameField] = L"Lot-4.csv";
    Export("Lot-4");
    EXPECT_EQ(dir.Read(std::string("cfg/") + c.file), NoonLine("Lot-4"));
    EXPECT_TRUE(FilesIn(dir.path() / "cwd").empty());
    EXPECT_EQ(window.exportProblem, L"");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RelativeFolderTest,
    ::testing::Values(RelativeCase{"EmptySingle", 1, L"", "data.csv"},
                      RelativeCase{"EmptyMulti", 2, L"", "data.csv"},
                      RelativeCase{"RelativeMulti", 2, L"runs/", "runs/data.csv"},
                      RelativeCase{"EmptyIdSingle", 3, L"", "Lot-4.csv"},
                      RelativeCase{"RelativeIdMulti", 4, L"runs/", "runs/Lot-4.csv"}),
    [](const auto& p) { return std::string(p.param.name); });

// ---- a CSV export without a file name --------------------------------------

struct NoFileCase {
    const char* name;
    int type;
    const wchar_t* exportPath;
    int kept;  // records kept after two
    const char* told;
};

void PrintTo(const NoFileCase& c, std::ostream* os) {
    *os << c.name;
}

class NoFileTest : public ExportTargetTest, public ::testing::WithParamInterface<NoFileCase> {};

TEST_P(NoFileTest, OperatorIsToldAndCollectedLinesAreKept) {
    const NoFileCase& c = GetParam();
    g_run.ExportType = static_cast<ExportKind>(c.type);
    g_run.ExportPath = c.exportPath;
    g_run.CsvFileName = L"";
    ExportQuoting("A");
    const std::string quoted = ExportQuoting("B");

    EXPECT_EQ(quoted, std::string("karvelo: ") + c.told + "\n");
    EXPECT_TRUE(window.exportProblem.starts_with(W(c.told))) << "the window says the same";
    const PendingLines* kept = PendingRecords().Find(kUnnamedTarget);
    EXPECT_EQ(kept == nullptr ? 0 : kept->Records(), c.kept);
    EXPECT_EQ(SpoolFiles().size(), c.kept > 0 ? 1u : 0u);
    // No file anywhere but the spool: not in the working folder, not beside
    // the configuration, not in the export folder.
    EXPECT_TRUE(FilesIn(dir.path() / "cwd").empty());
    EXPECT_TRUE(FilesIn(dir.path() / "out").empty());
    EXPECT_EQ(FilesIn(dir.path() / "cfg").size(), SpoolFiles().size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoFileTest,
    ::testing::Values(NoFileCase{"MultiWithoutFolder", 2, L"", 2,
                                 "No CSV file chosen (choose one with \">>\"): 2 records kept, to "
                                 "be written to the file chosen next with \">>\"."},
                      NoFileCase{"MultiWithFolder", 2, L"/srv/q/", 2,
                                 "No CSV file chosen (choose one with \">>\"): 2 records kept, to "
                                 "be written to the file chosen next with \">>\"."},
                      NoFileCase{"SingleKeepsNothing", 1, L"", 0,
                                 "No CSV file chosen (choose one with \">>\"): this record is not "
                                 "written."}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ExportTargetTest, LinesKeptWithoutAFileGoToTheFileChosenNextOnce) {
    g_run.CsvFileName = L"";
    Export("A");
    Export("B");
    ReloadPendingRecords();  // a restart in between: only the spool is left

    // An ID-named file is not "the file chosen next": its name comes from the ID.
    g_run.ExportType = ExportKind::IdCsvMulti;
    window.texts[kFileNameField] = L"C.csv";
    Export("C");
    EXPECT_EQ(dir.Read("out/C.csv"), NoonLine("C"));
    EXPECT_TRUE(Contains(window.exportProblem, L"2 records waiting for a CSV file to be chosen"))
        << platform::WideToUtf8(window.exportProblem);

    g_run.ExportType = ExportKind::CsvMulti;
    g_run.CsvFileName = L"data.csv";
    dir.Write("out/data.csv", "X\r\n");
    Export("D");
    EXPECT_EQ(dir.Read("out/data.csv"), "X\r\n" + NoonLine("A") + NoonLine("B") + NoonLine("D"));
    EXPECT_EQ(window.exportProblem, L"");
    EXPECT_TRUE(SpoolFiles().empty());

    Export("E");
    EXPECT_EQ(dir.Read("out/data.csv"),
              "X\r\n" + NoonLine("A") + NoonLine("B") + NoonLine("D") + NoonLine("E"));
}

TEST_F(ExportTargetTest, LinesKeptWithoutAFileWaitForTheChosenFilesOwnKeptLines) {
    g_run.ExportPath = W(dir.file("out/missing") + "/");
    Export("A");  // kept for out/missing/data.csv
    g_run.CsvFileName = L"";
    Export("B");  // kept for the file chosen next
    g_run.CsvFileName = L"data.csv";
    fs::create_directory(dir.path() / "out" / "missing");
    Export("C");
    EXPECT_EQ(dir.Read("out/missing/data.csv"), NoonLine("A") + NoonLine("B") + NoonLine("C"));
    EXPECT_TRUE(SpoolFiles().empty());
    EXPECT_EQ(window.exportProblem, L"");
}

// A hand-over of kept lines that stopped halfway leaves their spool under the
// old name with the new file in it: the next run takes it in once.
TEST_F(ExportTargetTest, SpoolLeftHalfwayByAHandOverIsTakenInOnce) {
    std::string oldSpool;
    {
        PendingStore earlierRun(cfg() + "/");
        PendingLines lines;
        lines.bytes = NoonLine("A");
        ASSERT_TRUE(earlierRun.Keep(kUnnamedTarget, lines));
        oldSpool = earlierRun.SpoolPath(kUnnamedTarget);
    }
    const std::string target = dir.file("out/data.csv");
    std::ofstream(oldSpool, std::ios::binary | std::ios::trunc)
        << "karvelo pending records\ntarget " << target << "\ncheck -1 0\n"
        << NoonLine("A");
    ReloadPendingRecords();
    EXPECT_EQ(PendingRecords().Find(kUnnamedTarget), nullptr);
    Export("B");
    EXPECT_EQ(dir.Read("out/data.csv"), NoonLine("A") + NoonLine("B"));
    EXPECT_TRUE(SpoolFiles().empty());
}

// ---- kept lines never wait unseen -------------------------------------------

TEST_F(ExportTargetTest, LinesKeptForAFileThatCannotBeWrittenAreReportedAtStart) {
    // A file in a folder that does not exist, as a folder put in front of a
    // full path twice would give.
    const std::string astray = dir.file("out") + dir.file("out") + "/ID.csv";
    std::string spool;
    {
        PendingStore earlierRun(cfg() + "/");
        PendingLines lines;
        lines.bytes = NoonLine("A") + NoonLine("B");
        ASSERT_TRUE(earlierRun.Keep(astray, lines));
        spool = earlierRun.SpoolPath(astray);
    }
    ReloadPendingRecords();

    ::testing::internal::CaptureStderr();
    ReportPendingRecords(window);
    const std::string quoted = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(quoted, "karvelo: 2 records waiting for " + astray +
                          " (No such file or directory); kept in " + spool + "\n");
    EXPECT_TRUE(Contains(window.exportProblem, L"2 records waiting for " + W(astray)));

    // Still shown after records that do reach their file.
    Export("C");
    EXPECT_EQ(dir.Read("out/data.csv"), NoonLine("C"));
    EXPECT_TRUE(Contains(window.exportProblem, L"2 records waiting for " + W(astray)));
}

// ---- the sync after each record ----------------------------------------------

std::vector<std::string> g_synced;  // the file behind each sync, in order
bool g_syncFails = false;

int RecordingSync(int fd) {
    char path[4096] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
    g_synced.push_back(n > 0 ? std::string(path, static_cast<std::size_t>(n)) : "?");
    if (g_syncFails) {
        errno = EIO;
        return -1;
    }
    return ::fdatasync(fd);
}

struct SyncCase {
    const char* name;
    int type;
    std::string afterFailureAndNext;  // the file after A, B (sync fails), C
};

void PrintTo(const SyncCase& c, std::ostream* os) {
    *os << c.name;
}

class SyncTest : public ExportTargetTest, public ::testing::WithParamInterface<SyncCase> {};

TEST_P(SyncTest, EveryRecordIsSyncedAndAFailedSyncIsAFailedWrite) {
    const SyncCase& c = GetParam();
    g_run.ExportType = static_cast<ExportKind>(c.type);
    g_synced.clear();
    g_syncFails = false;
    SetDataSync(RecordingSync);
    const std::string file = dir.file("out/data.csv");

    Export("A");
    EXPECT_EQ(g_synced, std::vector<std::string>{file});

    g_syncFails = true;
    const std::string quoted = ExportQuoting("B");
    EXPECT_NE(quoted.find("cannot be saved to the disk: Input/output error"), std::string::npos)
        << quoted;
    EXPECT_TRUE(Contains(window.exportProblem, L"Cannot write to " + W(file)));

    g_syncFails = false;
    Export("C");
    EXPECT_EQ(g_synced, (std::vector<std::string>{file, file, file}));
    EXPECT_EQ(dir.Read("out/data.csv"), c.afterFailureAndNext);
    EXPECT_EQ(window.exportProblem, L"");
}

INSTANTIATE_TEST_SUITE_P(Cases, SyncTest,
                         // The record whose sync failed may be in the file already: a collecting
                         // file gets it once, a single file holds only the newest.
                         ::testing::Values(SyncCase{"Multi", 2,
                                                    NoonLine("A") + NoonLine("B") + NoonLine("C")},
                                           SyncCase{"Single", 1, NoonLine("C")}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace karvelo::exports
