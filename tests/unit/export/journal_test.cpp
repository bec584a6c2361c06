// The journal's storage on its own: records survive closing, read back in
// the order they were taken, chosen by their UTC date.

#include "export/journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace karvelo::exports {
namespace {

using karvelo::testing::TempDir;

JournalRecord RecordAt(const std::string& utc, const std::string& idText) {
    JournalRecord r;
    r.id = NewRecordId();
    r.station = "bench-1";
    r.configSet = 3;
    r.utc = utc;
    r.localDate = "09.12.2026";
    r.localTime = "08:05:03";
    r.idText = idText;
    r.slots.push_back({1, "Sylvac", "Bohrung \xc3\x98 5", 1.25, "1.250", ""});
    r.slots.push_back({3, "Sylvac", "", std::nullopt, "", "unavailable"});
    return r;
}

struct RangeCase {
    const char* from;
    const char* to;
    const char* ids;  // the ID texts read, in order
};

const RangeCase kRanges[] = {
    {"", "", "a b c d"},     {"2026-12-09", "", "b c d"}, {"2026-12-09", "2026-12-09", "b c"},
    {"", "2026-12-08", "a"}, {"2027-01-01", "", ""},
};

TEST(RecordJournal, ReopenedJournalKeepsItsRowsAndReadsByUtcDate) {
    TempDir dir;
    const std::string path = dir.file("records.sqlite");
    std::vector<JournalRecord> written = {
        RecordAt("2026-12-08T23:59:59Z", "a"), RecordAt("2026-12-09T00:00:00Z", "b"),
        // Taken later on the same day, but journaled earlier: the order is the journal's.
        RecordAt("2026-12-09T10:00:00Z", "c"), RecordAt("2026-12-10T00:00:01Z", "d")};
    {
        std::string problem;
        auto journal = RecordJournal::Open(path, false, problem);
        ASSERT_NE(journal, nullptr) << problem;
        for (const JournalRecord& r : written) ASSERT_TRUE(journal->Append(r, problem)) << problem;
        // The same id again (a kept record committed a second time after a
        // commit whose end was never seen) keeps the first and adds nothing.
        JournalRecord twin = RecordAt("2026-12-11T00:00:00Z", "twin");
        twin.id = written[0].id;
        EXPECT_TRUE(journal->Append(twin, problem)) << problem;
    }
    std::string problem;
    auto journal = RecordJournal::Open(path, true, problem);
    ASSERT_NE(journal, nullptr) << problem;
    for (const RangeCase& c : kRanges) {
        SCOPED_TRACE(std::string(c.from) + ".." + c.to);
        std::vector<JournalRecord> read;
        ASSERT_TRUE(journal->Read(c.from, c.to, read, problem)) << problem;
        std::string ids;
        for (const JournalRecord& r : read) ids += (ids.empty() ? "" : " ") + r.idText;
        EXPECT_EQ(ids, c.ids);
    }
    std::vector<JournalRecord> all;
    ASSERT_TRUE(journal->Read({}, {}, all, problem));
    ASSERT_EQ(all.size(), written.size());
    const JournalRecord& r = all[0];
    EXPECT_EQ(r.id, written[0].id);
    EXPECT_EQ(r.idText, "a");
    EXPECT_EQ(r.station, "bench-1");
    EXPECT_EQ(r.configSet, 3);
    EXPECT_EQ(r.localDate, "09.12.2026");
    EXPECT_EQ(r.localTime, "08:05:03");
    ASSERT_EQ(r.slots.size(), 2u);
    EXPECT_EQ(r.slots[0].title, "Bohrung \xc3\x98 5");
    EXPECT_EQ(r.slots[0].value, 1.25);
    EXPECT_EQ(r.slots[1].slot, 3);
    EXPECT_EQ(r.slots[1].value, std::nullopt);
    EXPECT_EQ(r.slots[1].status, "unavailable");
}

TEST(RecordJournal, ReadingNeverCreatesAJournal) {
    TempDir dir;
    std::string problem;
    EXPECT_EQ(RecordJournal::Open(dir.file("records.sqlite"), true, problem), nullptr);
    EXPECT_FALSE(problem.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.file("records.sqlite")));
}

// Version 7: the first 48 bits are the Unix milliseconds, so ids taken later
// sort later and the journal's key index grows at its end.
TEST(RecordJournal, RecordIdsAreTimeOrderedVersion7Uuids) {
    const auto ms = [] {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::system_clock::now().time_since_epoch())
                                              .count());
    };
    std::set<std::string> ids;
    std::string previous;
    for (int i = 0; i < 1000; ++i) {
        const std::uint64_t before = ms();
        const std::string id = NewRecordId();
        const std::uint64_t after = ms();
        ASSERT_EQ(id.size(), 36u);
        EXPECT_EQ(id[14], '7');
        EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos);
        const std::uint64_t stamp = std::stoull(id.substr(0, 8) + id.substr(9, 4), nullptr, 16);
        EXPECT_GE(stamp, before);
        EXPECT_LE(stamp, after);
        EXPECT_GE(id.substr(0, 13), previous.substr(0, std::min<std::size_t>(13, previous.size())));
        previous = id;
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 1000u);
}

TEST(RecordJournal, UtcTextIsIso8601) {
    EXPECT_EQ(UtcText(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(UtcText(1796371503), "2026-12-04T08:05:03Z");
}

}  // namespace
}  // namespace karvelo::exports
