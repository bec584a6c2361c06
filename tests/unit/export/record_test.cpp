// One record, three forms: the CSV line, the journal row and the workbook
// cells are made from the same value with one rule for failed readings and
// text slots, so a table of run states checks all three side by side. The
// journal's payload must give the record back exactly, and a damaged payload
// must never give a different record.

#include "export/record.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "export/journal.h"
#include "export/record_journal.h"
#include "platform/text_encoding.h"
#include "state/run_state.h"

namespace karvelo::exports {
namespace {

constexpr std::time_t kUtc = 1796799903;  // 2026-12-09T07:05:03Z
constexpr int kSylvac = 1;                // a measuring type ("Sylvac duplex")
constexpr int kTextType = 0;              // "TEXT input"
constexpr char kId[] = "0190b3c4-0000-7000-8000-000000000001";

RecordStamp Stamp() {
    return RecordStamp{kUtc, L"09.12.2026", L"08:05:03"};
}

// Slot s measured `value`, shown as `text`.
void Measured(int s, double value, const wchar_t* text) {
    g_run.DeviceType[s] = kSylvac;
    g_run.ValueReady[s] = true;
    g_run.ValueError[s] = false;
    g_run.Value[s] = value;
    g_run.TextLast[s] = text;
}

// Slot s, a text slot holding `text`; the reading flags are left over from
// elsewhere and must not give it a value.
void TextSlot(int s, const wchar_t* text) {
    g_run.DeviceType[s] = kTextType;
    g_run.ValueReady[s] = true;
    g_run.Value[s] = 5.0;
    g_run.TextLast[s] = text;
}

std::string Real(const std::optional<double>& v) {
    if (!v) return "NULL";
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, *v);
    return std::string(buf, r.ptr);
}

struct JournalSlotCase {
    int slot;
    std::string typeName;
    std::string title;
    std::optional<double> value;
    std::string text;
    std::string status;
};

std::string Describe(int slot, const std::string& typeName, const std::string& title,
                     const std::optional<double>& value, const std::string& text,
                     const std::string& status) {
    return std::to_string(slot) + "|" + typeName + "|" + title + "|" + Real(value) + "|" + text +
           "|" + status;
}

// slot -> cell text, for the slots the workbook writes.
using Cells = std::map<int, std::wstring>;

Cells WorkbookCells(const Record& record, bool withTextSlots) {
    Cells cells;
    for (int s = 1; s <= kMaxSlots; ++s) {
        if (WorkbookSlotApplies(record, s, withTextSlots)) cells[s] = WorkbookSlotText(record, s);
    }
    return cells;
}

struct FormsCase {
    const char* name;
    std::function<void()> slots;  // on top of ID "P-100", one slot in use, type 5
    std::string csv;
    std::vector<JournalSlotCase> journal;
    Cells withTextSlots;     // type 5
    Cells withoutTextSlots;  // type 6
    std::string target = "/cfg/out/book.xlsx";
};

const std::string kHead = "P-100;09.12.2026;08:05:03;";

std::vector<FormsCase> FormsCases() {
    return {
        {.name = "valid reading",
         .slots =
             [] {
                 Measured(1, 12.345, L"12.345");
                 g_run.Title[1] = L"Bore";
             },
         .csv = kHead + "12.345;;;;;;;;;;\r\n",
         .journal = {{1, "Sylvac duplex", "Bore", 12.345, "12.345", ""}},
         .withTextSlots = {{1, L"12.345000"}},
         .withoutTextSlots = {{1, L"12.345000"}}},
        {.name = "zeroed gauge reads a valid 0.000",
         .slots = [] { Measured(1, 0.0, L"0.000"); },
         .csv = kHead + "0.000;;;;;;;;;;\r\n",
         .journal = {{1, "Sylvac duplex", "", 0.0, "0.000", ""}},
         .withTextSlots = {{1, L"0.000000"}},
         .withoutTextSlots = {{1, L"0.000000"}}},
        {.name = "failed reading keeps no value, only its status word",
         .slots =
             [] {
                 Measured(1, 7.5, L"7.500");  // the last good reading's text
                 g_run.ValueError[1] = true;
                 g_run.StatusText[1] = L"com error";
             },
         .csv = kHead + ";;;;;;;;;;\r\n",
         .journal = {{1, "Sylvac duplex", "", std::nullopt, "", "com error"}},
         .withTextSlots = {{1, L""}},
         .withoutTextSlots = {{1, L""}}},
        {.name = "nothing read",
         .slots =
             [] {
                 Measured(1, 3.0, L"3.000");
                 g_run.ValueReady[1] = false;
                 g_run.StatusText[1] = L"unavailable";
             },
         .csv = kHead + ";;;;;;;;;;\r\n",
         .journal = {{1, "Sylvac duplex", "", std::nullopt, "", "unavailable"}},
         .withTextSlots = {{1, L""}},
         .withoutTextSlots = {{1, L""}}},
        {.name = "text slot has its text and never a value",
         .slots =
             [] {
                 g_run.DeviceCount = 2;
                 Measured(1, 12.345, L"12.345");
                 TextSlot(2, L"Lot 4");
             },
         .csv = kHead + "12.345;Lot 4;;;;;;;;;\r\n",
         .journal = {{1, "Sylvac duplex", "", 12.345, "12.345", ""},
                     {2, "TEXT input", "", std::nullopt, "Lot 4", ""}},
         .withTextSlots = {{1, L"12.345000"}, {2, L"Lot 4"}},
         .withoutTextSlots = {{1, L"12.345000"}}},
        {.name = "a text a spreadsheet would run is written as text; a negative value is not",
         .slots =
             [] {
                 g_run.DeviceCount = 3;
                 Measured(1, -0.5, L"-0.500");
                 TextSlot(2, L"=HYPERLINK(\"http://x.invalid\",\"click\")");
                 TextSlot(3, L"-12");
             },
         .csv = kHead + "-0.500;'=HYPERLINK(\"http://x.invalid\",\"click\");-12;;;;;;;;\r\n",
         .journal = {{1, "Sylvac duplex", "", -0.5, "-0.500", ""},
                     {2, "TEXT input", "", std::nullopt,
                      "=HYPERLINK(\"http://x.invalid\",\"click\")", ""},
                     {3, "TEXT input", "", std::nullopt, "-12", ""}},
         // The workbook stores texts as strings, never as formulas.
         .withTextSlots = {{1, L"-0.500000"},
                           {2, L"=HYPERLINK(\"http://x.invalid\",\"click\")"},
                           {3, L"-12"}},
         .withoutTextSlots = {{1, L"-0.500000"}}},
        {.name = "separator and characters beyond ISO 8859-1 in a text",
         .slots =
             [] {
                 TextSlot(1, L"\u00d8 5;\u20ac 2");
                 g_run.Title[1] = L"Pr\u00fcfer \u03a9";
             },
         // The separator stays as it is; what ISO 8859-1 lacks becomes '?'.
         .csv = kHead + "\xd8 5;? 2;;;;;;;;;;\r\n",
         .journal = {{1, "TEXT input",
                      "Pr\xc3\xbc"
                      "fer \xce\xa9",
                      std::nullopt, "\xc3\x98 5;\xe2\x82\xac 2", ""}},
         .withTextSlots = {{1, L"\u00d8 5;\u20ac 2"}},
         .withoutTextSlots = {}},
        {.name = "slots beyond the count",
         .slots =
             [] {
                 Measured(1, 1.25, L"1.250");
                 TextSlot(2, L"old lot");
                 Measured(3, 2.5, L"2.500");
             },
         .csv = kHead + "1.250;old lot;2.500;;;;;;;;\r\n",
         .journal = {{1, "Sylvac duplex", "", 1.25, "1.250", ""}},
         .withTextSlots = {{1, L"1.250000"}},
         // Without text slots every measuring slot is written, as it always was.
         .withoutTextSlots = {{1, L"1.250000"}, {3, L"2.500000"}}},
        {.name = "negative and unknown device types",
         .slots =
             [] {
                 g_run.DeviceCount = 3;
                 Measured(1, 1.5, L"1.500");
                 g_run.DeviceType[2] = -1;  // a hand-edited "none"
                 g_run.TextLast[2] = L"stale";
                 Measured(3, 4.0, L"4.000");
                 g_run.DeviceType[3] = 99;  // beyond the table: still a measuring slot
             },
         .csv = kHead + "1.500;;4.000;;;;;;;;\r\n",
         .journal = {{1, "Sylvac duplex", "", 1.5, "1.500", ""},
                     {2, "", "", std::nullopt, "", ""},
                     {3, "", "", 4.0, "4.000", ""}},
         .withTextSlots = {{1, L"1.500000"}, {3, L"4.000000"}},
         .withoutTextSlots = {{1, L"1.500000"}, {3, L"4.000000"}}},
        {.name = "no slot in use",
         .slots =
             [] {
                 g_run.DeviceCount = 0;
                 Measured(1, 1.5, L"1.500");
                 TextSlot(2, L"lot");
             },
         .csv = kHead + "1.500;lot;;;;;;;;;\r\n",
         .journal = {},
         .withTextSlots = {},
         // Nothing was measured: the measuring slots' cells are cleared.
         .withoutTextSlots = {{1, L""}}},
        {.name = "no export type: no file to write",
         .slots =
             [] {
                 g_run.ExportType = ExportKind::None;
                 Measured(1, 2.0, L"2.000");
             },
         .csv = kHead + "2.000;;;;;;;;;;\r\n",
         .journal = {{1, "Sylvac duplex", "", 2.0, "2.000", ""}},
         .withTextSlots = {{1, L"2.000000"}},
         .withoutTextSlots = {{1, L"2.000000"}},
         .target = ""},
    };
}

class RecordFormsTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetRunState(); }
    void TearDown() override { ResetRunState(); }
};

