#include "export/record_journal.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <memory>
#include <mutex>

#include "devices/catalogue.h"
#include "export/csv_export.h"
#include "platform/program_path.h"
#include "platform/text_encoding.h"
#include "state/run_state.h"

namespace karvelo::exports {
namespace {

constexpr std::wstring_view kJournalFileName = L"records.sqlite";

struct OpenJournal {
    std::mutex lock;
    std::string path;  // of `journal`
    std::unique_ptr<RecordJournal> journal;
    std::wstring problem;
};
OpenJournal g_journal;

std::string Utf8(const std::wstring& text) {
    return platform::WideToUtf8(text);
}

// A measuring slot without a valid reading has no value; a text slot never has one.
std::optional<double> SlotValue(int s) {
    if (devices::IsTextType(g_run.DeviceType[s])) return std::nullopt;
    if (!g_run.ValueReady[s] || g_run.ValueError[s]) return std::nullopt;
    return g_run.Value[s].load();
}

}  // namespace

std::string JournalFilePath() {
    const std::wstring folder = g_run.ConfigDir.str();
    if (folder.empty()) return {};
    return platform::FsPath(folder + std::wstring(kJournalFileName));
}

JournalRecord CurrentJournalRecord() {
    JournalRecord r;
    r.id = NewRecordId();
    r.station = Utf8(g_run.StationName.str());
    r.configSet = g_run.ConfigSet;
    r.utc = UtcText(RecordStampTime());
    r.localDate = Utf8(g_run.RecordDate.str());
    r.localTime = Utf8(g_run.RecordTime.str());
    r.idText = Utf8(g_run.TextLast[kIdEntry].str());
    const int inUse = std::clamp(g_run.DeviceCount.load(), 0, kMaxSlots);
    for (int s = 1; s <= inUse; ++s) {
        JournalSlot slot;
        slot.slot = s;
        slot.typeName = std::string(devices::DeviceTypeName(g_run.DeviceType[s]));
        slot.title = Utf8(g_run.Title[s].str());
        slot.value = SlotValue(s);
        // The field exactly as the CSV line has it, so the file can be rebuilt.
        slot.text = slot.value || devices::IsTextType(g_run.DeviceType[s])
                        ? Utf8(g_run.TextLast[s].str())
                        : std::string();
        slot.status = Utf8(g_run.StatusText[s].str());
        r.slots.push_back(std::move(slot));
    }
    return r;
}

bool JournalCompletedRecord() {
    StampCompletedRecord();
    const std::string path = JournalFilePath();
    if (path.empty()) return true;
    const JournalRecord record = CurrentJournalRecord();

    std::lock_guard<std::mutex> hold(g_journal.lock);
    std::string problem;
    if (g_journal.journal == nullptr || g_journal.path != path) {
        g_journal.journal.reset();
        g_journal.path = path;
        g_journal.journal = RecordJournal::Open(path, false, problem);
    }
    const bool kept = g_journal.journal != nullptr && g_journal.journal->Append(record, problem);
    std::wstring text;
    if (!kept) {
        text = L"Cannot write to the record journal " + platform::Utf8ToWide(path) + L" (" +
               platform::Utf8ToWide(problem) + L"): this record is not in the journal.";
        // A journal that failed is opened afresh for the next record: the
        // disk may have room again, the folder may be writable again.
        g_journal.journal.reset();
    }
    if (text != g_journal.problem) {
        const std::string told =
            kept ? "the record journal " + path + " is written again" : Utf8(text);
        std::fprintf(stderr, "karvelo: %s\n", told.c_str());
    }
    g_journal.problem = std::move(text);
    return kept;
}

std::wstring JournalProblem() {
    std::lock_guard<std::mutex> hold(g_journal.lock);
    return g_journal.problem;
}

void CloseJournal() {
    std::lock_guard<std::mutex> hold(g_journal.lock);
    g_journal.journal.reset();
    g_journal.path.clear();
    g_journal.problem.clear();
}

std::string JournalCsvLine(const JournalRecord& record) {
    std::wstring slots[kMaxSlots];
    for (const JournalSlot& s : record.slots) {
        if (s.slot >= 1 && s.slot <= kMaxSlots) slots[s.slot - 1] = platform::Utf8ToWide(s.text);
    }
    return CsvLine(platform::Utf8ToWide(record.idText), platform::Utf8ToWide(record.localDate),
                   platform::Utf8ToWide(record.localTime), slots);
}

}  // namespace karvelo::exports
