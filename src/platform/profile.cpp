#include "platform/profile.h"
#include "platform/durable_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace karvelo::platform {

namespace {

// ---------------------------------------------------------------------------
// Line syntax

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f' ||
           c == 0x1A;
}

std::wstring_view Trim(std::wstring_view s) {
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && IsBlank(s[begin])) ++begin;
    while (end > begin && IsBlank(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

bool IsAllBlank(std::wstring_view s) {
    return Trim(s).empty();
}

bool HasLineBreak(std::wstring_view s) {
    return s.find_first_of(L"\r\n") != std::wstring_view::npos;
}

// Simple one-to-one lower-casing for the scripts the station's files use:
// ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic. Independent of the
// process locale on purpose.
char32_t FoldCase(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 0x20;
    if (c < 0xC0) return c;
    if (c <= 0xDE) return c == 0xD7 ? c : c + 0x20;  // not × (D7) against ÷ (F7)
    if (c < 0x100) return c;
    if (c < 0x180) {
        if (c == 0x178) return 0xFF;  // Ÿ
        const bool evenUpper =
            (c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if ((evenUpper && c % 2 == 0) || (oddUpper && c % 2 == 1)) return c + 1;
        return c;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;  // Greek
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;                // Cyrillic А..Я
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;                // Cyrillic Ѐ..Џ
    return c;
}

char32_t ToChar32(wchar_t c) {
    return static_cast<char32_t>(static_cast<std::uint32_t>(c));
}

// DecodeFileText keeps a stray byte of a UTF-8 file with a mark as U+DC80..
// U+DCFF. For reading and matching it stands for its Windows-1252 character,
// as Utf8ToWide would show it.
bool IsByteEscape(char32_t c) {
    return c >= 0xDC80 && c <= 0xDCFF;
}

wchar_t Visible(wchar_t c, bool escapes) {
    if (!escapes || !IsByteEscape(ToChar32(c))) return c;
    const char byte = static_cast<char>(ToChar32(c) - 0xDC00);
    return Utf8ToWide(std::string_view(&byte, 1)).front();
}

bool NamesEqual(std::wstring_view a, std::wstring_view b, bool escapes) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(ToChar32(Visible(a[i], escapes))) !=
            FoldCase(ToChar32(Visible(b[i], escapes)))) {
            return false;
        }
    }
    return true;
}

std::wstring_view Unquote(std::wstring_view value) {
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

enum class LineKind { Other, Section, Key };

struct LineParts {
    LineKind kind = LineKind::Other;
    std::wstring_view name;   // section or key name, trimmed
    std::wstring_view value;  // key value, trimmed, quotes still on
};

LineParts Classify(std::wstring_view line) {
    LineParts parts;
    const std::wstring_view text = Trim(line);
    if (text.empty() || text.front() == L';') return parts;
    if (text.front() == L'[') {
        // A '[' line without ']' is neither a header nor a key.
        const std::size_t close = text.rfind(L']');
        if (close != std::wstring_view::npos && close > 0) {
            parts.kind = LineKind::Section;
            parts.name = Trim(text.substr(1, close - 1));
        }
        return parts;
    }
    const std::size_t eq = text.find(L'=');
    if (eq == std::wstring_view::npos) return parts;
    parts.kind = LineKind::Key;
    parts.name = Trim(text.substr(0, eq));
    parts.value = Trim(text.substr(eq + 1));
    return parts;
}

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Index of the header of the first section called name, or kNone.
std::size_t FindSection(const std::vector<std::wstring>& lines, std::wstring_view name,
                        bool escapes) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const LineParts parts = Classify(lines[i]);
        if (parts.kind == LineKind::Section && NamesEqual(parts.name, name, escapes)) return i;
    }
    return kNone;
}

// ---------------------------------------------------------------------------
// Files

struct FileRead {
    ProfileSource source = ProfileSource::Read;
    int error = 0;        // errno, for Unreadable
    mode_t fileType = 0;  // for NotAFile
};

FileRead Outcome(ProfileSource source, int error = 0, mode_t fileType = 0) {
    FileRead r;
    r.source = source;
    r.error = error;
    r.fileType = fileType;
    return r;
}

FileRead ReadWholeFile(const std::string& path, std::string& out) {
    out.clear();
    // O_NONBLOCK so that a FIFO at the path cannot stall the caller; it has no
    // effect on regular files.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT ? Outcome(ProfileSource::Missing)
                               : Outcome(ProfileSource::Unreadable, errno);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return Outcome(ProfileSource::Unreadable, error);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Outcome(ProfileSource::NotAFile, 0, st.st_mode & S_IFMT);
    }
    if (st.st_size > static_cast<off_t>(kMaxProfileBytes)) {
        ::close(fd);
        return Outcome(ProfileSource::TooLarge);
    }
    if (st.st_size > 0) out.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
            // A file that grows while it is read is held to the same limit.
            if (out.size() > kMaxProfileBytes) {
                ::close(fd);
                out.clear();
                return Outcome(ProfileSource::TooLarge);
            }
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            const int error = errno;
            ::close(fd);
            out.clear();
            return Outcome(ProfileSource::Unreadable, error);
        }
    }
    ::close(fd);
    return {};
}

