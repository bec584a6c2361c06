// The record journal of the real station under faults: a journal that cannot
// be written for a while (locked by another process, read-only, on a full
// disk), one that is damaged before the start, a station killed between the
// journal and its CSV file, and `karvelo --history` read while the station
// writes. Whatever happens, every line of the CSV file ends up in the journal
// exactly once, and no line is written to the CSV file twice.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "export/journal.h"
#include "support/process.h"
#include "support/sim_process.h"
#include "support/station_process.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

namespace fs = std::filesystem;
using karvelo::testing::Lines;
using karvelo::testing::ProcessResult;
using karvelo::testing::RunProcess;
using karvelo::testing::SimProcess;
using karvelo::testing::Station;
using karvelo::testing::TempDir;
using namespace std::chrono_literals;

// Generous: CI runs on two shared cores; every wait ends at its event.
constexpr auto kLimit = 30s;

template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit,
               std::chrono::milliseconds step = 20ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

// Distinct readings, one per reply: a record written twice shows as a
// repeated line.
std::string DistinctValues(int count) {
    std::string values;
    for (int i = 1; i <= count; ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "%d.%03d ", 1 + i / 1000, i % 1000);
        values += text;
    }
    return values;
}

std::string Errno(const char* what) {
    const int error = errno;
    return std::string(what) + ": " + std::strerror(error);
}

// Sets or clears the immutable attribute: even root cannot write such a file,
// not through a descriptor opened before either.
std::string SetImmutable(const std::string& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Errno("open") + " " + path;
    int flags = 0;
    std::string problem;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
        problem = Errno("FS_IOC_GETFLAGS");
    } else {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) problem = Errno("FS_IOC_SETFLAGS");
    }
    ::close(fd);
    return problem;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

off_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// What the journal holds, as `karvelo --history` prints it, with each
// record's mark (its file holds it).
struct JournalView {
    std::vector<std::string> lines;
    std::vector<bool> written;
    std::string problem;  // empty when both could be read
};

// One station with its own folders: the program, its configuration and the
// journal in `conf` (a tmpfs where a row needs one); the CSV file in `out`,
// standard error in `install`, both outside `conf`, so that a full `conf`
// only hits the journal.
class Bench {
  public:
    Bench() {
        sim_ = std::make_unique<SimProcess>(
            bench_.path(),
            "[gauge]\nlink=" + Tty() + "\ntype=1\nvalues=" + DistinctValues(3000) + "\n");
        fs::create_directory(conf());
    }
    ~Bench() {
        if (holder_ != nullptr) sqlite3_close(holder_);
        for (const std::string& path : immutable_) SetImmutable(path, false);
        if (mounted_) ::umount2(conf().c_str(), MNT_DETACH);
    }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    bool simReady() const { return sim_->ready(); }
    std::string SimLog() const { return sim_->Log(); }
    std::string Tty() const { return bench_.file("ttyGauge"); }

    const TempDir& install() const { return install_; }
    std::string conf() const { return install_.file("conf"); }
    std::string ConfFile(const std::string& name) const { return conf() + "/" + name; }
    std::string journal() const { return ConfFile("records.sqlite"); }
    std::string wal() const { return ConfFile("records.sqlite-wal"); }
    std::string spool() const { return ConfFile("records.sqlite.pending"); }

