#include "platform/serial_tty.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace karvelo::platform {
namespace {

TtySystem g_real;
std::atomic<TtySystem*> g_replacement{nullptr};

struct BaudEntry {
    int baud;
    speed_t constant;
};

constexpr BaudEntry kBauds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

constexpr tcflag_t kFraming = CSIZE | PARENB | PARODD | CMSPAR;

bool SameApartFromFraming(const termios& asked, const termios& got) {
    return asked.c_iflag == got.c_iflag && asked.c_oflag == got.c_oflag &&
           asked.c_lflag == got.c_lflag &&
           (asked.c_cflag & ~kFraming) == (got.c_cflag & ~kFraming) &&
           cfgetispeed(&asked) == cfgetispeed(&got) && cfgetospeed(&asked) == cfgetospeed(&got) &&
           asked.c_cc[VMIN] == got.c_cc[VMIN] && asked.c_cc[VTIME] == got.c_cc[VTIME];
}

}  // namespace

int TtySystem::Open(const char* path, int flags) {
    return ::open(path, flags);
}
int TtySystem::Close(int fd) {
    return ::close(fd);
}
ssize_t TtySystem::Read(int fd, void* buffer, std::size_t size) {
    return ::read(fd, buffer, size);
}
ssize_t TtySystem::Write(int fd, const void* buffer, std::size_t size) {
    return ::write(fd, buffer, size);
}
int TtySystem::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
    return ::poll(fds, count, timeoutMs);
}
int TtySystem::Flock(int fd, int operation) {
    return ::flock(fd, operation);
}
int TtySystem::Ioctl(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}
int TtySystem::TcGetAttr(int fd, termios* settings) {
    return ::tcgetattr(fd, settings);
}
int TtySystem::TcSetAttr(int fd, int when, const termios* settings) {
    if (::tcsetattr(fd, when, settings) == 0) return 0;
    const int error = errno;
    // Some C libraries read the settings back after the call and report
    // EINVAL when the character size or parity did not stick. Pseudo-terminals
    // always keep 8 bits without parity, so there the call would fail although
    // the driver took it. What counts is the driver's answer: when everything
    // else reads back as asked, the settings were applied.
    termios now{};
    if (error == EINVAL && ::tcgetattr(fd, &now) == 0 && SameApartFromFraming(*settings, now)) {
        return 0;
    }
    errno = error;
    return -1;
}
int TtySystem::TcFlush(int fd, int queue) {
    return ::tcflush(fd, queue);
}

TtySystem& Tty() {
    TtySystem* s = g_replacement.load(std::memory_order_acquire);
    return s != nullptr ? *s : g_real;
}

void SetTtySystem(TtySystem* system) {
    g_replacement.store(system, std::memory_order_release);
}

std::optional<speed_t> BaudConstant(int baud) {
    for (const BaudEntry& e : kBauds) {
        if (e.baud == baud) return e.constant;
    }
    return std::nullopt;
}

}  // namespace karvelo::platform