// Text files hold no control characters but blanks and line ends. Anything
// else is binary data, or text in an encoding that has no mark to tell it by
// (UTF-16 without BOM shows as NULs): reading keys out of it would give
// defaults without a word, and writing keys into it would damage it.
bool IsText(const std::vector<std::wstring>& lines) {
    for (const std::wstring& line : lines) {
        for (const wchar_t c : line) {
            if (ToChar32(c) < 0x20 && !IsBlank(c)) return false;
        }
    }
    return true;
}

void SplitPath(const std::string& path, std::string& dir, std::string& base) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        dir = ".";
        base = path;
    } else {
        dir = slash == 0 ? std::string("/") : path.substr(0, slash);
        base = path.substr(slash + 1);
    }
}

// Follows symbolic links to the file they name, which need not exist yet. The
// replacement must land there: renaming over the link itself would turn it into
// a plain file and leave the real target stale.
bool ResolveLinks(std::string path, std::string& target) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) return false;
            target = std::move(path);
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            target = std::move(path);
            return true;
        }
        std::string link(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 4096, '\0');
        ssize_t n = 0;
        for (;;) {
            n = ::readlink(path.c_str(), link.data(), link.size());
            if (n < 0) return false;
            if (static_cast<std::size_t>(n) < link.size()) break;
            link.resize(link.size() * 2);
        }
        link.resize(static_cast<std::size_t>(n));
        if (link.empty()) return false;
        if (link.front() != '/') {
            std::string dir;
            std::string base;
            SplitPath(path, dir, base);
            link = dir + "/" + link;
        }
        path = std::move(link);
    }
    return false;  // a loop of links
}

// The process umask, read without changing it (umask() would race with other
// threads creating files).
mode_t CurrentUmask() {
    std::string status;
    if (ReadWholeFile("/proc/self/status", status).source == ProfileSource::Read) {
        const std::size_t at = status.find("\nUmask:");
        if (at != std::string::npos) {
            std::size_t i = at + 7;
            while (i < status.size() && (status[i] == ' ' || status[i] == '\t')) ++i;
            mode_t mask = 0;
            bool digits = false;
            for (; i < status.size() && status[i] >= '0' && status[i] <= '7'; ++i) {
                mask = static_cast<mode_t>(mask * 8 + static_cast<mode_t>(status[i] - '0'));
                digits = true;
            }
            if (digits) return mask & 0777;
        }
    }
    return 022;
}

// The temporary file of a write is ".<name>.XXXXXX" beside its target, where
// mkostemp fills in the six characters: a hidden name, short enough for
// NAME_MAX whatever the target's length.
constexpr std::size_t kTemporaryNameChars = 64;
constexpr std::string_view kTemporarySuffix = ".XXXXXX";

std::string TemporaryPrefix(const std::string& base) {
    return "." + base.substr(0, kTemporaryNameChars) + ".";
}

bool IsTemporaryName(std::string_view name, std::string_view prefix) {
    if (name.size() != prefix.size() + kTemporarySuffix.size() - 1 || !name.starts_with(prefix)) {
        return false;
    }
    for (const char c : name.substr(prefix.size())) {
        const bool fill =
            (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!fill) return false;
    }
    return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A new temporary file for a write of dir/base, locked for as long as it is
// open: the lock tells a cleanup in another process that the write is alive.
// -1 when none can be made.
int CreateLockedTemporary(const std::string& dir, const std::string& base, std::string& name) {
    // A cleanup may remove the file between its creation and the lock; then
    // the path no longer names it and a new one is made.
    for (int attempt = 0; attempt < 3; ++attempt) {
        name = dir + "/" + TemporaryPrefix(base) + std::string(kTemporarySuffix.substr(1));
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return -1;
        struct stat mine {};
        struct stat there {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &mine) == 0 &&
            ::lstat(name.c_str(), &there) == 0 && SameFile(mine, there)) {
            return fd;
        }
        ::close(fd);
    }
    return -1;
}

