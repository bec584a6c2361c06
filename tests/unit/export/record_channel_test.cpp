// The hand-over of records to their targets: lanes by export type, order,
// the acquisition's wait, and the file writer's thread writing real CSV files.

#include "export/record_channel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "export/file_writer.h"
#include "export/pending_records.h"
#include "export/record_journal.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "support/export_now.h"
#include "support/noon_clock.h"
#include "support/temp_dir.h"
#include "support/threaded_fake_window.h"

namespace karvelo::exports {
namespace {

using namespace std::chrono_literals;

Record RecordFor(ExportKind type, const std::wstring& id) {
    Record r;
    r.exportType = type;
    r.idText = id;
    return r;
}

std::vector<std::wstring> Ids(const std::deque<HandedRecord>& records) {
    std::vector<std::wstring> ids;
    for (const HandedRecord& r : records) ids.push_back(r.record.idText);
    return ids;
}

TEST(RecordChannel, EachTypeGoesToItsLaneInOrderAndAFailedRecordStaysAhead) {
    RecordChannel channel;
    channel.Hand(RecordFor(ExportKind::CsvMulti, L"c1"));
    channel.Hand(RecordFor(ExportKind::Workbook, L"w1"));
    channel.Hand(RecordFor(ExportKind::IdCsvSingle, L"c2"));
    channel.Hand(RecordFor(ExportKind::WorkbookNoTexts, L"w2"));
    channel.Hand(RecordFor(static_cast<ExportKind>(9), L"odd"));  // a hand-edited number

    EXPECT_EQ(Ids(channel.Take(RecordLane::Files)),
              (std::vector<std::wstring>{L"c1", L"c2", L"odd"}));
    std::deque<HandedRecord> workbook = channel.Take(RecordLane::Window);
    ASSERT_EQ(Ids(workbook), (std::vector<std::wstring>{L"w1", L"w2"}));

    // w1 and w2 could not be written; w3 came meanwhile.
    channel.Hand(RecordFor(ExportKind::Workbook, L"w3"));
    for (const HandedRecord& r : workbook) channel.Settle(r.number);
    channel.Requeue(RecordLane::Window, std::move(workbook));
    EXPECT_EQ(channel.Queued(RecordLane::Window), 3u);
    EXPECT_FALSE(channel.WaitIdle(RecordLane::Window, 0ms)) << "kept records are not done";
    EXPECT_EQ(Ids(channel.Take(RecordLane::Window)),
              (std::vector<std::wstring>{L"w1", L"w2", L"w3"}));
}

TEST(RecordChannel, TheWaitEndsWhenTheRecordHasHadItsTurnOrWhenTimeRunsOut) {
    RecordChannel channel;
    const std::uint64_t first = channel.Hand(RecordFor(ExportKind::CsvMulti, L"1"));
    const std::uint64_t second = channel.Hand(RecordFor(ExportKind::CsvMulti, L"2"));
    EXPECT_FALSE(channel.WaitTaken(first, 20ms)) << "nobody took it";

    std::thread writer([&channel] {
        for (const HandedRecord& r : channel.WaitAndTake(RecordLane::Files)) {
            channel.Settle(r.number);
        }
    });
    EXPECT_TRUE(channel.WaitTaken(second, 10s));
    EXPECT_TRUE(channel.WaitTaken(first, 0ms));
    EXPECT_EQ(channel.Open(), 0u);
    writer.join();

    // A closed channel lets its writer go.
    std::thread idle([&channel] { EXPECT_TRUE(channel.WaitAndTake(RecordLane::Files).empty()); });
    channel.Close();
    idle.join();
}

// The file writer's thread writes real files, in order, each line once, and
// marks each record written in the journal.
TEST(FileWriter, WritesEachRecordOfTheFilesLaneIntoItsFileAndMarksIt) {
    testing::TempDir dir;
    ResetRunState();
    std::filesystem::create_directory(dir.path() / "out");
    const auto wide = [](const std::string& s) { return std::wstring(s.begin(), s.end()); };
    g_run.ConfigDir = wide(dir.path().string() + "/");
    g_run.ExportPath = wide(dir.file("out") + "/");
    g_run.CsvFileName = L"data.csv";
    g_run.ExportType = ExportKind::CsvMulti;
    ReloadPendingRecords();
    CloseJournal();
    SetLocalClock(&testing::NoonClock);
    testing::ThreadedFakeWindow window;
    {
        RecordChannel channel;
        FileWriter writer(channel, window);
        std::uint64_t last = 0;
        for (int k = 1; k <= 3; ++k) {
            g_run.TextLast[kIdEntry] = L"P-" + std::to_wstring(k);
            Record record = testing::RecordNow();
            ASSERT_TRUE(CommitRecord(record));
            last = channel.Hand(std::move(record));
        }
        ASSERT_TRUE(channel.WaitTaken(last, 10s));
        EXPECT_TRUE(channel.WaitIdle(RecordLane::Files, 10s));
    }
    const std::string csv = dir.Read("out/data.csv");
    EXPECT_EQ(csv.find("P-1;"), 0u) << csv;
    EXPECT_LT(csv.find("P-1;"), csv.find("P-2;"));
    EXPECT_LT(csv.find("P-2;"), csv.find("P-3;"));
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3);
    EXPECT_TRUE(UnwrittenRecords().empty());
    EXPECT_EQ(window.lastRecordFile(), g_run.ExportPath.str() + L"data.csv");
    SetLocalClock(nullptr);
    CloseJournal();
    ReloadPendingRecords();
    ResetRunState();
}

}  // namespace
}  // namespace karvelo::exports