TEST_F(RecordFormsTest, RecordToCsvLineJournalRowAndWorkbookCells) {
    for (const FormsCase& c : FormsCases()) {
        SCOPED_TRACE(c.name);
        ResetRunState();
        g_run.ConfigDir = L"/cfg/";
        g_run.ExportPath = L"out/";
        g_run.XlsFileName = L"book.xlsx";
        g_run.ExportType = ExportKind::Workbook;
        g_run.StationName = L"bench-7";
        g_run.ConfigSet = 2;
        g_run.TextLast[kIdEntry] = L"P-100";
        g_run.DeviceCount = 1;
        c.slots();
        const Record record = CaptureRecord(g_run, Stamp(), kId);

        EXPECT_EQ(CsvLineOf(record), c.csv);

        const JournalRecord row = JournalRowOf(record);
        EXPECT_EQ(row.id, kId);
        EXPECT_EQ(row.station, "bench-7");
        EXPECT_EQ(row.configSet, 2);
        EXPECT_EQ(row.utc, "2026-12-09T07:05:03Z");
        EXPECT_EQ(row.localDate, "09.12.2026");
        EXPECT_EQ(row.localTime, "08:05:03");
        EXPECT_EQ(row.idText, "P-100");
        EXPECT_EQ(row.exportType, static_cast<int>(g_run.ExportType.load()));
        EXPECT_EQ(row.target, c.target);
        EXPECT_EQ(row.written, c.target.empty()) << "only a record without a file is done";
        std::vector<std::string> slots;
        for (const JournalSlot& s : row.slots) {
            slots.push_back(Describe(s.slot, s.typeName, s.title, s.value, s.text, s.status));
        }
        std::vector<std::string> expected;
        for (const JournalSlotCase& s : c.journal) {
            expected.push_back(Describe(s.slot, s.typeName, s.title, s.value, s.text, s.status));
        }
        EXPECT_EQ(slots, expected);

        EXPECT_EQ(WorkbookCells(record, true), c.withTextSlots);
        EXPECT_EQ(WorkbookCells(record, false), c.withoutTextSlots);

        // The payload is the record, and `--history` rebuilds the very line.
        Record decoded;
        ASSERT_TRUE(DecodeRecord(row.payload, decoded)) << row.payload;
        EXPECT_EQ(decoded, record);
        EXPECT_EQ(JournalCsvLine(row), c.csv);
    }
}

