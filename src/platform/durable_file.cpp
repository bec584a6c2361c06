#include "platform/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace karvelo::platform {

std::string ErrnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

int WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void SyncFolder(const std::string& folder) {
    const int dir =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    ::fsync(dir);
    ::close(dir);
}

int PutInPlace(int fd, const std::string& temp, const std::string& path) {
    // After a successful fsync the data is on disk, so what a later close()
    // reports changes nothing.
    if (::fsync(fd) != 0) return errno;
    if (::rename(temp.c_str(), path.c_str()) != 0) return errno;
    SyncFolder(FolderOf(path));  // the rename is done; this only makes it durable sooner
    return 0;
}

int KeepOwnerAndMode(int fd, const struct stat& old) {
    struct stat mine {};
    if (::fstat(fd, &mine) == 0 && (mine.st_uid != old.st_uid || mine.st_gid != old.st_gid)) {
        // Best effort, and before fchmod, because a change of owner clears
        // set-id bits.
        (void)!::fchown(fd, old.st_uid, old.st_gid);
    }
    return ::fchmod(fd, old.st_mode & 07777) == 0 ? 0 : errno;
}

std::string ReplaceFileAtomically(const std::string& path, std::string_view data) {
    std::string temp = path + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return ErrnoText(errno);
    int error = WriteAll(fd, data);
    if (error == 0) error = PutInPlace(fd, temp, path);
    ::close(fd);
    if (error != 0) {
        ::unlink(temp.c_str());
        return ErrnoText(error);
    }
    return {};
}

bool ReadWholeFile(const std::string& path, std::string& out, std::string& problem, Links links) {
    const int flags =
        O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (links == Links::Refuse ? O_NOFOLLOW : 0);
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        problem = ErrnoText(errno);
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok) problem = "not a regular file";
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            problem = ErrnoText(errno);
            ok = false;
        }
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok;
}

}  // namespace karvelo::platform
