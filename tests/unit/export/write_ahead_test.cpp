// The journal as the station's write-ahead log: records it cannot take are
// kept (across a restart too) and go in first once it can; a damaged journal
// is moved aside; and after a stop between the journal and the CSV file every
// record reaches its file exactly once.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "export/csv_export.h"
#include "export/export_record.h"
#include "export/journal.h"
#include "export/pending_records.h"
#include "export/record.h"
#include "export/record_journal.h"
#include "state/run_state.h"
#include "support/fake_window.h"
#include "support/noon_clock.h"
#include "support/temp_dir.h"

namespace karvelo::exports {
namespace {

namespace fs = std::filesystem;
using karvelo::testing::FakeWindow;
using karvelo::testing::TempDir;

std::wstring W(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

class WriteAheadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        fs::create_directory(dir.path() / "cfg");
        fs::create_directory(dir.path() / "out");
        g_run.ConfigDir = W(dir.file("cfg") + "/");
        g_run.ExportPath = W(dir.file("out") + "/");
        g_run.CsvFileName = L"data.csv";
        g_run.ExportType = ExportKind::CsvMulti;
        CloseJournal();
        ReloadPendingRecords();
        SetLocalClock(&karvelo::testing::NoonClock);
    }
    void TearDown() override {
        SetLocalClock(nullptr);
        CloseJournal();
        ReloadPendingRecords();
        ResetRunState();
    }

    // A record with ID `id`, as the acquisition thread takes it now.
    static Record Take(const std::string& id) {
        g_run.TextLast[kIdEntry] = W(id);
        return CaptureRecord(g_run, StampNow(), NewRecordId());
    }
    std::vector<std::string> JournalIds(const std::string& name = "cfg/records.sqlite") const {
        std::string problem;
        auto journal = RecordJournal::Open(dir.file(name), true, problem);
        std::vector<JournalRecord> rows;
        if (journal == nullptr || !journal->Read({}, {}, rows, problem)) {
            ADD_FAILURE() << problem;
            return {};
        }
        std::vector<std::string> ids;
        for (const JournalRecord& r : rows) ids.push_back(r.idText);
        return ids;
    }
    // What the station does at its next start.
    void Restart() {
        CloseJournal();
        ReloadPendingRecords();
    }

    TempDir dir;
    FakeWindow window;
    RecordChannel channel;
};

TEST_F(WriteAheadTest, RecordsTheJournalCannotTakeAreKeptAcrossARestartAndGoInFirst) {
    // A folder where the journal's file should be: nothing can be committed.
    fs::create_directory(dir.path() / "cfg" / "records.sqlite");
    EXPECT_FALSE(CommitRecord(Take("A")));
    EXPECT_FALSE(CommitRecord(Take("B")));
    EXPECT_NE(JournalProblem().find(L"2 records kept in"), std::wstring::npos);
    ASSERT_TRUE(fs::exists(dir.file("cfg/records.sqlite.pending")));

    Restart();
    fs::remove(dir.path() / "cfg" / "records.sqlite");
    EXPECT_TRUE(CommitRecord(Take("C")));
    EXPECT_EQ(JournalProblem(), L"");
    EXPECT_EQ(JournalIds(), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_FALSE(fs::exists(dir.file("cfg/records.sqlite.pending")));
}

TEST_F(WriteAheadTest, DamagedJournalIsMovedAsideAndANewOneTakesTheRecord) {
    struct Case {
        const char* name;
        bool truncate;  // a real journal cut short; else random bytes
    };
    for (const Case& c : {Case{"random bytes", false}, Case{"truncated journal", true}}) {
        SCOPED_TRACE(c.name);
        Restart();
        for (const auto& e : fs::directory_iterator(dir.path() / "cfg")) fs::remove(e.path());
        if (c.truncate) {
            for (int i = 0; i < 50; ++i) ASSERT_TRUE(CommitRecord(Take("old")));
            CloseJournal();
            fs::resize_file(dir.file("cfg/records.sqlite"), 1500);
            fs::remove(dir.file("cfg/records.sqlite-wal"));
        } else {
            std::string junk(8192, '\0');
            for (std::size_t i = 0; i < junk.size(); ++i)
                junk[i] = static_cast<char>(i * 7919 % 251);
            dir.Write("cfg/records.sqlite", junk);
        }
        EXPECT_TRUE(CommitRecord(Take("new")));
        EXPECT_NE(JournalProblem().find(L"damaged"), std::wstring::npos);
        int aside = 0;
        for (const auto& e : fs::directory_iterator(dir.path() / "cfg")) {
            // Its write-ahead log and index go with it under the same name.
            const std::string name = e.path().filename().string();
            aside += name.starts_with("records.sqlite.corrupt-") && !name.ends_with("-wal") &&
                     !name.ends_with("-shm");
        }
        EXPECT_EQ(aside, 1);
        const std::vector<std::string> ids = JournalIds();
        ASSERT_FALSE(ids.empty());
        EXPECT_EQ(ids.back(), "new");
    }
}

struct CatchUpCase {
    const char* name;
    ExportKind type;
    std::string before;  // the file's content at the restart, "1" "2" "3" for the lines
    std::string after;   // the content the file must have afterwards
};

// The journal has records 1, 2 and 3, none marked written: the station
// stopped after committing them, with the file as `before` shows.
const CatchUpCase kCatchUpCases[] = {
    {"no line reached the file", ExportKind::CsvMulti, "X", "X123"},
    {"the first one did", ExportKind::CsvMulti, "X1", "X123"},
    {"two did", ExportKind::CsvMulti, "X12", "X123"},
    {"all did", ExportKind::CsvMulti, "X123", "X123"},
    {"an equal line earlier is another record", ExportKind::CsvMulti, "1X", "1X123"},
    {"a single-line file gets the newest", ExportKind::CsvSingle, "X", "3"},
    {"a single-line file that has it keeps it", ExportKind::CsvSingle, "3", "3"},
};

TEST_F(WriteAheadTest, AfterAStopEveryRecordReachesItsFileExactlyOnce) {
    for (const CatchUpCase& c : kCatchUpCases) {
        SCOPED_TRACE(c.name);
        Restart();
        for (const auto& e : fs::directory_iterator(dir.path() / "cfg")) fs::remove(e.path());
        g_run.ExportType = c.type;
        std::map<char, std::string> line = {{'X', "other;record\r\n"}};
        for (const char id : std::string("123")) {
            const Record r = Take(std::string(1, id));
            ASSERT_TRUE(CommitRecord(r));
            line[id] = CsvLineOf(r);
        }
        const auto content = [&line](const std::string& code) {
            std::string text;
            for (const char k : code) text += line.at(k);
            return text;
        };
        dir.Write("out/data.csv", content(c.before));

        Restart();
        CatchUpRecords(channel, window);
        EXPECT_EQ(dir.Read("out/data.csv"), content(c.after));
        EXPECT_TRUE(UnwrittenRecords().empty()) << "every record is marked";
        // A second start finds nothing more to do.
        Restart();
        CatchUpRecords(channel, window);
        EXPECT_EQ(dir.Read("out/data.csv"), content(c.after));
    }
}

}  // namespace
}  // namespace karvelo::exports
