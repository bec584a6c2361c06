#include "export/pending_records.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <limits>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/durable_file.h"
#include "platform/program_path.h"
#include "platform/report.h"
#include "state/run_state.h"

namespace karvelo::exports {
namespace {

constexpr std::string_view kSpoolPrefix = "karvelo-pending-";
constexpr std::string_view kSpoolSuffix = ".spool";
constexpr std::string_view kMagicLine = "karvelo pending records";
constexpr std::string_view kTargetKey = "target ";
constexpr std::string_view kCheckKey = "check ";
constexpr std::size_t kNameChars = 64;  // of the target's file name, to stay within NAME_MAX
constexpr std::string_view kUnnamedSpoolName = "no-file-chosen";

using platform::ErrnoText;

std::uint64_t Fnv1a(std::string_view text) {
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return h;
}

std::string Hex16(std::uint64_t v) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kDigits[v & 0xF];
        v >>= 4;
    }
    return out;
}

std::string Decimal(std::int64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

bool ParseDecimal(std::string_view text, std::int64_t& v) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// Cuts the next '\n'-terminated line off `rest`; false when there is none.
bool TakeLine(std::string_view& rest, std::string_view& line) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) return false;
    line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    return true;
}

using platform::SyncFolder;

// A spool's temporary file that a killed write left behind: "<spool>.tmp-XXXXXX",
// untouched for longer than any write takes. A write in progress (of another
// station on the same folder) is seconds younger and stays.
constexpr std::string_view kTemporaryMark = ".tmp-";
constexpr std::size_t kTemporarySuffixChars = 6;
constexpr time_t kStaleTemporarySeconds = 60;

bool IsStaleSpoolTemporary(const std::string& folder, std::string_view name) {
    const std::size_t mark = name.rfind(kTemporaryMark);
    if (!name.starts_with(kSpoolPrefix) || mark == std::string_view::npos ||
        name.size() != mark + kTemporaryMark.size() + kTemporarySuffixChars ||
        !name.substr(0, mark).ends_with(kSpoolSuffix)) {
        return false;
    }
    struct stat st {};
    const std::string path = folder + std::string(name);
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return ::time(nullptr) - st.st_mtime > kStaleTemporarySeconds;
}

std::string SpoolText(const std::string& target, const PendingLines& lines) {
    std::string text(kMagicLine);
    text += '\n';
    text += kTargetKey;
    text += target;
    text += '\n';
    text += kCheckKey;
    text += Decimal(lines.checkOffset);
    text += ' ';
    text += Decimal(static_cast<std::int64_t>(lines.checkLength));
    text += '\n';
    text += lines.bytes;
    return text;
}

// Reads a spool file; false when it is not one of ours or is damaged.
bool ParseSpool(std::string_view text, std::string& target, PendingLines& lines) {
    std::string_view magic, targetLine, checkLine;
    if (!TakeLine(text, magic) || magic != kMagicLine) return false;
    if (!TakeLine(text, targetLine) || !targetLine.starts_with(kTargetKey)) return false;
    if (!TakeLine(text, checkLine) || !checkLine.starts_with(kCheckKey)) return false;
    checkLine.remove_prefix(kCheckKey.size());
    const std::size_t blank = checkLine.find(' ');
    if (blank == std::string_view::npos) return false;
    std::int64_t offset = 0, length = 0;
    if (!ParseDecimal(checkLine.substr(0, blank), offset) ||
        !ParseDecimal(checkLine.substr(blank + 1), length) || length < 0 ||
        static_cast<std::uint64_t>(length) > text.size()) {
        return false;
    }
    // No file reaches past the largest offset, so a check that ends there
    // cannot find its lines: they are written like unchecked ones.
    const bool checked = offset >= 0 && offset <= std::numeric_limits<std::int64_t>::max() - length;
    target = std::string(targetLine.substr(kTargetKey.size()));
    lines.bytes = std::string(text);
    lines.checkOffset = checked ? offset : -1;
    lines.checkLength = checked ? static_cast<std::size_t>(length) : 0;
    lines.problem = "kept from an earlier run";
    lines.persisted = true;
    return !lines.bytes.empty();
}

}  // namespace

int PendingLines::Records() const {
    return static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n'));
}

PendingStore::PendingStore(std::string folder) : folder_(std::move(folder)) {
    LoadSpools();
}

const PendingLines* PendingStore::Find(const std::string& target) const {
    const auto it = lines_.find(target);
    return it == lines_.end() ? nullptr : &it->second;
}

std::vector<std::string> PendingStore::Targets() const {
    std::vector<std::string> targets;
    targets.reserve(lines_.size());
    for (const auto& [target, lines] : lines_) targets.push_back(target);
    return targets;
}

std::string PendingStore::SpoolPath(const std::string& target) const {
    if (folder_.empty()) return {};
    const std::size_t slash = target.rfind('/');
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (target == kUnnamedTarget) name = kUnnamedSpoolName;
    // Only plain characters in the name: the hash tells the targets apart.
    for (char& c : name) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                           (c >= 'a' && c <= 'z') || c == '-' || c == '.' || c == '_';
        if (!plain) c = '_';
    }
    name.resize(std::min(name.size(), kNameChars));
    std::string path = folder_;
    path += kSpoolPrefix;
    path += name;
    path += '-';
    path += Hex16(Fnv1a(target));
    path += kSpoolSuffix;
    return path;
}

