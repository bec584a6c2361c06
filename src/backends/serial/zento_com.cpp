#include "backends/serial/zento_com.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <chrono>

#include "platform/numbers.h"
#include "platform/profile.h"
#include "platform/program_path.h"
#include "platform/serial_tty.h"
#include "platform/wait.h"

namespace karvelo::serial {
namespace {

using platform::Tty;
using Clock = std::chrono::steady_clock;

// A single-byte read gives up after this long; a write after kWriteTimeoutMs.
constexpr int kReadTimeoutMs = 200;
constexpr int kWriteTimeoutMs = 1000;

// Default device paths of the COM numbers that the PORTS section leaves out.
struct PortRange {
    int first;
    int last;
    const wchar_t* prefix;  // followed by comNumber - first
};

constexpr PortRange kDefaultPorts[] = {
    {1, 32, L"/dev/ttyS"},
    {33, 64, L"/dev/ttyUSB"},
    {65, 98, L"/dev/ttyACM"},
};

struct DataBits {
    int bits;
    tcflag_t size;
};

constexpr DataBits kDataBits[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};

struct ErrorCounters {
    std::uint32_t frame;
    std::uint32_t parity;
    std::uint32_t overrun;
    std::uint32_t breaks;
};

// The driver's error counters; nullopt where the device keeps none.
std::optional<ErrorCounters> ReadErrorCounters(int fd) {
    serial_icounter_struct counts{};
    if (Tty().Ioctl(fd, TIOCGICOUNT, &counts) != 0) return std::nullopt;
    return ErrorCounters{
        static_cast<std::uint32_t>(counts.frame), static_cast<std::uint32_t>(counts.parity),
        static_cast<std::uint32_t>(counts.overrun), static_cast<std::uint32_t>(counts.brk)};
}

// Devices without modem lines (pseudo-terminals, some adapters) refuse these;
// nothing depends on the lines actually moving, so refusals are ignored.
void SetModemLine(int fd, int line, bool on) {
    int bits = line;
    Tty().Ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
}

void Perform(int fd, LineAction action) {
    switch (action) {
        case LineAction::None:
            break;
        case LineAction::SetRts:
            SetModemLine(fd, TIOCM_RTS, true);
            break;
        case LineAction::ClearRts:
            SetModemLine(fd, TIOCM_RTS, false);
            break;
        case LineAction::SetDtr:
            SetModemLine(fd, TIOCM_DTR, true);
            break;
        case LineAction::ClearDtr:
            SetModemLine(fd, TIOCM_DTR, false);
            break;
    }
}

// Raw transfer with the profile's framing: no echo, no line editing, no
// signals, no character translation either way, no flow control, modem status
// ignored. A received break is reported through the error counters rather
// than as a NUL byte, and bytes with parity errors pass unchanged.
bool BuildSettings(const LineProfile& profile, termios& t) {
    const std::optional<speed_t> speed = platform::BaudConstant(profile.baud);
    if (!speed) return false;
    tcflag_t size = 0;
    for (const DataBits& d : kDataBits) {
        if (d.bits == profile.dataBits) size = d.size;
    }
    if (size == 0) return false;

    t.c_iflag &= ~static_cast<tcflag_t>(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | INPCK | IGNPAR | IMAXBEL | IUTF8);
    t.c_iflag |= IGNBRK;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | size;
    if (profile.parity != Parity::None) t.c_cflag |= PARENB;
    if (profile.parity == Parity::Odd) t.c_cflag |= PARODD;
    if (profile.stopBits == 2) t.c_cflag |= CSTOPB;
    // The port is non-blocking and waits in poll(); VMIN 1 makes an empty
    // queue read as EAGAIN, so that a read of 0 bytes always means hang-up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return cfsetispeed(&t, *speed) == 0 && cfsetospeed(&t, *speed) == 0;
}

// Milliseconds left until the deadline, rounded up, never negative.
int RemainingMs(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

}  // namespace

std::string ComDevicePath(int comNumber, const std::wstring& mainConfigFile) {
    if (comNumber < 1 || comNumber > 98) return {};
    const std::wstring configured = platform::ReadProfileString(
        L"PORTS", L"COM" + platform::FormatInt(comNumber), L"", platform::FsPath(mainConfigFile));
    if (!configured.empty()) return platform::FsPath(configured);
    for (const PortRange& r : kDefaultPorts) {
        if (comNumber >= r.first && comNumber <= r.last) {
            return platform::FsPath(r.prefix + platform::FormatInt(comNumber - r.first));
        }
    }
    return {};
}

zento_com::~zento_com() {
    close();
}

bool zento_com::open(const LineProfile& profile, const std::string& path) {
    close();
    profile_ = profile;
    path_ = path;
    // A type without a profile fails before the device is touched.
    if (!profile.valid()) {
        problem_ = PortProblem::Refused;
        return false;
    }
    if (path.empty()) {
        problem_ = PortProblem::NoDevicePath;
        return false;
    }

    const int fd = Tty().Open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        problem_ = PortProblemOfOpenError(errno);
        return false;
    }
    // Another program holds the port. A lock refused for other reasons (a file
    // system without flock) does not stop us; TIOCEXCL still keeps others out.
    if (Tty().Flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        Tty().Close(fd);
        problem_ = PortProblem::Busy;
        return false;
    }
    // Refused by some devices; the lock above is what we rely on.
    Tty().Ioctl(fd, TIOCEXCL, nullptr);
    fd_ = fd;