// ---- the one-line encoding ---------------------------------------------------

// A record no run state could hold: every field set, texts with the
// encoding's own characters, doubles at the edges of what text gives back.
Record Awkward() {
    Record r;
    r.id = "id\twith\\tab";
    r.utc = -86401;
    r.localDate = L"";
    r.localTime = L"\\";
    r.station = L"Halle 3\n\u00d8\U0001F600";
    r.configSet = -7;
    r.idText = L"\\t is not a tab\t\\";
    r.exportType = static_cast<ExportKind>(9);  // a number only a hand-edited file holds
    r.target = L"/data/r\u00e9sultats\r\n.xlsx";
    const std::optional<double> values[] = {0.1,
                                            -0.0,
                                            1e-300,
                                            std::numeric_limits<double>::denorm_min(),
                                            std::numeric_limits<double>::max(),
                                            -123.456789012345678,
                                            std::nullopt,
                                            1.0 / 3.0,
                                            -std::numeric_limits<double>::infinity(),
                                            0.0};
    for (std::size_t s = 0; s < r.slots.size(); ++s) {
        RecordSlot& slot = r.slots[s];
        slot.kind = static_cast<SlotKind>(s % 3);
        slot.inUse = s % 2 == 0;
        slot.typeName = s == 4 ? "" : "type\t" + std::to_string(s);
        slot.title = L"T\\n" + std::to_wstring(s);
        slot.value = values[s];
        slot.field = s == 9 ? L"" : L"a;b\tc\n\\" + std::to_wstring(s);
        slot.status = s == 9 ? L"\\\\" : L"";
    }
    return r;
}