// Writes data to a new file next to target and renames it over target, so that
// readers see either the old or the new contents, never a part. `old` holds the
// current file's status, or nullptr when there is none.
bool ReplaceFile(const std::string& target, std::string_view data, const struct stat* old) {
    std::string dir;
    std::string base;
    SplitPath(target, dir, base);
    if (base.empty() || base == "." || base == "..") return false;

    std::string temporary;
    const int fd = CreateLockedTemporary(dir, base, temporary);
    if (fd < 0) return false;

    bool ok = WriteAll(fd, data) == 0;
    if (old != nullptr) {
        ok = ok && KeepOwnerAndMode(fd, *old) == 0;
    } else {
        ok = ok && ::fchmod(fd, 0644 & ~CurrentUmask()) == 0;
    }
    // Put in place while still open and locked, so that no cleanup takes it
    // for a leftover between the two steps.
    ok = ok && PutInPlace(fd, temporary, target) == 0;
    if (!ok) ::unlink(temporary.c_str());
    ::close(fd);
    return ok;
}

}  // namespace

ProfileDocument ProfileDocument::Load(const std::string& path) {
    std::string bytes;
    const FileRead read = ReadWholeFile(path, bytes);
    ProfileDocument doc;
    if (read.source != ProfileSource::Read) {
        doc.source_ = read.source;
        doc.error_ = read.error;
        doc.fileType_ = read.fileType;
        return doc;
    }
    doc = Parse(bytes);
    if (!IsText(doc.lines_)) {
        doc = ProfileDocument();
        doc.source_ = ProfileSource::NotText;
    }
    return doc;
}

std::wstring ProfileDocument::Problem() const {
    switch (source_) {
        case ProfileSource::Missing:
        case ProfileSource::Read:
            return {};
        case ProfileSource::Unreadable:
            return Utf8ToWide(ErrnoText(error_));
        case ProfileSource::NotAFile:
            if (fileType_ == S_IFDIR) return L"it is a folder";
            if (fileType_ == S_IFIFO) return L"it is a named pipe";
            return L"it is not a regular file";
        case ProfileSource::TooLarge:
            static_assert(kMaxProfileBytes == 16 * 1024 * 1024);
            return L"it is larger than 16 MiB";
        case ProfileSource::NotText:
            return L"it is not a text file in UTF-8, UTF-16 with byte-order mark or "
                   L"Windows-1252";
    }
    return {};
}

ProfileDocument ProfileDocument::Parse(std::string_view bytes) {
    ProfileDocument doc;
    doc.exists_ = true;
    doc.source_ = ProfileSource::Read;
    // UTF-16 text is whole code units; a byte left over cannot be decoded but
    // must survive a write.
    if ((bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) && bytes.size() % 2 != 0) {
        doc.tail_ = std::string(bytes.substr(bytes.size() - 1));
        bytes.remove_suffix(1);
    }
    const std::wstring text = DecodeFileText(bytes, doc.encoding_);

    bool sawLineEnd = false;
    bool sawCrlf = false;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lf = text.find(L'\n', start);
        if (lf == std::wstring::npos) {
            doc.lines_.emplace_back(text, start);
            doc.finalNewline_ = false;
            break;
        }
        doc.lines_.emplace_back(text, start, lf - start);
        sawLineEnd = true;
        if (lf > start && text[lf - 1] == L'\r') sawCrlf = true;
        start = lf + 1;
    }
    // A file without any line end gives no hint; use the default of new files.
    doc.crlf_ = sawCrlf || !sawLineEnd;
    return doc;
}

std::optional<std::wstring> ProfileDocument::Find(std::wstring_view section,
                                                  std::wstring_view key) const {
    const std::wstring_view name = Trim(key);
    if (name.empty()) return std::nullopt;
    const bool escapes = encoding_ == TextEncoding::Utf8Bom;
    const std::size_t header = FindSection(lines_, Trim(section), escapes);
    if (header == kNone) return std::nullopt;
    for (std::size_t i = header + 1; i < lines_.size(); ++i) {
        const LineParts parts = Classify(lines_[i]);
        if (parts.kind == LineKind::Section) break;
        if (parts.kind == LineKind::Key && NamesEqual(parts.name, name, escapes)) {
            std::wstring value(Unquote(parts.value));
            if (escapes) {
                for (wchar_t& c : value) c = Visible(c, true);
            }
            return value;
        }
    }
    return std::nullopt;
}

std::wstring ProfileDocument::ReadString(std::wstring_view section, std::wstring_view key,
                                         std::wstring_view defaultValue) const {
    std::optional<std::wstring> value = Find(section, key);
    return value ? std::move(*value) : std::wstring(defaultValue);
}