    // Errors counted before the port was ours are not this line's errors.
    const ErrorCounters start = ReadErrorCounters(fd_).value_or(ErrorCounters{0, 0, 0, 0});
    frameErrors_ = start.frame;
    parityErrors_ = start.parity;
    overrunErrors_ = start.overrun;
    breaks_ = start.breaks;

    // Whatever waited on the line before the open is not ours to read, and
    // nothing of ours can be queued yet.
    Tty().TcFlush(fd_, TCIOFLUSH);
    if (!configure(profile)) {
        close();
        problem_ = PortProblem::Refused;
        return false;
    }
    problem_ = PortProblem::None;
    return true;
}

bool zento_com::Reopen() {
    if (isOpen() && problem_ == PortProblem::None) return true;
    return open(profile_, path_);
}

void zento_com::HangUp() {
    // Closing at once frees the device name, so that the adapter gets the
    // same name when it is plugged in again.
    close();
    problem_ = PortProblem::HungUp;
}

bool zento_com::configure(const LineProfile& profile) {
    const LineProfile* p = &profile;
    if (!p->valid() || !isOpen()) return false;
    termios t{};
    if (Tty().TcGetAttr(fd_, &t) != 0) return false;
    if (!BuildSettings(*p, t)) return false;

    for (LineAction a : p->before) Perform(fd_, a);
    const bool applied = Tty().TcSetAttr(fd_, TCSANOW, &t) == 0;
    if (applied) {
        // The settings' own modem-line state: DTR on while the port is open,
        // RTS off unless the profile raises it.
        SetModemLine(fd_, TIOCM_DTR, true);
        SetModemLine(fd_, TIOCM_RTS, false);
    }
    for (LineAction a : p->after) Perform(fd_, a);
    return applied;
}

void zento_com::close() {
    if (!isOpen()) return;
    SetModemLine(fd_, TIOCM_DTR, false);
    Tty().TcFlush(fd_, TCIOFLUSH);
    // Exclusive mode stays on the tty while anyone else still holds it open;
    // clear it so that our next open is not refused.
    Tty().Ioctl(fd_, TIOCNXCL, nullptr);
    Tty().Flock(fd_, LOCK_UN);
    Tty().Close(fd_);
    fd_ = -1;
    inNext_ = inEnd_ = 0;
    if (problem_ == PortProblem::None) problem_ = PortProblem::NoSuchDevice;
}

bool zento_com::Write(std::span<const std::uint8_t> bytes) {
    if (!isOpen()) return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = Tty().Write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (errno == EIO || errno == ENXIO || errno == ENODEV) HangUp();
            return false;
        }
        // The output queue is full: wait for room until the time-out.
        const int left = RemainingMs(deadline);
        if (left == 0) return false;
        pollfd p{fd_, POLLOUT, 0};
        const int r = Tty().Poll(&p, 1, left);
        if (r == 0) return false;
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if ((p.revents & (POLLHUP | POLLERR)) != 0) {
            HangUp();
            return false;
        }
        if ((p.revents & POLLOUT) == 0) return false;
    }
    // A write is complete when its bytes have left, as on Windows: a purge
    // or a line action that follows must not overtake them.
    return Drain(deadline);
}

