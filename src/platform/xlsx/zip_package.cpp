#include "platform/xlsx/zip_package.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/durable_file.h"
#include "platform/text_encoding.h"
#include "platform/xlsx/workbook.h"

namespace karvelo::platform::xlsx {
namespace {

std::wstring W(const std::string& s) {
    return Utf8ToWide(s);
}

std::wstring ErrnoText(int error) {
    return W(platform::ErrnoText(error));
}

// What a file that is not a zip package is, for the operator.
[[noreturn]] void RefuseNonPackage(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(8, '\0');
    in.read(head.data(), 8);
    const std::string ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    if (in.gcount() == 8 && head == ole) {
        std::ifstream whole(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(whole)),
                                std::istreambuf_iterator<char>());
        const std::string marker("E\0n\0c\0r\0y\0p\0t\0i\0o\0n\0I\0n\0f\0o\0", 28);
        if (bytes.find(marker) != std::string::npos) {
            throw WorkbookError(L"The workbook " + W(path) +
                                L" is protected with a password, which the station cannot "
                                L"open. Save it without a password.");
        }
        throw WorkbookError(L"The file " + W(path) +
                            L" is an Excel 97-2003 workbook (.xls), which the station cannot "
                            L"write. Open it in a spreadsheet program and save it as .xlsx.");
    }
    throw WorkbookError(L"The file " + W(path) + L" is not a workbook (.xlsx or .xlsm).");
}

// A save holds a shared lock on the workbook from before its copy is made
// until the copy has taken the workbook's place or is gone: a copy found
// while nobody holds the lock is one that a killed station left behind.
class SaveLock {
  public:
    SaveLock(const std::string& path, int operation)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)) {
        held_ = fd_ >= 0 && ::flock(fd_, operation) == 0;
    }
    ~SaveLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    SaveLock(const SaveLock&) = delete;
    SaveLock& operator=(const SaveLock&) = delete;
    bool held() const { return held_; }

  private:
    int fd_;
    bool held_ = false;
};

bool IsFillCharacter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// "NAME.save-XXXXXX", or the archive library's own temporary beside it
// ("NAME.save-XXXXXX.XXXXXX"): the names of a save's copies of NAME.
bool IsSaveCopyOf(std::string_view name, std::string_view base) {
    const std::string prefix = std::string(base) + ".save-";
    if (!name.starts_with(prefix)) return false;
    name.remove_prefix(prefix.size());
    const auto fill = [](std::string_view part) {
        return part.size() == 6 && std::all_of(part.begin(), part.end(), IsFillCharacter);
    };
    if (name.size() == 6) return fill(name);
    return name.size() == 13 && name[6] == '.' && fill(name.substr(0, 6)) && fill(name.substr(7));
}

// Removes the copies of `path` that saves of a killed station left, and only
// ours: their names, our user, and no save running.
void RemoveStaleSaveCopies(const std::string& path) {
    const SaveLock noSaveRuns(path, LOCK_EX | LOCK_NB);
    if (!noSaveRuns.held()) return;
    const std::filesystem::path file(path);
    const std::string base = file.filename().string();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(
             file.has_parent_path() ? file.parent_path() : std::filesystem::path("."), ec)) {
        const std::string name = entry.path().filename().string();
        if (!IsSaveCopyOf(name, base)) continue;
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid()) {
            continue;
        }
        ::unlink(entry.path().c_str());
    }
}

}  // namespace

FileStamp StampOf(const std::string& path) {
    struct stat st {};
    FileStamp stamp;
    if (::stat(path.c_str(), &st) != 0) return stamp;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return stamp;
}

ZipPackage::ZipPackage(const std::string& path) : path_(path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int error = errno;
        throw WorkbookError(L"The workbook " + W(path) + L" cannot be opened: " + ErrnoText(error) +
                            L".");
    }
    if (!S_ISREG(st.st_mode)) throw WorkbookError(L"The workbook " + W(path) + L" is not a file.");
    RemoveStaleSaveCopies(path);
    OpenArchive();
}

void ZipPackage::OpenArchive() {
    int error = 0;
    archive_ = zip_open(path_.c_str(), ZIP_RDONLY, &error);
    if (archive_ == nullptr) {
        if (error == ZIP_ER_OPEN || error == ZIP_ER_READ) {
            throw WorkbookError(L"The workbook " + W(path_) + L" cannot be read: " +
                                ErrnoText(errno) + L".");
        }
        RefuseNonPackage(path_);
    }
}

ZipPackage::~ZipPackage() {
    if (archive_ != nullptr) zip_discard(archive_);
}

bool ZipPackage::Has(const std::string& name) const {
    return zip_name_locate(archive_, name.c_str(), 0) >= 0;
}

