#pragma once
// The system calls behind a serial port on a tty. They go through one
// replaceable object so that tests can watch the order of line settings and
// modem-line actions, or script what the driver answers (error counters,
// refusals), while still running against a real pseudo-terminal.

#include <poll.h>
#include <sys/types.h>
#include <termios.h>

#include <cstddef>
#include <optional>

namespace karvelo::platform {

class TtySystem {
  public:
    virtual ~TtySystem() = default;

    virtual int Open(const char* path, int flags);
    virtual int Close(int fd);
    virtual ssize_t Read(int fd, void* buffer, std::size_t size);
    virtual ssize_t Write(int fd, const void* buffer, std::size_t size);
    virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs);
    virtual int Flock(int fd, int operation);
    // ioctl with a pointer argument (nullptr for requests that take none).
    virtual int Ioctl(int fd, unsigned long request, void* argument);
    virtual int TcGetAttr(int fd, termios* settings);
    virtual int TcSetAttr(int fd, int when, const termios* settings);
    virtual int TcFlush(int fd, int queue);
};

// The object in use: the real system calls unless a test replaced them.
TtySystem& Tty();

// Replaces the object for every thread (nullptr: the real calls again). Tests
// only, while no port is in use by another thread.
void SetTtySystem(TtySystem* system);

// The termios speed constant of a baud rate; nullopt for rates termios has no
// constant for.
std::optional<speed_t> BaudConstant(int baud);

}  // namespace karvelo::platform