bool PendingStore::Keep(const std::string& target, PendingLines lines) {
    lines.persisted = false;
    lines.spoolProblem.clear();
    const std::string spool = SpoolPath(target);
    if (spool.empty()) {
        lines.spoolProblem = "no configuration folder";
    } else if (target.find('\n') != std::string::npos) {
        lines.spoolProblem = "the file name holds a line break";
    } else {
        lines.spoolProblem = platform::ReplaceFileAtomically(spool, SpoolText(target, lines));
        lines.persisted = lines.spoolProblem.empty();
    }
    const bool persisted = lines.persisted;
    lines_[target] = std::move(lines);
    return persisted;
}

void PendingStore::SetProblem(const std::string& target, const std::string& problem) {
    const auto it = lines_.find(target);
    if (it != lines_.end()) it->second.problem = problem;
}

void PendingStore::Clear(const std::string& target) {
    if (lines_.erase(target) == 0) return;
    const std::string spool = SpoolPath(target);
    if (spool.empty() || ::unlink(spool.c_str()) == 0 || errno == ENOENT) return;
    // The lines are in the file; a spool left behind carries the check that
    // keeps the next run from writing them again.
    platform::Report("cannot remove " + spool + ": " + ErrnoText(errno));
}

bool PendingStore::Move(const std::string& from, const std::string& to) {
    const auto it = lines_.find(from);
    if (it == lines_.end() || from == to) return true;
    if (lines_.count(to) != 0) return false;
    PendingLines lines = it->second;
    // A check belongs to the file the lines were appended to.
    lines.checkOffset = -1;
    lines.checkLength = 0;
    if (!lines.persisted) {
        lines_.erase(it);
        Keep(to, std::move(lines));
        const std::string oldSpool = SpoolPath(from);
        if (!oldSpool.empty()) ::unlink(oldSpool.c_str());
        return true;
    }
    if (to.find('\n') != std::string::npos) return false;
    const std::string oldSpool = SpoolPath(from);
    const std::string newSpool = SpoolPath(to);
    // First the contents name the new target (the loader takes such a file in
    // under its new name), then the name follows.
    if (!platform::ReplaceFileAtomically(oldSpool, SpoolText(to, lines)).empty()) return false;
    if (::rename(oldSpool.c_str(), newSpool.c_str()) != 0) {
        const int error = errno;
        if (platform::ReplaceFileAtomically(oldSpool, SpoolText(from, it->second)).empty()) {
            return false;
        }
        // Neither renamed nor restored: the lines stay in memory only, for
        // `to`, and the file that names `to` under the old name goes.
        ::unlink(oldSpool.c_str());
        lines.persisted = false;
        lines.spoolProblem = ErrnoText(error);
        lines_.erase(it);
        lines_[to] = std::move(lines);
        return true;
    }
    SyncFolder(folder_);
    lines_.erase(it);
    lines_[to] = std::move(lines);
    return true;
}

bool PendingStore::AdoptMisnamedSpool(const std::string& path, const std::string& target) {
    const std::string proper = SpoolPath(target);
    if (lines_.count(target) != 0 || ::access(proper.c_str(), F_OK) == 0) return false;
    if (::rename(path.c_str(), proper.c_str()) != 0) return false;
    SyncFolder(folder_);
    return true;
}

void PendingStore::LoadSpools() {
    if (folder_.empty()) return;
    DIR* dir = ::opendir(folder_.c_str());
    if (dir == nullptr) return;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name(e->d_name);
        if (IsStaleSpoolTemporary(folder_, name)) {
            ::unlink((folder_ + std::string(name)).c_str());
            continue;
        }
        if (!name.starts_with(kSpoolPrefix) || !name.ends_with(kSpoolSuffix)) continue;
        const std::string path = folder_ + std::string(name);
        std::string text;
        std::string target;
        PendingLines lines;
        std::string unread;
        if (!platform::ReadWholeFile(path, text, unread, platform::Links::Refuse) ||
            !ParseSpool(text, target, lines)) {
            platform::Report("ignoring unreadable spool file " + path);
            continue;
        }
        if (SpoolPath(target) != path) {
            // Should the listing show the renamed file again, it is read again
            // with the same lines.
            if (!AdoptMisnamedSpool(path, target)) {
                platform::Report("ignoring spool file " + path + ": it is not the one for " +
                                 target);
                continue;
            }
        }
        lines_[target] = std::move(lines);
    }
    ::closedir(dir);
}

namespace {
std::unique_ptr<PendingStore> g_store;
}  // namespace

PendingStore& PendingRecords() {
    const std::string folder = platform::FsPath(g_run.ConfigDir.str());
    if (!g_store || g_store->folder() != folder) g_store = std::make_unique<PendingStore>(folder);
    return *g_store;
}

void ReloadPendingRecords() {
    g_store.reset();
}

}  // namespace karvelo::exports
