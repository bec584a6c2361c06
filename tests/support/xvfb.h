#pragma once
// A private X server for tests that need a desktop: Xvfb on a free display
// number, gone with the object. available() is false where Xvfb is missing.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace karvelo::testing {

class Xvfb {
  public:
    // `blackRoot`: a black root window, so that a window nothing has drawn
    // into yet shows one colour (the start-up benchmark looks for the first
    // paint).
    explicit Xvfb(bool blackRoot = false) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            const int devnull = open("/dev/null", O_RDWR);
            if (devnull >= 0) {
                dup2(devnull, 1);
                dup2(devnull, 2);
            }
            const std::string fd = std::to_string(fds[1]);
            if (blackRoot) {
                execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-br",
                       "-screen", "0", "800x600x24", static_cast<char*>(nullptr));
            } else {
                execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                       "800x600x24", static_cast<char*>(nullptr));
            }
            _exit(127);
        }
        close(fds[1]);
        if (pid_ < 0) {
            close(fds[0]);
            return;
        }
        // Xvfb writes its display number once it accepts connections.
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        while (poll(&p, 1, 10000) > 0) {
            char c;
            if (read(fds[0], &c, 1) != 1 || c == '\n') break;
            number.push_back(c);
        }
        close(fds[0]);
        if (!number.empty()) display_ = ":" + number;
    }
    ~Xvfb() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    bool available() const { return !display_.empty(); }
    const std::string& display() const { return display_; }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace karvelo::testing
