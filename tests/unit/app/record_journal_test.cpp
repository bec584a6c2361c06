// The record journal as the acquisition thread writes it: once per completed
// record whatever the export type, failed readings as NULL, and a journal
// that cannot be written never stops measuring.

#include "export/record_journal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/acquisition_thread.h"
#include "devices/catalogue.h"
#include "export/csv_export.h"
#include "platform/text_encoding.h"
#include "station_fixture.h"
#include "support/noon_clock.h"

namespace karvelo::app::test {
namespace {

using ::testing::HasSubstr;

constexpr int kSylvac = 1;  // one number per line, answers "?\r"
constexpr int kFKey = 1;

class JournalTest : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        CaptureFileRecords();
        exports::CloseJournal();
        g_run.ConfigDir = Wide(dir.path().string() + "/");
        g_run.StationName = L"bench-7";
        g_run.ConfigSet = 2;
        g_run.DeviceCount = 2;
        Instrument(1, kSylvac, kFKey, &port);
        g_run.DeviceType[2] = 0;  // a keyboard text slot
        g_run.TextSource[2] = 0;
        window.SetControlText(kSlotTextFirst + 1, L"lot 4");
        g_run.TextLast[kIdEntry] = L"P-100";
    }
    void TearDown() override {
        exports::SetLocalClock(nullptr);
        exports::CloseJournal();
        StationTest::TearDown();
    }

    // One cycle with the SEND button pressed.
    void Send() {
        g_run.SendTrigger = TriggerStage::Pending;
        acquisition.RunCycle();
    }

    std::vector<exports::JournalRecord> Journal(const std::string& name = "records.sqlite") {
        std::string problem;
        auto journal = exports::RecordJournal::Open(dir.file(name), true, problem);
        EXPECT_NE(journal, nullptr) << problem;
        std::vector<exports::JournalRecord> records;
        if (journal != nullptr) {
            EXPECT_TRUE(journal->Read({}, {}, records, problem)) << problem;
        }
        return records;
    }

    testing::ScriptedPort port;
    AcquisitionThread acquisition{window, devices.set, channel};
};

struct OnceCase {
    const char* name;
    ExportKind type;
    std::size_t exported;  // records handed to the export
};

const OnceCase kOnceCases[] = {
    {"collecting CSV file", ExportKind::CsvMulti, 2},
    {"single-record CSV file", ExportKind::CsvSingle, 2},
    {"no export", ExportKind::None, 0},
};

TEST_F(JournalTest, EveryRecordOnceWhateverTheExportType) {
    for (const OnceCase& c : kOnceCases) {
        SCOPED_TRACE(c.name);
        exports::CloseJournal();
        std::filesystem::remove(dir.file("records.sqlite"));
        std::filesystem::remove(dir.file("records.sqlite-wal"));
        RecordLog::Instance().Clear();
        g_run.ExportType = c.type;
        AnswerEveryRequest(port, "+1.234\r");

        Send();
        acquisition.RunCycle();  // nothing new: no second row
        AnswerEveryRequest(port, "-0.500\r");
        Send();
        acquisition.RunCycle();

        EXPECT_EQ(Records().size(), c.exported);
        const auto records = Journal();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_NE(records[0].id, records[1].id);
        ASSERT_EQ(records[1].slots.size(), 2u);
        const exports::JournalRecord& r = records[1];
        EXPECT_EQ(r.station, "bench-7");
        EXPECT_EQ(r.configSet, 2);
        EXPECT_EQ(r.idText, "P-100");
        EXPECT_EQ(r.slots[0].typeName, devices::DeviceTypeName(kSylvac));
        EXPECT_EQ(r.slots[0].value, -0.5);
        EXPECT_EQ(r.slots[0].text, "-0.500");
        EXPECT_EQ(r.slots[1].slot, 2);
        EXPECT_EQ(r.slots[1].value, std::nullopt) << "a text has no number";
        EXPECT_EQ(r.slots[1].text, "lot 4");
        EXPECT_EQ(r.utc.size(), 20u);
    }
}

TEST_F(JournalTest, RecordWaitingForAnExportTypeIsNotJournaledAgainWhenHandedOver) {
    g_run.ExportType = ExportKind::None;
    AnswerEveryRequest(port, "+1.000\r");
    Send();
    g_run.ExportType = ExportKind::CsvMulti;
    acquisition.RunCycle();
    EXPECT_EQ(Records().size(), 1u);
    EXPECT_EQ(Journal().size(), 1u);
}

TEST_F(JournalTest, FailedReadingIsNullWithItsStatusWordAndRebuildsTheCsvLine) {
    exports::SetLocalClock(&testing::NoonClock);
    g_run.Title[1] = L"Bohrung \u00d8 5";
    Send();  // the gauge stays silent: the record completes without a value
    ASSERT_EQ(g_run.StatusText[1].str(), L"unavailable");

    const auto records = Journal();
    ASSERT_EQ(records.size(), 1u);
    const exports::JournalSlot& slot = records[0].slots[0];
    EXPECT_EQ(slot.value, std::nullopt);
    EXPECT_EQ(slot.status, "unavailable");
    EXPECT_EQ(slot.text, "");
    EXPECT_EQ(slot.title, "Bohrung \xc3\x98 5");
    // The journal gives back the very line the CSV export writes for it.
    EXPECT_EQ(exports::JournalCsvLine(records[0]), "P-100;09.12.2026;12:00:00;;lot 4;;;;;;;;;\r\n");
    EXPECT_EQ(records[0].localDate, "09.12.2026");
}

TEST_F(JournalTest, UnwritableJournalIsToldAndMeasuringGoesOn) {
    // A plain file where the configuration folder should be: nothing can be
    // created in it, not even by root.
    dir.Write("not-a-folder", "x");
    g_run.ConfigDir = Wide(dir.file("not-a-folder") + "/");
    for (const ExportKind type : {ExportKind::CsvMulti, ExportKind::None}) {
        SCOPED_TRACE(static_cast<int>(type));
        RecordLog::Instance().Clear();
        g_run.ExportType = type;
        AnswerEveryRequest(port, "+2.000\r");
        Send();
        window.PumpMessages();
        EXPECT_FALSE(g_run.AcquisitionPaused);
        EXPECT_EQ(Records().size(), type == ExportKind::None ? 0u : 1u);
        EXPECT_THAT(exports::JournalProblem(), HasSubstr(L"record journal"));
    }
    // Kept, not lost: in memory while not even the spool can be written.
    EXPECT_THAT(window.exportProblem(), HasSubstr(L"2 records kept in memory only"));

    // Once the folder is there the next record goes in and the problem ends.
    std::filesystem::remove(dir.file("not-a-folder"));
    std::filesystem::create_directory(dir.file("not-a-folder"));
    Send();
    window.PumpMessages();
    EXPECT_EQ(exports::JournalProblem(), L"");
    EXPECT_EQ(window.exportProblem(), L"");
    EXPECT_EQ(Journal("not-a-folder/records.sqlite").size(), 3u)
        << "the kept records went in first";
}

}  // namespace
}  // namespace karvelo::app::test