bool ProfileDocument::Set(std::wstring_view section, std::wstring_view key,
                          std::wstring_view value) {
    const std::wstring_view sectionName = Trim(section);
    const std::wstring_view name = Trim(key);
    // Refuse what would not read back as this key: a line break would start new
    // lines (even a new section), and these names parse as something else.
    if (name.empty() || name.find(L'=') != std::wstring_view::npos || name.front() == L'[' ||
        name.front() == L';') {
        return false;
    }
    if (HasLineBreak(sectionName) || HasLineBreak(name) || HasLineBreak(value)) return false;

    const std::wstring_view lineEnd = crlf_ ? L"\r" : L"";  // the LF comes from the join
    std::wstring keyLine;
    keyLine.reserve(name.size() + value.size() + 2);
    keyLine.append(name).append(L"=").append(value).append(lineEnd);

    const auto endLastLine = [this] {
        if (!lines_.empty() && !finalNewline_ && crlf_ &&
            (lines_.back().empty() || lines_.back().back() != L'\r')) {
            lines_.back().push_back(L'\r');
        }
        finalNewline_ = true;
    };

    const bool escapes = encoding_ == TextEncoding::Utf8Bom;
    const std::size_t header = FindSection(lines_, sectionName, escapes);
    if (header == kNone) {
        endLastLine();
        std::wstring headerLine;
        headerLine.append(L"[").append(sectionName).append(L"]").append(lineEnd);
        lines_.push_back(std::move(headerLine));
        lines_.push_back(std::move(keyLine));
        return true;
    }

    std::size_t lastNonBlank = header;
    for (std::size_t i = header + 1; i < lines_.size(); ++i) {
        const LineParts parts = Classify(lines_[i]);
        if (parts.kind == LineKind::Section) break;
        if (parts.kind == LineKind::Key && NamesEqual(parts.name, name, escapes)) {
            // Keep the file's spelling of the name and the line's own line end.
            std::wstring replaced;
            replaced.append(parts.name).append(L"=").append(value);
            if (lines_[i].back() == L'\r') replaced.push_back(L'\r');
            lines_[i] = std::move(replaced);
            return true;
        }
        if (!IsAllBlank(lines_[i])) lastNonBlank = i;
    }
    // After the section's last non-blank line, so that blank lines keep
    // separating it from the next section.
    const std::size_t at = lastNonBlank + 1;
    if (at == lines_.size()) {
        endLastLine();
        lines_.push_back(std::move(keyLine));
    } else {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(keyLine));
    }
    return true;
}

std::string ProfileDocument::Serialize() const {
    std::size_t length = 0;
    for (const std::wstring& line : lines_) length += line.size() + 1;
    std::wstring text;
    text.reserve(length);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        text.append(lines_[i]);
        if (i + 1 < lines_.size() || finalNewline_) text.push_back(L'\n');
    }
    std::string bytes = EncodeFileText(text, encoding_);
    bytes.append(tail_);
    return bytes;
}

bool ProfileDocument::Save(const std::string& path) const {
    if (path.empty()) return false;
    std::string target;
    if (!ResolveLinks(path, target)) return false;

    struct stat st {};
    const struct stat* old = nullptr;
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return false;
        // rename() would happily replace a read-only file, so ask first. Root
        // passes access(W_OK) for any file; a file without a single write bit
        // is still meant to stay as it is.
        if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) return false;
        // A document that found no file (or could not read it) holds nothing of
        // this file; writing it would throw the file's other keys away.
        if (!exists_) return false;
        old = &st;
    } else if (errno != ENOENT) {
        return false;
    }
    if (!ReplaceFile(target, Serialize(), old)) return false;
    exists_ = true;
    return true;
}

std::wstring ReadProfileString(std::wstring_view section, std::wstring_view key,
                               std::wstring_view defaultValue, const std::string& path) {
    return ProfileDocument::Load(path).ReadString(section, key, defaultValue);
}

bool WriteProfileString(std::wstring_view section, std::wstring_view key, std::wstring_view value,
                        const std::string& path) {
    ProfileDocument doc = ProfileDocument::Load(path);
    // Writing an empty document over a file that could not be read would
    // throw its contents away.
    if (doc.source() != ProfileSource::Read && doc.source() != ProfileSource::Missing) return false;
    return doc.Set(section, key, value) && doc.Save(path);
}

int RemoveStaleTemporaryFiles(const std::string& path) {
    std::string target;
    if (path.empty() || !ResolveLinks(path, target)) return 0;
    std::string dir;
    std::string base;
    SplitPath(target, dir, base);
    if (base.empty() || base == "." || base == "..") return 0;
    const std::string prefix = TemporaryPrefix(base);

    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            if (IsTemporaryName(e->d_name, prefix)) names.emplace_back(e->d_name);
        }
        ::closedir(d);
    }
    int removed = 0;
    for (const std::string& name : names) {
        const std::string file = dir + "/" + name;
        const int fd =
            ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
        if (fd < 0) continue;
        struct stat st {};
        struct stat there {};
        // Unlocked means its writer is gone; the name must still be that file.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::lstat(file.c_str(), &there) == 0 && SameFile(st, there) &&
            ::unlink(file.c_str()) == 0) {
            ++removed;
        }
        ::close(fd);
    }
    return removed;
}

}  // namespace karvelo::platform