    // A tmpfs as the configuration folder, with room for the program and
    // `spare` bytes more.
    std::string MountTmpfs(std::uintmax_t spare) {
        const std::uintmax_t size = fs::file_size(KARVELO_BINARY) + spare;
        const std::string options = "size=" + std::to_string(size / 1024 + 1) + "k,mode=0755";
        if (::mount("tmpfs", conf().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
            return Errno("mount -t tmpfs");
        mounted_ = true;
        return {};
    }

    // The program in `conf`, started through a link in `install`: the
    // station takes the folder of the program it runs as its configuration folder.
    void Install() {
        fs::copy_file(KARVELO_BINARY, ConfFile("karvelo"));
        fs::create_symlink(ConfFile("karvelo"), install_.file("karvelo"));
        std::FILE* cfg = std::fopen(ConfFile("karvelo.cfg").c_str(), "wb");
        ASSERT_NE(cfg, nullptr);
        const std::string text = "[PORTS]\r\nCOM3=" + Tty() +
                                 "\r\n[WINDOW]\r\nmaxno=1\r\n[IDNR]\r\ntextlast=LOT-7\r\n"
                                 "[EXPORT]\r\nexporttype=2\r\npath=" +
                                 out_.path().string() +
                                 "/\r\nfile_csv=records.csv\r\n"
                                 "[DEVICE1]\r\ntyp=1\r\nport=3\r\nsendmode=3\r\nsendtime=0.05\r\n"
                                 "format=3\r\n";
        std::fwrite(text.data(), 1, text.size(), cfg);
        std::fclose(cfg);
    }

    // Whether the journal holds every line of the CSV file, each marked.
    bool AllMarked() const {
        std::string problem;
        auto db = exports::RecordJournal::Open(journal(), true, problem);
        std::vector<exports::JournalRecord> records;
        if (db == nullptr || !db->Read({}, {}, records, problem)) return false;
        return records.size() == CsvCount() &&
               std::all_of(records.begin(), records.end(),
                           [](const exports::JournalRecord& r) { return r.written; });
    }

    std::vector<std::string> Csv() const { return Lines(out_.Read("records.csv")); }
    std::size_t CsvCount() const { return Csv().size(); }
    std::string Err() const { return install_.Read("station.err"); }

    bool WaitForCsv(std::size_t count) const {
        return WaitUntil([&] { return CsvCount() >= count; }, kLimit, 10ms);
    }
    bool WaitForErr(const std::string& text) const {
        return WaitUntil([&] { return Err().find(text) != std::string::npos; }, kLimit);
    }

    ProcessResult History() const {
        return RunProcess({ConfFile("karvelo"), "--history"}, install_.path().string());
    }

    JournalView Journal() const {
        JournalView view;
        const ProcessResult r = History();
        if (r.exitCode != 0) {
            view.problem = "--history: " + r.err;
            return view;
        }
        view.lines = Lines(r.out);
        auto db = exports::RecordJournal::Open(journal(), true, view.problem);
        std::vector<exports::JournalRecord> records;
        if (db == nullptr || !db->Read({}, {}, records, view.problem)) return view;
        for (const exports::JournalRecord& record : records) view.written.push_back(record.written);
        if (view.written.size() != view.lines.size()) view.problem = "--history and Read differ";
        return view;
    }

    // The journal locked for writing by this process, as another program
    // would. Its connection is open before, so that the lock is taken the
    // moment it is free (a busy handler that retries without sleeping: the
    // station's own transactions are short).
    std::string OpenLockHolder() {
        if (sqlite3_open_v2(journal().c_str(), &holder_, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK)
            return "cannot open the journal";
        // This connection must never checkpoint or delete the station's log.
        sqlite3_db_config(holder_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        sqlite3_busy_handler(
            holder_, [](void*, int tries) { return tries < 10000000 ? 1 : 0; }, nullptr);
        return {};
    }
    std::string HoldWriteLock() {
        if (holder_ == nullptr) {
            if (std::string problem = OpenLockHolder(); !problem.empty()) return problem;
        }
        if (sqlite3_exec(holder_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
            return std::string("BEGIN IMMEDIATE: ") + sqlite3_errmsg(holder_);
        return {};
    }
    std::string ReleaseWriteLock() {
        std::string problem;
        if (sqlite3_exec(holder_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            problem = std::string("COMMIT: ") + sqlite3_errmsg(holder_);
        sqlite3_close(holder_);
        holder_ = nullptr;
        return problem;
    }

    std::string MakeImmutable(const std::string& path) {
        std::string problem = SetImmutable(path, true);
        if (problem.empty()) immutable_.push_back(path);
        return problem;
    }
    std::string LiftImmutable() {
        std::string problem;
        for (const std::string& path : immutable_) {
            const std::string p = SetImmutable(path, false);
            if (problem.empty()) problem = p;
        }
        immutable_.clear();
        return problem;
    }

    // Fills the configuration folder's file system to its last page.
    std::string FillDisk() {
        const int fd = ::open(ConfFile("filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return Errno("open filler");
        const std::vector<char> block(64 * 1024, 'x');
        for (std::size_t size = block.size(); size > 0;) {
            const ssize_t n = ::write(fd, block.data(), size);
            if (n >= 0) continue;
            if (errno != ENOSPC) {
                const std::string problem = Errno("write filler");
                ::close(fd);
                return problem;
            }
            size /= 2;  // the rest of the last block
        }
        ::close(fd);
        return {};
    }
    std::string FreeDisk() {
        return ::unlink(ConfFile("filler").c_str()) == 0 ? std::string() : Errno("unlink filler");
    }

    // A few records taken by a run of their own, ended cleanly.
    void FirstRun(std::size_t records) {
        Station station(install_);
        ASSERT_TRUE(WaitForCsv(records)) << Err() << SimLog();
        ASSERT_EQ(station.Stop(), 0) << Err();
    }

  private:
    TempDir bench_;
    TempDir install_;
    TempDir out_;
    std::unique_ptr<SimProcess> sim_;
    bool mounted_ = false;
    sqlite3* holder_ = nullptr;
    std::vector<std::string> immutable_;
};

// Every CSV line from `from` on is in the journal exactly once, no CSV line is
// there twice, and the journal holds nothing else (beyond the first `from`
// lines, which a damaged journal may have lost), each record marked written.
void ExpectJournalMatchesCsv(const Bench& b, std::size_t from = 0) {
    const std::vector<std::string> csv = b.Csv();
    const JournalView journal = b.Journal();
    ASSERT_EQ(journal.problem, "");
    std::map<std::string, int> inCsv;
    for (const std::string& line : csv) ++inCsv[line];
    std::map<std::string, int> inJournal;
    for (const std::string& line : journal.lines) ++inJournal[line];
    for (const auto& [line, n] : inCsv)
        EXPECT_EQ(n, 1) << "written twice to the CSV file: " << line;
    for (std::size_t i = from; i < csv.size(); ++i) {
        EXPECT_EQ(inJournal[csv[i]], 1) << "CSV line " << i << " in the journal: " << csv[i];
    }
    for (const auto& [line, n] : inJournal) {
        EXPECT_EQ(n, 1) << "in the journal twice: " << line;
        EXPECT_TRUE(inCsv.contains(line)) << "in the journal, not in the CSV file: " << line;
    }
    EXPECT_GE(journal.lines.size(), csv.size() - from);
    EXPECT_EQ(std::count(journal.written.begin(), journal.written.end(), false), 0)
        << "records the journal does not know to be in their file";
}

std::vector<std::string> CorruptFiles(const Bench& b) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(b.conf())) {
        const std::string name = e.path().filename().string();
        if (name.starts_with("records.sqlite.corrupt-") && !name.ends_with("-wal") &&
            !name.ends_with("-shm"))
            found.push_back(e.path().string());
    }
    return found;
}

// When the write-ahead log was last written to: every commit changes it.
std::pair<off_t, long long> LogStamp(const Bench& b) {
    struct stat st {};
    if (::stat(b.wal().c_str(), &st) != 0) return {-1, 0};
    return {st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
}

enum class Moment {
    Commit,  // the journal has just committed the next record; its line is not in the file yet
    Line,    // the next record's line has just reached the file; the journal has no mark yet
};

// Returns at that moment of the next record (false when none comes). A
// commit is a change of the write-ahead log well after the last line, not
// that line's mark, which follows the line at once.
bool WaitForMoment(const Bench& b, Moment moment) {
    std::size_t lines = b.CsvCount();
    auto log = LogStamp(b);
    auto lineAt = std::chrono::steady_clock::now();
    return WaitUntil(
        [&] {
            const std::size_t nowLines = b.CsvCount();
            const auto nowLog = LogStamp(b);
            const auto now = std::chrono::steady_clock::now();
            if (nowLines != lines) {
                if (moment == Moment::Line) return true;
                lines = nowLines;
                log = nowLog;
                lineAt = now;
                return false;
            }
            if (nowLog == log) return false;
            log = nowLog;
            return moment == Moment::Commit && now - lineAt > 100ms;
        },
        kLimit, 1ms);
}

// How many records the journal has not marked although the CSV file holds
// them before its last line.
int UnmarkedBeforeTheEnd(const Bench& b) {
    const JournalView journal = b.Journal();
    EXPECT_EQ(journal.problem, "");
    std::vector<std::string> csv = b.Csv();
    if (!csv.empty()) csv.pop_back();
    int unmarked = 0;
    for (std::size_t i = 0; i < journal.lines.size() && i < journal.written.size(); ++i) {
        if (!journal.written[i] && std::find(csv.begin(), csv.end(), journal.lines[i]) != csv.end())
            ++unmarked;
    }
    return unmarked;
}

// ---- a journal that cannot be written ------------------------------------------

// A hook of a row: empty when done, else why the row cannot run here.
using Hook = std::string (*)(Bench&);

struct FaultCase {
    const char* name;
    std::uintmax_t tmpfsSpare = 0;  // > 0: `conf` is a tmpfs with this much room beyond the program
    Hook before = nullptr;          // puts the fault in place before the start
    Hook during = nullptr;          // puts it in place while records flow
    Hook lift = nullptr;            // ends it while the station runs
    bool killDuring = false;   // the station is killed while the fault lasts, started again after
    bool damaged = false;      // the journal is damaged: moved aside, a new one started
    bool spooled = false;      // the kept records are in the spool file meanwhile
    bool earlierLost = false;  // the damage took the records of the first run
    bool markLost = false;     // the kill leaves a record unmarked whose line has others after it
    const char* knownBug = nullptr;  // the row fails until this is fixed
};

void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.name;
}

std::string RandomBytes(Bench& b) {
    std::mt19937 random(20261209);
    std::string bytes(3 * 4096, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    std::FILE* f = std::fopen(b.journal().c_str(), "wb");
    if (f == nullptr) return Errno("fopen");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return {};
}

// A first run's journal with its records in the file's pages (the
// write-ahead log checkpointed into it); the root page of `index` and the
// page size.
std::string FirstRunInPages(Bench& b, const char* index, int& root, int& pageSize) {
    b.FirstRun(3);
    if (::testing::Test::HasFatalFailure()) return "the first run failed";
    sqlite3* db = nullptr;
    sqlite3_stmt* query = nullptr;
    const std::string sql =
        std::string(
            "SELECT rootpage, (SELECT page_size FROM pragma_page_size) FROM sqlite_master"
            " WHERE name = '") +
        index + "'";
    std::string problem;
    if (sqlite3_open_v2(b.journal().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr) !=
            SQLITE_OK ||
        sqlite3_prepare_v2(db, sql.c_str(), -1, &query, nullptr) != SQLITE_OK ||
        sqlite3_step(query) != SQLITE_ROW) {
        problem = std::string("the first run's journal: ") + sqlite3_errmsg(db);
    } else {
        root = sqlite3_column_int(query, 0);
        pageSize = sqlite3_column_int(query, 1);
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return problem;
}

// Cut in the middle of its first page: nothing of it can be read any more.
std::string TruncatedToHalfAPage(Bench& b) {
    int root = 0;
    int pageSize = 0;
    if (std::string problem = FirstRunInPages(b, "records_unwritten", root, pageSize);
        !problem.empty())
        return problem;
    return ::truncate(b.journal().c_str(), pageSize / 2) == 0 ? std::string() : Errno("truncate");
}

// The index page the next record goes into is garbage: SQLite refuses the
// next commit, while the records and their slots can still be read.
std::string IndexPageDamaged(Bench& b) {
    int root = 0;
    int pageSize = 0;
    if (std::string problem = FirstRunInPages(b, "records_unwritten", root, pageSize);
        !problem.empty())
        return problem;
    std::FILE* f = std::fopen(b.journal().c_str(), "r+b");
    if (f == nullptr) return Errno("fopen");
    const char garbage[8] = {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
    const bool ok = std::fseek(f, static_cast<long>(root - 1) * pageSize, SEEK_SET) == 0 &&
                    std::fwrite(garbage, 1, sizeof garbage, f) == sizeof garbage;
    return std::fclose(f) == 0 && ok ? std::string() : Errno("damaging the page");
}

// An empty journal made by the station's own code, then made read-only.
std::string ReadOnlyJournal(Bench& b) {
    std::string problem;
    if (exports::RecordJournal::Open(b.journal(), exports::RecordJournal::Access::Writer,
                                     problem) == nullptr)
        return problem;
    return b.MakeImmutable(b.journal());
}

std::string ReadOnlyLog(Bench& b) {
    if (!WaitUntil([&] { return FileSize(b.wal()) > 0; }, kLimit)) return "no write-ahead log";
    return b.MakeImmutable(b.wal());
}

std::string HoldLock(Bench& b) {
    return b.HoldWriteLock();
}

// Once the journal has marked every record its file holds: the next
// record, not yet taken, is the first one kept.
std::string HoldLockBetweenRecords(Bench& b) {
    if (!WaitUntil([&] { return b.AllMarked(); }, kLimit)) return "the records are not marked";
    return b.HoldWriteLock();
}

// The moment the journal has committed a record: its line reaches the file
// while the lock lasts, so the journal cannot take its mark.
std::string HoldLockBeforeAMark(Bench& b) {
    if (std::string problem = b.OpenLockHolder(); !problem.empty()) return problem;
    if (!WaitForMoment(b, Moment::Commit)) return "no commit seen";
    return b.HoldWriteLock();
}

std::string ReleaseLock(Bench& b) {
    return b.ReleaseWriteLock();
}
std::string LiftReadOnly(Bench& b) {
    return b.LiftImmutable();
}
std::string FillDisk(Bench& b) {
    return b.FillDisk();
}
std::string FreeDisk(Bench& b) {
    return b.FreeDisk();
}

const FaultCase kFaults[] = {
    {.name = "LockedByAnotherProcess", .during = HoldLock, .lift = ReleaseLock, .spooled = true},
    {.name = "KilledWhileLockedTheSpoolIsCommittedAtTheNextStart",
     .during = HoldLockBetweenRecords,
     .lift = ReleaseLock,
     .killDuring = true,
     .spooled = true},
    {.name = "KilledWhileLockedBeforeARecordsMark",
     .during = HoldLockBeforeAMark,
     .lift = ReleaseLock,
     .killDuring = true,
     .spooled = true,
     .markLost = true},
    {.name = "JournalReadOnlyFromTheStart",
     .before = ReadOnlyJournal,
     .lift = LiftReadOnly,
     .spooled = true},
    {.name = "WriteAheadLogReadOnlyWhileRecordsFlow",
     .during = ReadOnlyLog,
     .lift = LiftReadOnly,
     .spooled = true},
    // The disk fills up: the spool cannot be written either.
    {.name = "DiskFull", .tmpfsSpare = 1024 * 1024, .during = FillDisk, .lift = FreeDisk},
    {.name = "RandomBytes", .before = RandomBytes, .damaged = true},
    {.name = "TruncatedToHalfAPage",
     .before = TruncatedToHalfAPage,
     .damaged = true,
     .earlierLost = true},
    {.name = "IndexPageDamaged", .before = IndexPageDamaged, .damaged = true},
};

class JournalFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(JournalFaultTest, AJournalThatCannotBeWrittenLosesNoRecord) {
    const FaultCase& c = GetParam();
    if (c.knownBug != nullptr) GTEST_SKIP() << c.knownBug;
    Bench b;
    ASSERT_TRUE(b.simReady()) << b.SimLog();
    if (c.tmpfsSpare > 0) {
        const std::string refused = b.MountTmpfs(c.tmpfsSpare);
        if (!refused.empty()) {
            GTEST_SKIP() << "a tmpfs cannot be mounted here: " << refused;
        }
    }
    ASSERT_NO_FATAL_FAILURE(b.Install());
    if (c.before != nullptr) {
        const std::string problem = c.before(b);
        ASSERT_FALSE(HasFatalFailure());
        if (!problem.empty()) {
            GTEST_SKIP() << "the fault cannot be made here: " << problem;
        }
    }
    const std::size_t earlier = b.CsvCount();
    const std::string damagedBytes = c.damaged ? ReadFile(b.journal()) : std::string();
    const std::string cannot = "karvelo: Cannot write to the record journal " + b.journal();
    const std::string again = "karvelo: the record journal " + b.journal() +
                              " is written again; every kept record is in it";
    auto station = std::make_unique<Station>(b.install());
    ASSERT_TRUE(b.WaitForCsv(earlier + 1)) << b.Err() << b.SimLog();
    if (c.during != nullptr) {
        const std::string problem = c.during(b);
        if (!problem.empty()) {
            GTEST_SKIP() << "the fault cannot be made here: " << problem;
        }
    }
    if (!c.damaged) {
        ASSERT_TRUE(b.WaitForErr(cannot)) << b.Err();
    }
    // Records taken while the fault lasts (or after the damage).
    ASSERT_TRUE(b.WaitForCsv(b.CsvCount() + 3)) << b.Err();
    if (c.spooled) {
        EXPECT_TRUE(fs::exists(b.spool())) << "the kept records are in no spool";
    }
    if (c.killDuring) {
        station->Stop(SIGKILL);
        station.reset();
    }
    if (c.lift != nullptr) {
        ASSERT_EQ(c.lift(b), "");
    }
    if (c.killDuring) {
        ASSERT_TRUE(fs::exists(b.spool()));
        // Where the lock caught a mark, the journal itself still says
        // unwritten (the mark waits in the spool); whether it did is timing.
        if (!c.markLost) {
            EXPECT_EQ(UnmarkedBeforeTheEnd(b), 0);
        }
        station = std::make_unique<Station>(b.install());
    } else if (c.lift != nullptr) {
        ASSERT_TRUE(b.WaitForErr(again)) << b.Err();
    }
    // The journal is written again: records still reach both.
    ASSERT_TRUE(b.WaitForCsv(b.CsvCount() + (c.killDuring ? 2 : 1))) << b.Err();
    EXPECT_EQ(station->Stop(), 0) << b.Err();

    const std::string err = b.Err();
    if (c.damaged) {
        const std::vector<std::string> aside = CorruptFiles(b);
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_NE(err.find("karvelo: The record journal was damaged: it is now " + aside[0]),
                  std::string::npos)
            << err;
        EXPECT_EQ(err.find(cannot), std::string::npos) << err;
        EXPECT_TRUE(ReadFile(aside[0]) == damagedBytes) << "the damaged journal is kept as it was";
    } else if (!c.killDuring) {
        EXPECT_LT(err.find(cannot), err.find(again)) << err;
    }
    EXPECT_FALSE(fs::exists(b.spool())) << "every kept record is in the journal";
    if (c.damaged && !c.earlierLost && earlier > 0) {
        EXPECT_NE(err.find("(" + std::to_string(earlier) + " records saved from it)"),
                  std::string::npos)
            << err;
    }
    ExpectJournalMatchesCsv(b, c.earlierLost ? earlier : 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, JournalFaultTest, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& row) {
                             return std::string(row.param.name);
                         });

// ---- killed between the journal and the CSV file ---------------------------------

// How many records the journal has and the CSV file does not: a kill cut
// their write.
int MissingFromCsv(const Bench& b) {
    const JournalView journal = b.Journal();
    EXPECT_EQ(journal.problem, "");
    const std::vector<std::string> csv = b.Csv();
    int missing = 0;
    for (const std::string& line : journal.lines) {
        if (std::find(csv.begin(), csv.end(), line) == csv.end()) ++missing;
    }
    return missing;
}

TEST(JournalKillTest, KilledBetweenTheJournalAndTheCsvEveryRecordIsInBothExactlyOnce) {
    Bench b;
    ASSERT_TRUE(b.simReady()) << b.SimLog();
    ASSERT_NO_FATAL_FAILURE(b.Install());
    constexpr int kKills = 5;
    int missing = 0;  // what the last kill cut off
    int cuts = 0;
    for (int i = 0; i <= kKills; ++i) {
        SCOPED_TRACE("start " + std::to_string(i + 1));
        const std::size_t before = b.CsvCount();
        Station station(b.install());
        // The start writes what the last kill cut off, before any new record;
        // then a varying number of records flow.
        ASSERT_TRUE(b.WaitForCsv(before + missing + 1 + i % 3)) << b.Err() << b.SimLog();
        const std::string err = b.Err();
        if (missing > 0) {
            EXPECT_NE(err.find("karvelo: " + std::to_string(missing) +
                               " record(s) of the journal written to their files after a stop"),
                      std::string::npos)
                << err;
        } else {
            EXPECT_EQ(err.find("written to their files after a stop"), std::string::npos) << err;
        }
        if (i == kKills) {
            ASSERT_TRUE(b.WaitForCsv(b.CsvCount() + 2)) << b.Err();
            EXPECT_EQ(station.Stop(), 0) << b.Err();
            break;
        }
        // Even starts: killed the moment the journal commits a record, before
        // its line can reach the file. Odd ones: the moment the line is in
        // the file, before the journal's mark.
        ASSERT_TRUE(WaitForMoment(b, i % 2 == 0 ? Moment::Commit : Moment::Line)) << b.Err();
        station.Stop(SIGKILL);
        missing = MissingFromCsv(b);
        cuts += missing;
    }
    ExpectJournalMatchesCsv(b);
    // The old station never wrote such a record: it stayed in the journal only.
    EXPECT_GT(cuts, 0) << "no kill fell between the journal and the CSV file";
}

// ---- reading back while the station writes -----------------------------------------

TEST(JournalHistoryTest, HistoryWhileTheStationWritesKeepsItsWriteAheadLog) {
    Bench b;
    ASSERT_TRUE(b.simReady()) << b.SimLog();
    ASSERT_NO_FATAL_FAILURE(b.Install());
    Station station(b.install());
    ASSERT_TRUE(b.WaitForCsv(2)) << b.Err() << b.SimLog();
    struct stat logFile {};
    ASSERT_EQ(::stat(b.wal().c_str(), &logFile), 0);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("reading " + std::to_string(i + 1));
        const std::vector<std::string> csv = b.Csv();
        const ProcessResult r = b.History();
        ASSERT_EQ(r.exitCode, 0) << r.err;
        // What the file held before the reading, at least; a record taken
        // meanwhile may follow.
        const std::vector<std::string> read = Lines(r.out);
        ASSERT_GE(read.size(), csv.size());
        EXPECT_TRUE(std::equal(csv.begin(), csv.end(), read.begin()));
        struct stat now {};
        ASSERT_EQ(::stat(b.wal().c_str(), &now), 0) << "the reader removed the write-ahead log";
        EXPECT_EQ(now.st_ino, logFile.st_ino) << "the write-ahead log was made anew";
        ASSERT_TRUE(b.WaitForCsv(csv.size() + 1)) << b.Err();
    }
    // The station's later records still reach the journal readers see.
    const std::size_t after = b.CsvCount() + 2;
    ASSERT_TRUE(b.WaitForCsv(after)) << b.Err();
    const ProcessResult r = b.History();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GE(Lines(r.out).size(), after);
    EXPECT_EQ(station.Stop(), 0) << b.Err();
    ExpectJournalMatchesCsv(b);
}

}  // namespace
}  // namespace karvelo
