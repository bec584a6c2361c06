// Records that cannot be written at once: real files, real locks, a real
// short write.

#include "export/pending_records.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <ostream>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "export/csv_export.h"
#include "export/export_record.h"
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

class PendingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        fs::create_directory(dir.path() / "cfg");
        fs::create_directory(dir.path() / "out");
        g_run.ConfigDir = W(cfg() + "/");
        g_run.ExportPath = W(dir.file("out/sub") + "/");  // missing until a test creates it
        g_run.CsvFileName = L"data.csv";
        g_run.ExportType = ExportKind::CsvMulti;
        ReloadPendingRecords();
        SetLocalClock(NoonClock);
    }
    void TearDown() override {
        SetLocalClock(nullptr);
        ReloadPendingRecords();
    }

    std::string cfg() const { return dir.file("cfg"); }
    std::string target() const { return dir.file("out/sub/data.csv"); }
    void CreateFolder() const { fs::create_directory(dir.path() / "out" / "sub"); }
    std::string Contents() const { return dir.Read("out/sub/data.csv"); }
    // The one spool file of the folder; empty when there is none.
    std::string SpoolPath() const {
        for (const auto& e : fs::directory_iterator(cfg())) {
            if (e.path().extension() == ".spool") return e.path().string();
        }
        return {};
    }
    int SpoolFiles() const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(cfg())) n += e.path().extension() == ".spool";
        return n;
    }
    void Export(const std::string& id) {
        g_run.TextLast[kIdEntry] = W(id);
        karvelo::testing::ExportNow(window);
    }

    TempDir dir;
    FakeWindow window;
};

TEST_F(PendingTest, MissingFolderKeepsRecordsUntilItExists) {
    Export("A");
    EXPECT_NE(window.exportProblem.find(W(target())), std::wstring::npos) << "names the file";
    EXPECT_NE(window.exportProblem.find(L"1 record kept"), std::wstring::npos);
    Export("B");
    EXPECT_NE(window.exportProblem.find(L"2 records kept"), std::wstring::npos);
    EXPECT_EQ(SpoolFiles(), 1);

    CreateFolder();
    Export("C");
    EXPECT_EQ(Contents(), NoonLine("A") + NoonLine("B") + NoonLine("C"));
    EXPECT_EQ(window.exportProblem, L"");
    EXPECT_EQ(SpoolFiles(), 0);

    Export("D");
    EXPECT_EQ(Contents(), NoonLine("A") + NoonLine("B") + NoonLine("C") + NoonLine("D"))
        << "each line once";
}

TEST_F(PendingTest, KeptRecordsSurviveARestart) {
    Export("A");
    Export("B");
    ReloadPendingRecords();  // as a new start of the station: only the spool is left
    const PendingLines* kept = PendingRecords().Find(target());
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->Records(), 2);

    CreateFolder();
    Export("C");
    EXPECT_EQ(Contents(), NoonLine("A") + NoonLine("B") + NoonLine("C"));
    EXPECT_EQ(SpoolFiles(), 0);
}

// A spool write killed halfway leaves its temporary file; the next start
// removes it once it is clearly abandoned, and never a write still going on.
TEST_F(PendingTest, AbandonedSpoolTemporariesAreRemovedAtStart) {
    Export("A");
    const std::string spool = SpoolPath();
    ASSERT_FALSE(spool.empty());
    const std::string old = spool + ".tmp-a1B2c3";
    const std::string fresh = spool + ".tmp-d4E5f6";
    const std::string foreign = cfg() + "/notes.txt.tmp-a1B2c3";
    for (const std::string& f : {old, fresh, foreign}) std::ofstream(f) << "half";
    const timespec longAgo[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, old.c_str(), longAgo, 0), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, foreign.c_str(), longAgo, 0), 0);

    ReloadPendingRecords();
    ASSERT_NE(PendingRecords().Find(target()), nullptr);
    EXPECT_FALSE(fs::exists(old));
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_TRUE(fs::exists(foreign)) << "only our own spools' temporaries";
}

// A file another writer holds is neither written nor emptied; once it is free,
// a collecting file gets the kept record first, a single file only the newest.
struct LockCase {
    const char* name;
    int exportType;
    std::string afterUnlock;
};

// Test listings name the case, not its bytes.
void PrintTo(const LockCase& c, std::ostream* os) {
    *os << c.name;
}

class LockTest : public PendingTest, public ::testing::WithParamInterface<LockCase> {};

