#include "export/record_journal.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string_view>

#include "export/csv_export.h"
#include "platform/durable_file.h"
#include "platform/numbers.h"
#include "platform/program_path.h"
#include "platform/report.h"
#include "platform/text_encoding.h"
#include "state/run_state.h"

namespace karvelo::exports {
namespace {

constexpr std::wstring_view kJournalFileName = L"records.sqlite";
constexpr std::string_view kSpoolSuffix = ".pending";
constexpr std::string_view kSpoolMagic = "karvelo journal backlog\n";
constexpr std::string_view kCorruptMark = ".corrupt-";

// A record the journal could not take yet, and whether its file holds it.
struct Kept {
    Record record;
    bool written = false;
};

struct StationJournal {
    std::mutex lock;
    std::string path;  // of `journal`, and of the backlog read for it
    std::unique_ptr<RecordJournal> journal;
    bool backlogLoaded = false;
    std::vector<Kept> backlog;       // oldest first
    std::vector<std::string> marks;  // written marks the journal has yet to take
    bool marksSpooled = false;       // the spool holds `marks`
    std::wstring problem;            // why records are kept
    std::wstring notice;             // a damaged journal was replaced
    std::string told;                // the last line told on standard error
};
StationJournal g_journal;

std::string Utf8(const std::wstring& text) {
    return platform::WideToUtf8(text);
}

std::wstring Wide(const std::string& text) {
    return platform::Utf8ToWide(text);
}

void Tell(StationJournal& j, const std::string& line) {
    if (line == j.told) return;
    j.told = line;
    if (!line.empty()) platform::Report(line);
}

std::string SpoolPath(const std::string& journalPath) {
    return journalPath + std::string(kSpoolSuffix);
}

// "20261209-080503" for now, local time.
std::string FileStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    if (::localtime_r(&now, &t) == nullptr) return std::to_string(now);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

// ---- the backlog's spool -----------------------------------------------------

// "0\t<record>" / "1\t<record>" for a kept record (1: its file holds it),
// "m\t<id>" for a journal record whose file holds it, a mark the journal
// could not take yet.
std::string SpoolText(const StationJournal& j) {
    std::string text(kSpoolMagic);
    for (const Kept& k : j.backlog) {
        text += k.written ? '1' : '0';
        text += '\t';
        text += EncodeRecord(k.record);
        text += '\n';
    }
    for (const std::string& id : j.marks) {
        text += "m\t";
        text += id;
        text += '\n';
    }
    return text;
}

// Writes (or, when nothing is kept, removes) the spool; empty or why not.
std::string SaveBacklog(StationJournal& j) {
    const std::string spool = SpoolPath(j.path);
    j.marksSpooled = !j.marks.empty();
    if (j.backlog.empty() && j.marks.empty()) {
        if (::unlink(spool.c_str()) != 0 && errno != ENOENT) return platform::ErrnoText(errno);
        return {};
    }
    return platform::ReplaceFileAtomically(spool, SpoolText(j));
}

void LoadBacklog(StationJournal& j) {
    j.backlogLoaded = true;
    const std::string spool = SpoolPath(j.path);
    std::string text;
    std::string problem;
    if (!platform::ReadWholeFile(spool, text, problem, platform::Links::Refuse)) return;
    if (!std::string_view(text).starts_with(kSpoolMagic)) {
        platform::Report("ignoring unreadable journal spool " + spool);
        return;
    }
    std::string_view rest = std::string_view(text).substr(kSpoolMagic.size());
    int unreadable = 0;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        // Every line is written with its end, and the spool replaced in one
        // step: a line without one is not a line of ours.
        if (end == std::string_view::npos) {
            ++unreadable;
            break;
        }
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        if (line.starts_with("m\t")) {
            j.marks.emplace_back(line.substr(2));
            j.marksSpooled = true;
            continue;
        }
        Kept k;
        if (line.size() < 2 || line[1] != '\t' || !DecodeRecord(line.substr(2), k.record)) {
            ++unreadable;
            continue;
        }
        k.written = line[0] == '1';
        j.backlog.push_back(std::move(k));
    }
    if (unreadable > 0) {
        platform::Report(std::to_string(unreadable) + " unreadable line(s) in the journal spool " +
                         spool);
    }
}

// ---- opening, and a damaged journal moved aside ---------------------------------

bool MoveAside(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 || errno == ENOENT;
}

// Moves the damaged journal (with its write-ahead log) aside, starts a new
// one and copies into it what can still be read of the old one.
void ReplaceDamagedJournal(StationJournal& j) {
    j.journal.reset();
    const std::string aside = j.path + std::string(kCorruptMark) + FileStamp();
    if (!MoveAside(j.path, aside)) {
        j.notice = L"The record journal " + Wide(j.path) + L" is damaged and cannot be moved (" +
                   Wide(platform::ErrnoText(errno)) + L").";
        return;
    }
    MoveAside(j.path + "-wal", aside + "-wal");
    MoveAside(j.path + "-shm", aside + "-shm");
    platform::SyncFolder(platform::FolderOf(j.path));

    std::string problem;
    j.journal = RecordJournal::Open(j.path, RecordJournal::Access::Writer, problem);
    std::vector<JournalRecord> saved;
    if (auto old = RecordJournal::Open(aside, RecordJournal::Access::Reader, problem)) {
        // Read up to the first damaged page; what came before it is kept.
        old->Read("", "", saved, problem);
    }
    bool copied = false;
    if (j.journal != nullptr && !saved.empty()) copied = j.journal->AppendAll(saved, problem);
    j.notice = L"The record journal was damaged: it is now " + Wide(aside) +
               L", and a new journal is written";
    if (copied) {
        j.notice += L" (" + platform::FormatInt(static_cast<std::int64_t>(saved.size())) +
                    L" records saved from it)";
    }
    j.notice += L".";
    platform::Report(Utf8(j.notice));
}

// Opens the journal for `path` as needed; false with `problem` when it cannot.
bool EnsureOpen(StationJournal& j, const std::string& path, std::string& problem) {
    if (j.path != path) {
        j.journal.reset();
        j.path = path;
        j.backlog.clear();
        j.marks.clear();
        j.marksSpooled = false;
        j.backlogLoaded = false;
    }
    if (!j.backlogLoaded) LoadBacklog(j);
    if (j.journal != nullptr) return true;
    bool corrupt = false;
    j.journal = RecordJournal::Open(path, RecordJournal::Access::Writer, problem, &corrupt);
    if (j.journal == nullptr && corrupt) ReplaceDamagedJournal(j);
    return j.journal != nullptr;
}

std::vector<JournalRecord> BacklogRows(const StationJournal& j) {
    std::vector<JournalRecord> rows;
    rows.reserve(j.backlog.size());
    for (const Kept& k : j.backlog) {
        JournalRecord row = JournalRowOf(k.record);
        row.written = row.written || k.written;
        rows.push_back(std::move(row));
    }
    return rows;
}

// Commits what is kept, then `record` (if any), in one transaction. A
// damaged journal is replaced and tried once more.
bool CommitKept(StationJournal& j, const std::string& path, const Record* record,
                std::string& problem) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!EnsureOpen(j, path, problem)) return false;
        std::vector<JournalRecord> rows = BacklogRows(j);
        if (record != nullptr) rows.push_back(JournalRowOf(*record));
        if (rows.empty()) return true;
        if (j.journal->AppendAll(rows, problem)) return true;
        if (!j.journal->LastFailureCorrupt()) {
            // The disk may have room again, the folder may be writable again:
            // the next attempt opens it afresh.
            j.journal.reset();
            return false;
        }
        ReplaceDamagedJournal(j);
    }
    return false;
}

