#pragma once
// A pseudo-terminal pair standing in for a serial cable: the station opens the
// slave path like any tty, the test (or a simulated instrument) sits on the
// master side. Every master-side read and write is bounded by a time-out.
//
// The line starts raw (no echo, no translation), so bytes written before the
// station has configured the port arrive unchanged. While nobody holds the
// slave open, the master sees a hang-up; reads here simply keep waiting for
// the station to (re)open the port until their time-out.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

namespace karvelo::testing {

class PtyPair {
  public:
    PtyPair() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0) throw std::runtime_error("posix_openpt failed");
        char name[128];
        if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
            ptsname_r(master_, name, sizeof name) != 0) {
            ::close(master_);
            throw std::runtime_error("cannot set up the pseudo-terminal");
        }
        slavePath_ = name;
        // Settings made through the master apply to the slave side.
        termios t{};
        if (tcgetattr(master_, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(master_, TCSANOW, &t);
        }
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // The path the station opens, e.g. /dev/pts/3.
    const std::string& SlavePath() const { return slavePath_; }
    // The master side, -1 after CloseMaster(). Terminal settings read or made
    // through it are those of the slave side.
    int MasterFd() const { return master_; }

    // Hangs the line up as an unplugged adapter would: the slave side then
    // reads end-of-file and fails writes.
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    // Writes every byte within the time-out; false when the station did not
    // take them in time or the pair is closed.
    bool Write(std::string_view bytes, std::chrono::milliseconds timeout = Ms(1000)) {
        const auto deadline = Clock::now() + timeout;
        std::size_t done = 0;
        while (done < bytes.size()) {
            if (master_ < 0) return false;
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (!WaitFor(POLLOUT, deadline)) return false;
        }
        return true;
    }

    // Reads until `count` bytes arrived or the time-out passed; returns what
    // arrived.
    std::string Read(std::size_t count, std::chrono::milliseconds timeout = Ms(1000)) {
        return ReadWhile(timeout, [count](const std::string& got) { return got.size() < count; });
    }

    // Reads up to and including `terminator`, or what arrived before the
    // time-out.
    std::string ReadUntil(char terminator, std::chrono::milliseconds timeout = Ms(1000)) {
        return ReadWhile(timeout, [terminator](const std::string& got) {
            return got.empty() || got.back() != terminator;
        });
    }

    // Everything that arrives within `window` (for checking that nothing did).
    std::string ReadFor(std::chrono::milliseconds window) {
        return ReadWhile(window, [](const std::string&) { return true; });
    }

  private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds Ms(int ms) { return std::chrono::milliseconds(ms); }

    template <typename More>
    std::string ReadWhile(std::chrono::milliseconds timeout, More more) {
        const auto deadline = Clock::now() + timeout;
        std::string got;
        while (more(got) && master_ >= 0) {
            char c = 0;
            const ssize_t n = ::read(master_, &c, 1);
            if (n == 1) {
                got.push_back(c);
                continue;
            }
            if (n < 0 && errno == EIO) {
                // The slave side is closed: wait for the station to open it.
                if (Clock::now() >= deadline) break;
                std::this_thread::sleep_for(Ms(5));
                continue;
            }
            if (!WaitFor(POLLIN, deadline)) break;
        }
        return got;
    }

    // Waits until the master is ready for `events` or the deadline passed.
    // While the slave side is closed the master reports a hang-up at once;
    // then it sleeps a little instead of spinning.
    bool WaitFor(short events, Clock::time_point deadline) {
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            pollfd p{master_, events, 0};
            const int r = ::poll(&p, 1, static_cast<int>(left.count()));
            if (r == 0) return false;
            if (r < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if ((p.revents & events) != 0) return true;
            std::this_thread::sleep_for(Ms(5));
        }
    }

    int master_ = -1;
    std::string slavePath_;
};

}  // namespace karvelo::testing