TEST_P(LockTest, FileLockedByAnotherWriterCountsAsNotOpened) {
    g_run.ExportType = static_cast<ExportKind>(GetParam().exportType);
    CreateFolder();
    dir.Write("out/sub/data.csv", "X\r\n");
    // flock belongs to the open file description, so this descriptor conflicts
    // with the writer's own open.
    const int other = ::open(target().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);

    Export("A");
    EXPECT_EQ(Contents(), "X\r\n");
    EXPECT_NE(window.exportProblem.find(L"in use by another program"), std::wstring::npos);

    ::close(other);
    Export("B");
    EXPECT_EQ(Contents(), GetParam().afterUnlock);
    EXPECT_EQ(window.exportProblem, L"");
}

INSTANTIATE_TEST_SUITE_P(Cases, LockTest,
                         ::testing::Values(LockCase{"Single", 1, NoonLine("B")},
                                           LockCase{"Multi", 2,
                                                    "X\r\n" + NoonLine("A") + NoonLine("B")}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(PendingTest, SingleFileKeepsNothing) {
    g_run.ExportType = ExportKind::CsvSingle;
    Export("A");
    EXPECT_NE(window.exportProblem.find(W(target())), std::wstring::npos);
    EXPECT_EQ(SpoolFiles(), 0);
    EXPECT_TRUE(PendingRecords().Targets().empty());

    CreateFolder();
    Export("B");
    EXPECT_EQ(Contents(), NoonLine("B"));
    EXPECT_EQ(window.exportProblem, L"");
}

// A file-size limit a few bytes beyond the file makes the write short: the file
// must not end in half a line. A collecting file keeps the record for later.
struct ShortWriteCase {
    const char* name;
    int exportType;
    std::string fileBefore;
    std::string afterFailure;
    std::string afterNext;
};

// Test listings name the case, not its bytes.
void PrintTo(const ShortWriteCase& c, std::ostream* os) {
    *os << c.name;
}

class ShortWriteTest : public PendingTest, public ::testing::WithParamInterface<ShortWriteCase> {};

TEST_P(ShortWriteTest, NoHalfLineIsLeft) {
    const ShortWriteCase& c = GetParam();
    g_run.ExportType = static_cast<ExportKind>(c.exportType);
    CreateFolder();
    dir.Write("out/sub/data.csv", c.fileBefore);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = c.fileBefore.size() + 10;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    Export("A");
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(Contents(), c.afterFailure);
    EXPECT_NE(window.exportProblem.find(W(target())), std::wstring::npos);
    Export("B");
    EXPECT_EQ(Contents(), c.afterNext);
}

const std::string kBig(4096, 'o');  // leaves room below the limit for the spool file

INSTANTIATE_TEST_SUITE_P(
    Cases, ShortWriteTest,
    ::testing::Values(ShortWriteCase{"Multi", 2, kBig, kBig, kBig + NoonLine("A") + NoonLine("B")},
                      ShortWriteCase{"Single", 1, "old\r\n", "", NoonLine("B")}),
    [](const auto& p) { return std::string(p.param.name); });

// The station is killed after appending kept lines but before removing their
// spool file: the next run finds them in the file and does not write them again.
TEST_F(PendingTest, KeptLinesAreNotWrittenTwiceAfterAStopInTheMiddle) {
    Export("A");  // the folder is missing: A is kept
    CreateFolder();
    dir.Write("out/sub/data.csv", kBig);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The limit lets exactly the kept line in; the next write of the same
        // export stops the process (SIGXFSZ) before it can clean up.
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        rlimit limited{};
        ::getrlimit(RLIMIT_FSIZE, &limited);
        limited.rlim_cur = kBig.size() + NoonLine("A").size();
        ::setrlimit(RLIMIT_FSIZE, &limited);
        std::signal(SIGXFSZ, SIG_DFL);
        Export("B");
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "status " << status;
    ASSERT_EQ(Contents(), kBig + NoonLine("A"));

    ReloadPendingRecords();
    Export("C");
    EXPECT_EQ(Contents(), kBig + NoonLine("A") + NoonLine("C"));
    EXPECT_EQ(SpoolFiles(), 0);
}

TEST_F(PendingTest, WriteFailureOnADeviceIsReported) {
    // /dev/full takes the open and the lock but no byte.
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    g_run.ExportPath = L"/dev/";
    g_run.CsvFileName = L"full";
    Export("A");
    EXPECT_NE(window.exportProblem.find(L"/dev/full"), std::wstring::npos);
    EXPECT_EQ(PendingRecords().Find("/dev/full")->Records(), 1);
    PendingRecords().Clear("/dev/full");
}

TEST_F(PendingTest, RecordsWaitingForAnEarlierFileAreWrittenWhenItCanBe) {
    Export("A");  // data.csv in the missing folder
    g_run.ExportPath = W(dir.file("out") + "/");
    g_run.CsvFileName = L"other.csv";
    Export("B");
    EXPECT_EQ(dir.Read("out/other.csv"), NoonLine("B"));
    EXPECT_NE(window.exportProblem.find(L"1 record waiting for " + W(target())),
              std::wstring::npos);

    CreateFolder();
    g_run.ExportType = ExportKind::None;  // even without a CSV export the kept records go out
    Export("C");
    EXPECT_EQ(Contents(), NoonLine("A"));
    EXPECT_EQ(window.exportProblem, L"");
}

TEST_F(PendingTest, KeptLinesDoNotGoIntoAFileThatHoldsOnlyTheNewestRecord) {
    Export("A");  // kept for the collecting file
    CreateFolder();
    g_run.ExportType = ExportKind::CsvSingle;  // the same file now holds only the newest record
    Export("B");
    EXPECT_EQ(Contents(), NoonLine("B"));
    EXPECT_NE(window.exportProblem.find(L"1 record waiting for " + W(target())),
              std::wstring::npos);

    g_run.ExportType = ExportKind::CsvMulti;
    Export("C");
    EXPECT_EQ(Contents(), NoonLine("B") + NoonLine("A") + NoonLine("C"));
    EXPECT_EQ(window.exportProblem, L"");
}

TEST_F(PendingTest, WithoutASpoolFolderTheOperatorIsToldRecordsWouldNotSurvive) {
    g_run.ConfigDir = W(dir.file("no-such-folder") + "/");
    Export("A");
    EXPECT_NE(window.exportProblem.find(L"not saved for a restart"), std::wstring::npos);
    CreateFolder();
    Export("B");
    EXPECT_EQ(Contents(), NoonLine("A") + NoonLine("B"));
}

// A station stopped between appending kept lines and removing their spool: the
// next run must not write them twice, but must write them if they are not there.
struct CheckCase {
    const char* name;
    std::string fileBefore;
    std::int64_t checkOffset;
    std::string fileAfter;
};

// Test listings name the case, not its bytes.
void PrintTo(const CheckCase& c, std::ostream* os) {
    *os << c.name;
}

class CheckTest : public PendingTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckTest, KeptLinesAreWrittenOnce) {
    const CheckCase& c = GetParam();
    CreateFolder();
    dir.Write("out/sub/data.csv", c.fileBefore);
    {
        PendingStore earlierRun(cfg() + "/");
        PendingLines lines;
        lines.bytes = NoonLine("A");
        lines.checkOffset = c.checkOffset;
        lines.checkLength = lines.bytes.size();
        ASSERT_TRUE(earlierRun.Keep(target(), lines));
    }
    ReloadPendingRecords();
    Export("B");
    EXPECT_EQ(Contents(), c.fileAfter);
    EXPECT_EQ(SpoolFiles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckTest,
    ::testing::Values(CheckCase{"AlreadyThere", "X\r\n" + NoonLine("A"), 3,
                                "X\r\n" + NoonLine("A") + NoonLine("B")},
                      CheckCase{"AlreadyThereFollowedByAnotherRecord",
                                "X\r\n" + NoonLine("A") + NoonLine("Z"), 3,
                                "X\r\n" + NoonLine("A") + NoonLine("Z") + NoonLine("B")},
                      CheckCase{"NotThere", "X\r\n", 3, "X\r\n" + NoonLine("A") + NoonLine("B")},
                      CheckCase{"SomethingElseThere", "X\r\n" + NoonLine("Q"), 3,
                                "X\r\n" + NoonLine("Q") + NoonLine("A") + NoonLine("B")},
                      // The check's end overflowed the offset type.
                      CheckCase{"BeyondTheLargestOffset", "X\r\n",
                                std::numeric_limits<std::int64_t>::max() - 3,
                                "X\r\n" + NoonLine("A") + NoonLine("B")}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(PendingTest, DamagedSpoolFileIsIgnored) {
    dir.Write("cfg/karvelo-pending-x-0000000000000000.spool", "not a spool\n");
    ReloadPendingRecords();
    EXPECT_TRUE(PendingRecords().Targets().empty());
}

// A check whose end lies beyond the largest file offset cannot find its lines
// anywhere: the lines are kept, to be written as unchecked ones.
TEST_F(PendingTest, CheckBeyondTheLargestOffsetIsNoCheck) {
    {
        PendingStore earlierRun(cfg() + "/");
        PendingLines lines;
        lines.bytes = NoonLine("A");
        lines.checkOffset = std::numeric_limits<std::int64_t>::max() - 3;
        lines.checkLength = lines.bytes.size();
        ASSERT_TRUE(earlierRun.Keep(target(), lines));
    }
    ReloadPendingRecords();
    const PendingLines* kept = PendingRecords().Find(target());
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->bytes, NoonLine("A"));
    EXPECT_EQ(kept->checkOffset, -1);
    EXPECT_EQ(kept->checkLength, 0u);
}

}  // namespace
}  // namespace karvelo::exports