void ApplyMarks(StationJournal& j) {
    if (j.marks.empty() || j.journal == nullptr) return;
    std::string problem;
    // A mark skips the sync: a kill cannot take it (the system has the
    // write), only a power cut can, and then the start finds the CSV line in
    // its file and marks it again. Records themselves stay fully synced.
    j.journal->UseLightCommits(problem);
    if (j.journal->MarkWritten(j.marks, problem)) j.marks.clear();
    j.journal->UseFullCommits(problem);
    // A mark lost to a kill would have its record written to its file again
    // at the next start: one the journal cannot take waits in the spool.
    if (!j.marks.empty() || j.marksSpooled) SaveBacklog(j);
}

void UpdateProblem(StationJournal& j, bool kept, const std::string& why,
                   const std::string& spoolProblem) {
    std::wstring text;
    if (!kept) {
        const auto n = static_cast<std::int64_t>(j.backlog.size());
        text = L"Cannot write to the record journal " + Wide(j.path) + L" (" + Wide(why) + L"): " +
               platform::FormatInt(n) + (n == 1 ? L" record" : L" records") + L" kept";
        text += spoolProblem.empty()
                    ? L" in " + Wide(SpoolPath(j.path)) + L" until it can be written."
                    : L" in memory only (" + Wide(spoolProblem) + L") until it can be written.";
    }
    if (text == j.problem) return;
    const bool wasKept = !j.problem.empty();
    j.problem = text;
    if (!kept) {
        // Told when it begins and as it changes, once per distinct reason.
        Tell(j, "Cannot write to the record journal " + j.path + " (" + why + ")");
    } else if (wasKept) {
        Tell(j, "the record journal " + j.path + " is written again; every kept record is in it");
    }
}

}  // namespace