std::optional<std::string> ZipPackage::Read(const std::string& name) const {
    const zip_int64_t index = zip_name_locate(archive_, name.c_str(), 0);
    if (index < 0) return std::nullopt;
    const std::wstring part = L"The part " + W(name) + L" of " + W(path_);
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive_, static_cast<zip_uint64_t>(index), 0, &st) != 0 ||
        (st.valid & ZIP_STAT_SIZE) == 0) {
        throw WorkbookError(part + L" cannot be read.");
    }
    const auto mib = [](std::uint64_t bytes) { return std::to_wstring(bytes >> 20) + L" MiB"; };
    if (st.size > kMaxPartBytes) {
        throw WorkbookError(part + L" claims " + mib(st.size) + L", more than the " +
                            mib(kMaxPartBytes) + L" the station reads from one part.");
    }
    if (inflated_ + st.size > kMaxPackageBytes) {
        throw WorkbookError(L"The workbook " + W(path_) + L" holds more than the " +
                            mib(kMaxPackageBytes) + L" the station reads from one workbook.");
    }
    zip_file_t* file = zip_fopen_index(archive_, static_cast<zip_uint64_t>(index), 0);
    if (file == nullptr) {
        throw WorkbookError(part + L" cannot be read: " + W(zip_strerror(archive_)) + L".");
    }
    // Inflated piece by piece up to the size the index declares, and one byte
    // beyond to find a part that holds more: memory follows what is really
    // there, never what a header claims.
    constexpr std::size_t kPiece = 1 << 20;
    std::string bytes;
    bool damaged = false;
    while (!damaged) {
        const std::uint64_t wanted = st.size + 1 - bytes.size();
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, kPiece));
        const std::size_t had = bytes.size();
        bytes.resize(had + piece);
        const zip_int64_t got = zip_fread(file, bytes.data() + had, piece);
        if (got < 0) damaged = true;
        bytes.resize(had + static_cast<std::size_t>(std::max<zip_int64_t>(got, 0)));
        if (got <= 0 || bytes.size() > st.size) break;
    }
    zip_fclose(file);
    if (damaged || bytes.size() != st.size) throw WorkbookError(part + L" is damaged.");
    inflated_ += st.size;
    return bytes;
}

void ZipPackage::Save(const std::map<std::string, std::string>& replaced,
                      const std::map<std::string, bool>& removed) {
    const std::wstring failed = L"The workbook " + W(path_) + L" cannot be saved: ";
    const SaveLock saving(path_, LOCK_SH);
    struct stat original {};
    if (::stat(path_.c_str(), &original) != 0) {
        const int error = errno;
        throw WorkbookError(failed + ErrnoText(error) + L".");
    }

    // A copy of the current file beside it receives the changes; libzip then
    // copies every unchanged part's compressed bytes as they are.
    std::string temp = path_ + ".save-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        const int error = errno;
        throw WorkbookError(failed + ErrnoText(error) + L".");
    }
    auto fail = [&](const std::wstring& why) {
        ::unlink(temp.c_str());
        throw WorkbookError(failed + why + L".");
    };
    {
        const int in = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) {
            const int error = errno;
            ::close(fd);
            fail(ErrnoText(error));
        }
        std::vector<char> buffer(1 << 16);
        for (;;) {
            const ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n == 0) break;
            if (n < 0) {
                if (errno == EINTR) continue;
                const int error = errno;
                ::close(in);
                ::close(fd);
                fail(ErrnoText(error));
            }
            const int error =
                WriteAll(fd, std::string_view(buffer.data(), static_cast<std::size_t>(n)));
            if (error != 0) {
                ::close(in);
                ::close(fd);
                fail(ErrnoText(error));
            }
        }
        ::close(in);
        if (::close(fd) != 0) fail(ErrnoText(errno));
    }

    int error = 0;
    zip_t* out = zip_open(temp.c_str(), 0, &error);
    if (out == nullptr) fail(L"the copy cannot be opened");
    for (const auto& [name, bytes] : replaced) {
        void* copy = std::malloc(bytes.size() ? bytes.size() : 1);
        if (copy == nullptr) {
            zip_discard(out);
            fail(L"out of memory");
        }
        std::memcpy(copy, bytes.data(), bytes.size());
        zip_source_t* source = zip_source_buffer(out, copy, bytes.size(), 1);
        if (source == nullptr) {
            std::free(copy);
            zip_discard(out);
            fail(L"out of memory");
        }
        const zip_int64_t index = zip_name_locate(out, name.c_str(), 0);
        const bool ok =
            index >= 0 ? zip_file_replace(out, static_cast<zip_uint64_t>(index), source, 0) == 0
                       : zip_file_add(out, name.c_str(), source, ZIP_FL_ENC_UTF_8) >= 0;
        if (!ok) {
            const std::wstring why = W(zip_strerror(out));
            zip_source_free(source);
            zip_discard(out);
            fail(why);
        }
        // Fast deflate: a record costs one save, so the save must be cheap.
        // (libzip keeps its default level for a replaced entry unless the
        // method is given as "default".)
        zip_set_file_compression(out,
                                 static_cast<zip_uint64_t>(zip_name_locate(out, name.c_str(), 0)),
                                 ZIP_CM_DEFAULT, 1);
    }
    for (const auto& [name, gone] : removed) {
        const zip_int64_t index = zip_name_locate(out, name.c_str(), 0);
        if (gone && index >= 0) zip_delete(out, static_cast<zip_uint64_t>(index));
    }
    if (zip_close(out) != 0) {
        const std::wstring why = W(zip_strerror(out));
        zip_discard(out);
        fail(why);
    }

    // On the disk before it takes the file's place, with the file's owner and
    // permissions.
    const int synced = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (synced < 0) fail(ErrnoText(errno));
    int placed = KeepOwnerAndMode(synced, original);
    if (placed == 0) placed = PutInPlace(synced, temp, path_);
    ::close(synced);
    if (placed != 0) fail(ErrnoText(placed));

    zip_discard(archive_);
    archive_ = nullptr;
    OpenArchive();
}

}  // namespace karvelo::platform::xlsx
