#pragma once
// The station as a technician starts it, as a child process of the test: its
// standard output and error go to files of its install folder.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/profile.h"
#include "support/temp_dir.h"

namespace karvelo::testing {

using namespace std::chrono_literals;

// The station as a child process, its output in files of the install folder.
class Station {
  public:
    // Starts <install>/karvelo with `args` (default: offscreen and unattended)
    // and the extra environment entries "NAME=value".
    explicit Station(const TempDir& install, std::vector<std::string> extraEnv = {},
                     std::vector<std::string> args = {"-platform", "offscreen", "--batch"}) {
        pid_ = fork();
        if (pid_ == 0) {
            const std::string out = install.file("station.out");
            const std::string err = install.file("station.err");
            if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr))
                _exit(126);
            for (std::string& e : extraEnv) putenv(e.data());
            const std::string program = install.file("karvelo");
            std::vector<char*> argv = {const_cast<char*>(program.c_str())};
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~Station() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // Sends the signal and waits for the end; the exit code, -1 when it did
    // not end by itself within the time.
    int Stop(int signal = SIGTERM, std::chrono::milliseconds limit = 10s) {
        kill(pid_, signal);
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
};

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Waits until `file` holds at least `count` lines.
inline bool WaitForLines(const TempDir& dir, const std::string& file, std::size_t count,
                         std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (Lines(dir.Read(file)).size() >= count) return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

inline std::wstring Key(const TempDir& dir, const char* file, const wchar_t* section,
                        const wchar_t* key) {
    return platform::ReadProfileString(section, key, L"<missing>", dir.file(file));
}

}  // namespace karvelo::testing
