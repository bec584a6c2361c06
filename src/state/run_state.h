#pragma once
// RunState: the station's one process-wide record of configuration values,
// slot results and thread flags. It is statically allocated, never copied and
// all zero at process start; every part of the station reads and writes its
// fields directly.
//
// Per-slot arrays are indexed by the slot number 1..10; arrays that also serve
// the ID text use entry 0 for it, the others leave entry 0 unused so that one
// index works everywhere.
//
// Three threads share the record without a common lock (the user-interface
// thread, the acquisition thread and the key-poll thread). Every scalar is an
// atomic and every text a SharedText, so each field is read and written whole;
// the order between fields comes from the flags' fixed writers.

#include <atomic>
#include <cstdint>

#include "platform/fixed_text.h"

namespace karvelo {

inline constexpr int kMaxSlots = 10;
inline constexpr int kSlotEntries = kMaxSlots + 1;  // entry 0 is the ID
inline constexpr int kIdEntry = 0;
inline constexpr int kExcelItems = 15;  // Excel keys 1..15

inline constexpr std::size_t kShortText = 50;
inline constexpr std::size_t kMediumText = 256;
inline constexpr std::size_t kLongText = 1024;

using Flag = std::atomic<bool>;
using Int16 = std::atomic<std::int16_t>;
using Int32 = std::atomic<std::int32_t>;
using Real = std::atomic<double>;
using ShortText = SharedText<kShortText>;
using MediumText = SharedText<kMediumText>;
using LongText = SharedText<kLongText>;

// Where a slot stands in the current cycle (SlotState).
enum class SlotStage : std::int16_t { Idle = 0, Requested = 1, Read = 2 };

// What makes a slot's instrument measure (SendMode, key `sendmode`). A
// hand-edited file may hold other numbers; they are kept as they are.
enum class SendModeKind : std::int32_t {
    Automatic = 0,  // "autom.": requested every cycle
    FKey = 1,       // "F-Key": requested on a trigger
    FKeyPrint = 2,  // "F-Key/Print": as F-Key, and the instrument's own print key
    Timer = 3,      // "Timer(s)": as F-Key/Print, triggered by the send timer
};

// Where records go (ExportType, key `exporttype`). The number is the entry of
// the window's export list; the workbook without text slots has none.
enum class ExportKind : std::int32_t {
    None = 0,             // "-"
    CsvSingle = 1,        // "*.csv single"
    CsvMulti = 2,         // "*.csv multi"
    IdCsvSingle = 3,      // "ID.csv single"
    IdCsvMulti = 4,       // "ID.csv multi"
    Workbook = 5,         // "EXCEL-cells"
    WorkbookNoTexts = 6,  // workbook cells without the text slots
};

// A trigger flag (KeyTrigger, SendTrigger, TimerTrigger).
enum class TriggerStage : std::int16_t {
    Idle = 0,
    Pending = 1,  // raised and not taken yet
    Taken = 2,    // the send key only: taken, and still held down
};

template <typename T>
using PerSlot = T[kSlotEntries];
template <typename T>
using PerExcelItem = T[kExcelItems + 1];

struct RunState {
    // Slot configuration (sections DEVICE1..DEVICE10; entry 0 of the text-source
    // fields comes from section IDNR).
    PerSlot<Int32> DeviceType;
    PerSlot<ShortText> TypeText;
    PerSlot<Int32> Port;
    PerSlot<ShortText> PortText;
    PerSlot<ShortText> SerialNo;
    PerSlot<Int32> Channel;
    PerSlot<Int32> Parameter;
    PerSlot<std::atomic<SendModeKind>> SendMode;
    PerSlot<Real> SendTime;
    PerSlot<Int32> TextSource;
    PerSlot<LongText> TextPath;
    PerSlot<MediumText> TextFile;
    PerSlot<Int32> Decimals;
    PerSlot<Real> Factor;
    PerSlot<Real> Offset;
    PerSlot<ShortText> Title;
    PerSlot<ShortText> DeviceSummary;

    // Slot results.
    PerSlot<Real> Value;
    PerSlot<MediumText> TextLast;
    PerSlot<Flag> ValueReady;
    PerSlot<Flag> ValueError;
    PerSlot<ShortText> StatusText;
    PerSlot<std::atomic<SlotStage>> SlotState;
    // Why the slot's port cannot be used ("COM3 (/dev/ttyUSB0): busy: ..."),
    // empty while it can; written by the serial back-end.
    PerSlot<MediumText> PortProblem;

    // Acquisition control flags.
    Flag AcquisitionPaused;
    Flag ConfigPauseRequest;
    Flag ExportPauseRequest;
    Flag ClosePauseRequest;
    std::atomic<TriggerStage> KeyTrigger;
    std::atomic<TriggerStage> SendTrigger;
    std::atomic<TriggerStage> TimerTrigger;
    Flag IdReadRequest;
    Real TimerPeriod;  // seconds; 0 = no send timer
    Int32 SendKey;     // 0 none, 1..12 F1..F12, 13 space, 14 Enter

    // Configuration files and window.
    LongText ProgramDir;
    LongText ConfigDir;
    LongText MainConfigFile;
    LongText ActiveConfigFile;
    Int32 ConfigSet;
    MediumText StationName;  // key station of section DATABASE: names the journal's records
    LongText DatabaseUrl;    // key url of section DATABASE: the plant server; empty: none
    Int32 KeepDays;          // key keep_days of section DATABASE: journal records kept; 0: all
    Int32 DeviceCount;
    Int32 WindowX;
    Int32 WindowY;
    Int32 ConfigSlot;

    // Export settings (section EXPORT).
    std::atomic<ExportKind> ExportType;
    LongText ExportPath;
    MediumText CsvFileName;
    MediumText XlsFileName;

    // Excel settings (section EXCEL), items 1..15.
    Flag ExcelVisible;
    Flag ExcelEdit;
    Flag ExcelOpen;
    Flag ExcelClose;
    Flag ExcelSave;
    PerExcelItem<Flag> ExcelValueOn;
    PerExcelItem<Flag> ExcelRelative;
    PerExcelItem<Int32> ExcelColumn;
    PerExcelItem<ShortText> ExcelColumnText;
    PerExcelItem<Int32> ExcelRow;
    PerExcelItem<ShortText> ExcelRowText;
    MediumText ExcelSheet;
    Int32 ExcelRefMode;
    ShortText ExcelRefAddress;
    Int32 ExcelShiftMode;
    Int32 ExcelAutoShiftColumn;
    Int32 ExcelAutoShiftRow;
    Flag ExcelConnected;
    Int32 RecordNumber;
};

// The record itself.
extern constinit RunState g_run;

// Returns the record to its process-start state (everything zero). Only for
// tests and tools that run several station starts in one process, while no
// other thread uses the record.
void ResetRunState();

// Clears the run-time fields as the dialog does at start: the record counter,
// the Excel attachment, the export and pause flags, the triggers, the export
// type and, for entries 0..10, slot state, readiness, value, status, device
// summary and record text.
void ClearRunTimeFields();

}  // namespace karvelo
