#pragma once
// A record: the ID and the ten slots of one moment, taken once by the
// acquisition thread when a reading completes it, then handed as a value to
// the journal and to the export targets. Every target's form of it (the CSV
// line, the journal row, the workbook cells) is made here, from the value,
// with one rule for failed readings and text slots:
//   - a measuring slot with a valid reading has a value and its record text;
//   - a measuring slot without one has no value and an empty field ("0.000"
//     would claim a measurement that never happened);
//   - a text slot has its text and never a value.

#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "export/journal.h"
#include "state/run_state.h"

namespace karvelo::exports {

// What a slot held when the record was taken.
enum class SlotKind : std::uint8_t {
    None = 0,        // no instrument and no text (a negative or unknown code)
    Instrument = 1,  // a measuring slot
    Text = 2,        // a text slot (device type 0)
};

struct RecordSlot {
    SlotKind kind = SlotKind::None;
    bool inUse = false;           // within DeviceCount
    std::string typeName;         // the device type's display name
    std::wstring title;           // the slot's title
    std::optional<double> value;  // the scaled reading, when there is a valid one
    std::wstring field;           // the slot's field of the CSV line
    std::wstring status;          // the status word shown with the reading
    bool operator==(const RecordSlot&) const = default;
};

struct Record {
    std::string id;          // time-ordered UUID, unique across stations
    std::time_t utc = 0;     // the moment the record was taken
    std::wstring localDate;  // "09.12.2026"; empty when the local time was unknown
    std::wstring localTime;  // "08:05:03"
    std::wstring station;    // the station's name
    int configSet = 0;       // the configuration set it was taken with
    std::wstring idText;     // the record's ID
    ExportKind exportType = ExportKind::None;  // where it goes
    std::wstring target;                       // the full path of its file; empty: no file
    std::array<RecordSlot, kMaxSlots> slots;   // slot s is slots[s - 1]
    bool operator==(const Record&) const = default;
};

// The local date and time of a moment, as the record carries them.
struct RecordStamp {
    std::time_t utc = 0;
    std::wstring date;  // "09.12.2026"
    std::wstring time;  // "08:05:03"
};

// The local time now; false when it cannot be determined.
using LocalClock = bool (*)(std::tm& local);

// time() and localtime_r().
bool SystemLocalTime(std::tm& local);

// Replaces the clock StampNow reads (tests); nullptr restores the system clock.
void SetLocalClock(LocalClock clock);

// Stamps this moment. Date and time come from one reading of the clock, so a
// record at 23:59:59 never carries the next day's date. Without a local time
// both texts are empty (and standard error says so).
RecordStamp StampNow();

// The record of this moment: the ID and slot results of `run`, the stamp, a
// new id and the file the current export type writes it to.
Record CaptureRecord(const RunState& run, const RecordStamp& stamp, std::string id);

// The file a record of `exportType` goes to, as a full path: ExportPath with
// CsvFileName (types 1, 2), with the ID's file name (types 3, 4, see
// IdFileName) or with XlsFileName (types 5, 6). A relative path is taken from
// the configuration folder. Empty when the type writes no file or no file
// name has been chosen.
std::wstring RecordTargetPath(const RunState& run, ExportKind exportType, std::wstring_view idText);

// An ID or text field as the CSV line carries it: a text a spreadsheet would
// take for a formula (it begins with =, +, -, @, a tab or a CR and is not a
// plain number) gets a leading apostrophe.
std::wstring CsvSafeText(std::wstring_view text);

// The CSV line: ID;date;time;slot 1;...;slot 10; and CR LF, in ISO 8859-1.
std::string CsvLineOf(const Record& record);

// The journal's row: the slots in use, their texts as UTF-8, and the whole
// record encoded (EncodeRecord) so that any target can be rebuilt from it.
JournalRecord JournalRowOf(const Record& record);

// Whether the workbook export writes slot s (1..10): with text slots, every
// measuring or text slot in use; without, every measuring slot.
bool WorkbookSlotApplies(const Record& record, int slot, bool withTextSlots);

// The workbook cell of slot s: the value with six decimals, a text slot's
// text, or nothing (which clears the cell) without a valid reading.
std::wstring WorkbookSlotText(const Record& record, int slot);

// The record as one line of text (no line break in it), and back; Decode is
// false for a text that is not such a line. Numbers are written exactly and
// independently of the locale.
std::string EncodeRecord(const Record& record);
bool DecodeRecord(std::string_view text, Record& record);

}  // namespace karvelo::exports