std::uint64_t Bits(double v) {
    return std::bit_cast<std::uint64_t>(v);
}

TEST(CsvSafeText, FormulaLikeTextsGetAnApostrophe) {
    struct Case {
        const wchar_t* text;
        const wchar_t* written;
    };
    const Case cases[] = {
        {L"=1+1", L"'=1+1"},
        {L"+cmd|' /C calc'!A0", L"'+cmd|' /C calc'!A0"},
        {L"@SUM(A1:A9)", L"'@SUM(A1:A9)"},
        {L"\t=1", L"'\t=1"},
        {L"\r=1", L"'\r=1"},
        {L"-", L"'-"},
        {L"-12", L"-12"},
        {L"+1.5", L"+1.5"},
        {L"-0,25", L"-0,25"},
        {L"-1e3", L"-1e3"},
        {L"P-100", L"P-100"},
        {L"", L""},
        {L"=", L"'="},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CsvSafeText(c.text), c.written) << platform::WideToUtf8(c.text);
    }
}

TEST(RecordEncoding, RoundTripIsExact) {
    const Record original = Awkward();
    const std::string line = EncodeRecord(original);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "one line";
    Record decoded;
    ASSERT_TRUE(DecodeRecord(line, decoded)) << line;
    EXPECT_EQ(decoded, original);
    // == takes -0.0 for 0.0: the sign must come back too.
    for (std::size_t s = 0; s < original.slots.size(); ++s) {
        ASSERT_EQ(decoded.slots[s].value.has_value(), original.slots[s].value.has_value()) << s;
        if (original.slots[s].value) {
            EXPECT_EQ(Bits(*decoded.slots[s].value), Bits(*original.slots[s].value)) << s;
        }
    }
    EXPECT_EQ(EncodeRecord(decoded), line);
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
        fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

std::string Join(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) line += (i ? "\t" : "") + fields[i];
    return line;
}

TEST(RecordEncoding, DamagedLinesAreRefused) {
    const std::string line = EncodeRecord(Awkward());
    const std::vector<std::string> fields = Split(line);
    // Where the fields are: 0 the mark, 2 utc, then seven per slot from 10
    // (kind, in use, type, title, value, field, status).
    constexpr std::size_t kUtcField = 2;
    constexpr std::size_t kFirstKind = 10;
    constexpr std::size_t kFirstValue = 14;
    ASSERT_EQ(fields.size(), 80u);
    const auto with = [&](std::size_t i, const std::string& text) {
        std::vector<std::string> f = fields;
        f.at(i) = text;
        return Join(f);
    };
    std::vector<std::string> fewer = fields;
    fewer.erase(fewer.begin() + 40);

    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"a field more", line + "\tx"},
        {"a field less", Join(fewer)},
        {"another mark", with(0, "r2")},
        {"bad escape", with(5, "Halle\\x3")},
        {"escape cut at the end", line + "\\"},
        {"raw line break", with(5, "Halle\n3")},
        {"raw carriage return", with(5, "Halle\r3")},
        {"utc not a number", with(kUtcField, "12x")},
        {"unknown slot kind", with(kFirstKind, "3")},
        {"negative slot kind", with(kFirstKind, "-1")},
        {"value not a number", with(kFirstValue, "1.5.2")},
        {"value with a decimal comma", with(kFirstValue, "0,1")},
    };
    for (const auto& c : cases) {
        Record r;
        EXPECT_FALSE(DecodeRecord(c.text, r)) << c.name;
    }

    // A line cut anywhere before its last separator.
    const std::size_t lastSeparator = line.rfind('\t');
    for (std::size_t n = 0; n <= lastSeparator; ++n) {
        Record r;
        EXPECT_FALSE(DecodeRecord(line.substr(0, n), r)) << "cut after " << n << " bytes";
    }
}

}  // namespace
}  // namespace karvelo::exports