std::string JournalFilePath() {
    const std::wstring folder = g_run.ConfigDir.str();
    if (folder.empty()) return {};
    return platform::FsPath(folder + std::wstring(kJournalFileName));
}

bool CommitRecord(const Record& record) {
    const std::string path = JournalFilePath();
    if (path.empty()) return true;
    std::lock_guard<std::mutex> hold(g_journal.lock);
    StationJournal& j = g_journal;
    std::string why;
    // The spool of an earlier run counts as kept before this record.
    if (j.path != path || !j.backlogLoaded) EnsureOpen(j, path, why);
    const bool hadBacklog = !j.backlog.empty();
    if (CommitKept(j, path, &record, why)) {
        j.backlog.clear();
        if (hadBacklog) SaveBacklog(j);
        ApplyMarks(j);
        UpdateProblem(j, true, {}, {});
        return true;
    }
    j.backlog.push_back({record, false});
    UpdateProblem(j, false, why, SaveBacklog(j));
    return false;
}

void AssignRecordTarget(const Record& record) {
    const std::string path = JournalFilePath();
    if (path.empty()) return;
    std::lock_guard<std::mutex> hold(g_journal.lock);
    StationJournal& j = g_journal;
    for (Kept& k : j.backlog) {
        if (k.record.id != record.id) continue;
        k.record = record;
        SaveBacklog(j);
        return;
    }
    std::string problem;
    if (!EnsureOpen(j, path, problem) ||
        !j.journal->AssignTarget(record.id, static_cast<int>(record.exportType),
                                 Utf8(record.target), EncodeRecord(record), problem)) {
        platform::Report("cannot note the export file of record " + record.id + " in " + path +
                         " (" + problem + ")");
    }
}

void MarkRecordWritten(const std::string& id) {
    const std::string path = JournalFilePath();
    if (path.empty()) return;
    std::lock_guard<std::mutex> hold(g_journal.lock);
    StationJournal& j = g_journal;
    for (Kept& k : j.backlog) {
        if (k.record.id != id) continue;
        k.written = true;
        SaveBacklog(j);
        return;
    }
    j.marks.push_back(id);
    std::string problem;
    if (EnsureOpen(j, path, problem)) {
        ApplyMarks(j);
    } else {
        SaveBacklog(j);
    }
}

std::vector<Record> UnwrittenRecords() {
    std::vector<Record> records;
    const std::string path = JournalFilePath();
    if (path.empty()) return records;
    std::lock_guard<std::mutex> hold(g_journal.lock);
    StationJournal& j = g_journal;
    std::string problem;
    if (!EnsureOpen(j, path, problem)) {
        platform::Report("cannot read the record journal " + path + " (" + problem + ")");
    } else {
        // Records kept by an earlier run go in first, where they belong.
        if (!j.backlog.empty() && CommitKept(j, path, nullptr, problem)) {
            j.backlog.clear();
            SaveBacklog(j);
        }
        ApplyMarks(j);
        std::vector<JournalRecord> rows;
        if (!j.journal->Unwritten(-1, rows, problem)) {
            platform::Report("cannot read the record journal " + path + " (" + problem + ")");
        }
        for (const JournalRecord& row : rows) {
            Record r;
            if (DecodeRecord(row.payload, r)) records.push_back(std::move(r));
        }
    }
    for (const Kept& k : j.backlog) {
        if (!k.written) records.push_back(k.record);
    }
    return records;
}

std::wstring JournalProblem() {
    std::lock_guard<std::mutex> hold(g_journal.lock);
    if (g_journal.notice.empty()) return g_journal.problem;
    if (g_journal.problem.empty()) return g_journal.notice;
    return g_journal.problem + L"\n" + g_journal.notice;
}

void CloseJournal() {
    std::lock_guard<std::mutex> hold(g_journal.lock);
    g_journal.journal.reset();
    g_journal.path.clear();
    g_journal.backlog.clear();
    g_journal.marks.clear();
    g_journal.marksSpooled = false;
    g_journal.backlogLoaded = false;
    g_journal.problem.clear();
    g_journal.notice.clear();
    g_journal.told.clear();
}

std::string JournalCsvLine(const JournalRecord& record) {
    // The whole record, unused slots included, where the journal has it.
    Record whole;
    if (DecodeRecord(record.payload, whole)) return CsvLineOf(whole);
    std::wstring slots[kMaxSlots];
    for (const JournalSlot& s : record.slots) {
        if (s.slot < 1 || s.slot > kMaxSlots) continue;
        // A slot with a text and no value is a text slot (a failed reading has neither).
        slots[s.slot - 1] = s.value ? Wide(s.text) : CsvSafeText(Wide(s.text));
    }
    return CsvLine(CsvSafeText(Wide(record.idText)), Wide(record.localDate), Wide(record.localTime),
                   slots);
}

}  // namespace karvelo::exports
