#include "export/csv_export.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <system_error>

#include "devices/catalogue.h"
#include "export/export_types.h"
#include "export/pending_records.h"
#include "export/record_journal.h"
#include "platform/durable_file.h"
#include "platform/numbers.h"
#include "platform/program_path.h"
#include "platform/report.h"
#include "platform/text_encoding.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::exports {
namespace {

using platform::FormatInt;

constexpr std::size_t kFieldNameChars =
    254;  // the file-name and ID fields are read with this limit

std::atomic<DataSync> g_sync{nullptr};

// The CSV files and the lines waiting for them are written by the file
// writer's thread and, at start and after a command, by the window's thread:
// one at a time.
std::mutex g_filesLock;

using platform::ErrnoText;

std::wstring Wide(const std::string& utf8) {
    return platform::Utf8ToWide(utf8);
}

void AppendField(std::wstring& line, std::wstring_view text) {
    for (const wchar_t c : text) {
        if (c != L'\r' && c != L'\n') line.push_back(c);
    }
    line.push_back(L';');
}

// Makes a file's new name durable: the data sync of the file does not cover
// the folder entry, and a power cut could otherwise take the whole file away.
void SyncFolderOf(const std::string& path) {
    platform::SyncFolder(platform::FolderOf(path));
}

// Waits until the file's data is on the disk, so that a power cut right after
// a record cannot take it. A file that cannot be synced at all (a pipe, a
// device) counts as written.
bool SyncData(int fd, std::string& problem) {
    const DataSync sync = g_sync.load();
    int r;
    do {
        r = sync != nullptr ? sync(fd) : ::fdatasync(fd);
    } while (r != 0 && errno == EINTR);
    if (r == 0 || errno == EINVAL || errno == EROFS) return true;
    problem = "cannot be saved to the disk: " + ErrnoText(errno);
    return false;
}

// A file opened for the writers, with the exclusive advisory lock that keeps
// other writers out while the record goes in (readers are not affected).
class LockedFile {
  public:
    LockedFile(const std::string& path, int flags) {
        constexpr int kOpen = O_CLOEXEC | O_NOCTTY;
        // Opened first without creating it, so that a new file is known as new.
        for (;;) {
            fd_ = ::open(path.c_str(), flags | kOpen);
            if (fd_ >= 0 || errno != ENOENT) break;
            fd_ = ::open(path.c_str(), flags | kOpen | O_CREAT | O_EXCL, 0666);
            if (fd_ >= 0) {
                created_ = true;
                break;
            }
            if (errno != EEXIST) break;  // else another program has just made it
        }
        if (fd_ < 0) {
            problem_ = ErrnoText(errno);
            return;
        }
        int r;
        do {
            r = ::flock(fd_, LOCK_EX | LOCK_NB);
        } while (r != 0 && errno == EINTR);
        // A file system without these locks is written unlocked rather than never.
        if (r != 0 && errno == EWOULDBLOCK) {
            problem_ = "in use by another program";
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~LockedFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& problem() const { return problem_; }
    // Whether this open made the file.
    bool created() const { return created_; }

    // Closes the file; false with errno when the system reports a late error.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_ = -1;
    bool created_ = false;
    std::string problem_;
};

// Writes all of data; false with the error when less got in (`written` tells
// how much did).
bool WriteAll(int fd, std::string_view data, std::size_t& written, std::string& problem) {
    written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            problem = n < 0 ? ErrnoText(errno) : "nothing could be written";
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

bool SizeOf(int fd, std::int64_t& size) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    size = st.st_size;
    return true;
}

// Whether the file holds `bytes` at `offset`.
bool HoldsAt(int fd, std::int64_t offset, std::string_view bytes) {
    std::string found(bytes.size(), '\0');
    std::size_t done = 0;
    while (done < found.size()) {
        const ssize_t n = ::pread(fd, found.data() + done, found.size() - done,
                                  static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return found == bytes;
}

std::wstring RecordCount(int n) {
    return FormatInt(n) + (n == 1 ? L" record" : L" records");
}

std::wstring WaitingText(const std::string& target, const PendingLines& lines) {
    std::wstring text = RecordCount(lines.Records());
    if (target == kUnnamedTarget) {
        text += L" waiting for a CSV file to be chosen with \">>\" (\"*.csv multi\")";
    } else {
        text += L" waiting for " + Wide(target) + L" (" + Wide(lines.problem) + L")";
    }
    if (!lines.persisted) {
        text += L"; not saved for a restart (" + Wide(lines.spoolProblem) + L")";
    }
    return text;
}

// Appends `line` (empty: nothing new) to the file after the lines waiting for
// it, in one write. On failure everything stays waiting and `problem` says why;
// a short write is cut off again so that the file never ends in half a line.
bool AppendWithWaiting(const std::string& path, const std::string& line, std::string& problem) {
    PendingStore& store = PendingRecords();
    const PendingLines* found = store.Find(path);
    PendingLines waiting = found != nullptr ? *found : PendingLines{};
    if (waiting.bytes.empty() && line.empty()) return true;
    if (path == kUnnamedTarget) {
        problem = "no file chosen";
        if (!line.empty()) {
            waiting.bytes += line;
            waiting.problem = problem;
            store.Keep(path, std::move(waiting));
        }
        return false;
    }

    // Reading is needed only to look for lines that may already be there.
    const int access = waiting.checkLength > 0 ? O_RDWR : O_WRONLY;
    LockedFile file(path, access | O_APPEND);
    if (!file.ok()) {
        problem = file.problem();
        if (line.empty()) {
            store.SetProblem(path, problem);
        } else {
            waiting.bytes += line;
            waiting.problem = problem;
            store.Keep(path, std::move(waiting));
        }
        return false;
    }

    std::int64_t before = 0;
    if (!SizeOf(file.fd(), before)) {
        problem = ErrnoText(errno);
        waiting.bytes += line;
        waiting.problem = problem;
        store.Keep(path, std::move(waiting));
        return false;
    }
    if (waiting.checkLength > 0) {
        // An earlier append may have reached the file without its end being seen.
        if (before >= waiting.checkOffset + static_cast<std::int64_t>(waiting.checkLength) &&
            HoldsAt(file.fd(), waiting.checkOffset,
                    std::string_view(waiting.bytes).substr(0, waiting.checkLength))) {
            waiting.bytes.erase(0, waiting.checkLength);
        }
        waiting.checkOffset = -1;
        waiting.checkLength = 0;
    }
    const int earlier = waiting.Records();
    if (!waiting.bytes.empty()) {
        // Should the station stop between this append and the removal of the
        // spool, the next run finds these lines here instead of writing them again.
        PendingLines marked = waiting;
        marked.checkOffset = before;
        marked.checkLength = marked.bytes.size();
        store.Keep(path, std::move(marked));
    }

    std::string data = std::move(waiting.bytes);
    data += line;
    std::size_t written = 0;
    if (!WriteAll(file.fd(), data, written, problem)) {
        if (written > 0 && ::ftruncate(file.fd(), static_cast<off_t>(before)) != 0) {
            problem += "; the part written could not be removed: " + ErrnoText(errno);
        }
        file.Close();
        waiting.bytes = std::move(data);
        waiting.problem = problem;
        store.Keep(path, std::move(waiting));
        return false;
    }
    const bool synced = SyncData(file.fd(), problem);
    if (!file.Close() || !synced) {
        // The data may or may not be on disk: the next attempt looks for it.
        if (synced) problem = ErrnoText(errno);
        waiting.checkOffset = before;
        waiting.checkLength = data.size();
        waiting.bytes = std::move(data);
        waiting.problem = problem;
        store.Keep(path, std::move(waiting));
        return false;
    }
    if (file.created()) SyncFolderOf(path);
    store.Clear(path);
    if (earlier > 0) {
        platform::Report(std::to_string(earlier) + " kept record(s) written to " + path);
    }
    return true;
}

// Replaces the file's contents with `line`. On a short write the file is left
// empty rather than holding half a line.
bool ReplaceWith(const std::string& path, const std::string& line, std::string& problem) {
    LockedFile file(path, O_WRONLY);
    if (!file.ok()) {
        problem = file.problem();
        return false;
    }
    // Emptied only now, under the lock, so that a file another writer holds is
    // never cut.
    if (::ftruncate(file.fd(), 0) != 0) {
        problem = ErrnoText(errno);
        return false;
    }
    std::size_t written = 0;
    if (!WriteAll(file.fd(), line, written, problem)) {
        if (written > 0 && ::ftruncate(file.fd(), 0) != 0) {
            problem += "; the part written could not be removed: " + ErrnoText(errno);
        }
        return false;
    }
    if (!SyncData(file.fd(), problem)) return false;
    const bool created = file.created();
    if (!file.Close()) {
        problem = ErrnoText(errno);
        return false;
    }
    if (created) SyncFolderOf(path);
    return true;
}

using MaybePath = std::optional<std::string>;

// Retries every waiting file but `skipPath` and shows the operator `problem`
// followed by whatever still waits (except for `reportedPath`, which `problem`
// covers).
void RetryAndShow(WindowPort& window, const MaybePath& skipPath, const MaybePath& reportedPath,
                  const std::wstring& problem) {
    PendingStore& store = PendingRecords();
    for (const std::string& target : store.Targets()) {
        if (target == skipPath || target == kUnnamedTarget) continue;
        std::string ignored;
        AppendWithWaiting(target, {}, ignored);
    }
    std::wstring text = problem;
    // A journal that cannot be written is told with the files.
    const std::wstring journal = JournalProblem();
    if (!journal.empty()) text += (text.empty() ? L"" : L"\n") + journal;
    for (const std::string& target : store.Targets()) {
        if (target == reportedPath) continue;
        if (!text.empty()) text += L'\n';
        text += WaitingText(target, *store.Find(target));
    }
    window.ShowExportProblem(text);
}

// Lines kept while "*.csv multi" had no file name go to the file it has now,
// before the new record. They are handed over only once that file has nothing
// else waiting, so that each line stays in one place.
void TakeOverUnnamedLines(const std::string& path) {
    PendingStore& store = PendingRecords();
    if (store.Find(kUnnamedTarget) == nullptr) return;
    std::string problem;
    if (store.Find(path) != nullptr && !AppendWithWaiting(path, {}, problem)) return;
    store.Move(kUnnamedTarget, path);
}

// "... (problem): N records kept, ..." for a collecting file's failed record.
std::wstring KeptText(const std::string& target) {
    const PendingLines* waiting = PendingRecords().Find(target);
    if (waiting == nullptr) return L"the record could not be kept";
    std::wstring text = RecordCount(waiting->Records()) + L" kept";
    text += target == kUnnamedTarget ? L", to be written to the file chosen next with \">>\""
                                     : L", to be written when the file can be written again";
    if (!waiting->persisted) {
        text += L"; not saved for a restart (" + Wide(waiting->spoolProblem) + L")";
    }
    return text;
}

constexpr std::wstring_view kNoFileChosen = L"No CSV file chosen (choose one with \">>\")";

}  // namespace

void SetDataSync(DataSync sync) {
    g_sync.store(sync);
}

std::wstring IdFileName(std::wstring_view idText) {
    idText = idText.substr(0, std::min(idText.size(), kFieldNameChars));
    std::wstring name = idText.empty() ? std::wstring(L"ID.csv") : std::wstring(idText) + L".csv";
    for (wchar_t& c : name) {
        const bool kept = (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') ||
                          (c >= L'a' && c <= L'z') || c == L'-' || c == L'.';
        if (!kept) c = L'_';
    }
    return name;
}

std::string CsvLine(std::wstring_view id, std::wstring_view date, std::wstring_view time,
                    const std::wstring (&slots)[kMaxSlots]) {
    std::wstring line;
    line.reserve(kSlotEntries * kMediumText + 32);
    AppendField(line, id);
    AppendField(line, date);
    AppendField(line, time);
    for (const std::wstring& field : slots) AppendField(line, field);
    std::string bytes = platform::WideToLatin1(line);
    bytes += "\r\n";
    return bytes;
}

std::wstring ExportFilePath(std::wstring_view fileNameField) {
    std::wstring name;
    switch (ExportTypeOf(g_run.ExportType).fileName) {
        case FileName::None:
            return {};
        case FileName::CsvFileName:
            name = g_run.CsvFileName.str();
            break;
        case FileName::IdFileName: {
            // The field names the file; should it ever show a folder as well,
            // that folder is not put in front of ExportPath a second time.
            const std::size_t slash = fileNameField.rfind(L'/');
            if (slash != std::wstring_view::npos) fileNameField.remove_prefix(slash + 1);
            name = fileNameField.substr(0, std::min(fileNameField.size(), kFieldNameChars));
            break;
        }
        case FileName::XlsFileName:
            name = g_run.XlsFileName.str();
            break;
    }
    std::wstring path = g_run.ExportPath.str() + name;
    // A path that ends in a folder names no file.
    if (path.empty() || path.back() == L'/') return {};
    if (path.front() != L'/') path.insert(0, g_run.ConfigDir.str());
    return path;
}

std::wstring ExportFolder() {
    std::wstring folder = g_run.ExportPath.str();
    if (folder.empty() || folder.front() != L'/') folder.insert(0, g_run.ConfigDir.str());
    return folder;
}

std::wstring CsvTargetPath(WindowPort& window) {
    const ExportType& type = ExportTypeOf(g_run.ExportType);
    if (!type.IsCsv()) return {};
    if (type.fileName == FileName::IdFileName) {
        return ExportFilePath(window.GetControlText(kFileNameField));
    }
    return ExportFilePath({});
}

bool WriteCsvSingle(const Record& record, WindowPort& window) {
    std::lock_guard<std::mutex> hold(g_filesLock);
    const std::wstring& path = record.target;
    const std::string fsPath = platform::FsPath(path);
    std::string problem;
    const bool written = !path.empty() && ReplaceWith(fsPath, CsvLineOf(record), problem);
    std::wstring text;
    if (written) {
        window.ShowRecordWritten(record.localTime, path);
    } else {
        text = path.empty() ? std::wstring(kNoFileChosen) + L": this record is not written."
                            : L"Cannot write to " + path + L" (" + Wide(problem) +
                                  L"): this record is not in the file.";
        platform::Report(text);
    }
    // Lines waiting for the same file from the appending types are not put
    // into a file that holds only the newest record.
    RetryAndShow(window, fsPath, std::nullopt, text);
    return written;
}

bool WriteCsvMulti(const Record& record, WindowPort& window) {
    std::lock_guard<std::mutex> hold(g_filesLock);
    const std::wstring& path = record.target;
    // Without a file name the line waits for the file the operator chooses.
    const std::string target = path.empty() ? kUnnamedTarget : platform::FsPath(path);
    if (!path.empty() && ExportTypeOf(record.exportType).KeepsUnnamedLines()) {
        TakeOverUnnamedLines(target);
    }
    std::string problem;
    const bool written = AppendWithWaiting(target, CsvLineOf(record), problem);
    std::wstring text;
    bool safe = written;
    if (written) {
        window.ShowRecordWritten(record.localTime, path);
    } else {
        const PendingLines* kept = PendingRecords().Find(target);
        safe = kept != nullptr && kept->persisted;
        text = path.empty() ? std::wstring(kNoFileChosen)
                            : L"Cannot write to " + path + L" (" + Wide(problem) + L")";
        text += L": " + KeptText(target) + L".";
        platform::Report(text);
    }
    RetryAndShow(window, target, written ? MaybePath() : MaybePath(target), text);
    return safe;
}

std::string FileTail(const std::string& path, std::size_t bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return {};
    std::int64_t size = 0;
    std::string tail;
    if (SizeOf(fd, size)) {
        const auto take = static_cast<std::size_t>(
            std::min<std::int64_t>(size, static_cast<std::int64_t>(bytes)));
        tail.resize(take);
        std::size_t done = 0;
        while (done < take) {
            const ssize_t n = ::pread(fd, tail.data() + done, take - done,
                                      static_cast<off_t>(size - static_cast<std::int64_t>(take) +
                                                         static_cast<std::int64_t>(done)));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        tail.resize(done);
    }
    ::close(fd);
    return tail;
}

bool FileEndsWith(const std::string& path, std::string_view lines) {
    return lines.empty() || FileTail(path, lines.size()) == lines;
}

void RetryPendingRecords(WindowPort& window) {
    std::lock_guard<std::mutex> hold(g_filesLock);
    RetryAndShow(window, std::nullopt, std::nullopt, {});
}

bool LineKeptFor(const std::string& target, const std::string& line) {
    std::lock_guard<std::mutex> hold(g_filesLock);
    const PendingLines* kept = PendingRecords().Find(target);
    return kept != nullptr && kept->bytes.find(line) != std::string::npos;
}

void ExportTargetChosen(WindowPort& window) {
    std::lock_guard<std::mutex> hold(g_filesLock);
    const std::wstring path = CsvTargetPath(window);
    if (!path.empty() && ExportTypeOf(g_run.ExportType).KeepsUnnamedLines()) {
        const std::string target = platform::FsPath(path);
        TakeOverUnnamedLines(target);
        std::string problem;
        AppendWithWaiting(target, {}, problem);
    }
    RetryAndShow(window, std::nullopt, std::nullopt, {});
}

void ReportPendingRecords(WindowPort& window) {
    std::lock_guard<std::mutex> hold(g_filesLock);
    RetryAndShow(window, std::nullopt, std::nullopt, {});
    PendingStore& store = PendingRecords();
    for (const std::string& target : store.Targets()) {
        const PendingLines& lines = *store.Find(target);
        std::wstring text = WaitingText(target, lines);
        if (lines.persisted) text += L"; kept in " + Wide(store.SpoolPath(target));
        platform::Report(text);
    }
}

void ReportRecordNotWritten(WindowPort& window, std::wstring_view why) {
    std::lock_guard<std::mutex> hold(g_filesLock);
    const std::wstring text(why);
    platform::Report(text);
    RetryAndShow(window, std::nullopt, std::nullopt, text);
}

}  // namespace karvelo::exports