bool zento_com::Drain(Clock::time_point deadline) {
    // Ten bit times per byte at the line's speed, rounded up to whole ms.
    const double msPerByte = 10000.0 / (profile_.baud > 0 ? profile_.baud : 9600);
    for (;;) {
        int queued = 0;
        // Drivers that cannot tell (pseudo-terminals) hand bytes on at once.
        if (Tty().Ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
        const int left = RemainingMs(deadline);
        if (left == 0) return false;
        const int wait = static_cast<int>(queued * msPerByte) + 1;
        platform::SleepMs(wait < left ? wait : left);
    }
}

bool zento_com::LineError() {
    if (!isOpen()) return false;
    const std::optional<ErrorCounters> now = ReadErrorCounters(fd_);
    if (!now) return false;
    // Counters only grow (and may wrap), so any difference means new errors.
    // buf_overrun, the receive-queue overflow, is deliberately not compared.
    const bool fresh = now->frame != frameErrors_ || now->parity != parityErrors_ ||
                       now->overrun != overrunErrors_ || now->breaks != breaks_;
    frameErrors_ = now->frame;
    parityErrors_ = now->parity;
    overrunErrors_ = now->overrun;
    breaks_ = now->breaks;
    return fresh;
}

std::optional<std::uint8_t> zento_com::ReadByte() {
    if (!isOpen()) return std::nullopt;
    if (inNext_ < inEnd_) return in_[inNext_++];
    // The driver counts line errors as the bytes arrive: checked once for
    // every batch taken from it.
    if (LineError()) return std::nullopt;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kReadTimeoutMs);
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        const int r = Tty().Poll(&p, 1, RemainingMs(deadline));
        if (r == 0) return std::nullopt;  // nothing within the time-out
        if (r < 0) {
            if (errno != EINTR) break;
        } else if ((p.revents & POLLIN) != 0) {
            const ssize_t n = Tty().Read(fd_, in_.data(), in_.size());
            if (n > 0) {
                inNext_ = 1;
                inEnd_ = static_cast<std::size_t>(n);
                return in_[0];
            }
            // 0 bytes or an error other than an empty queue: the device is gone.
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) break;
        } else {
            break;  // POLLHUP, POLLERR or POLLNVAL without data
        }
        if (RemainingMs(deadline) == 0) return std::nullopt;
    }
    HangUp();
    // A hung-up line answers at once. Spend the rest of the read time-out
    // anyway, so that the reader's cycle keeps its pace.
    platform::SleepMs(RemainingMs(deadline));
    return std::nullopt;
}

void zento_com::Purge() {
    // Only what came in: what we wrote has left already (Write drains), and
    // on a pseudo-terminal an output flush would take bytes back from the
    // other end's input.
    inNext_ = inEnd_ = 0;
    if (isOpen()) Tty().TcFlush(fd_, TCIFLUSH);
}

void zento_com::SetRts(bool on) {
    if (isOpen()) SetModemLine(fd_, TIOCM_RTS, on);
}

void zento_com::SetDtr(bool on) {
    if (isOpen()) SetModemLine(fd_, TIOCM_DTR, on);
}

void zento_com::SetBreak(bool on) {
    // Devices without a break (pseudo-terminals) refuse it; ignored.
    if (isOpen()) Tty().Ioctl(fd_, on ? TIOCSBRK : TIOCCBRK, nullptr);
}

}  // namespace karvelo::serial
