#pragma once
// The serial instrument simulator as a test uses it: started on a scenario,
// usable once it printed READY, stopped with SIGTERM when the object goes.
// Its log (one line per request and reply) goes to a file, so a long run never
// blocks on a full pipe.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace karvelo::testing {

#ifdef KARVELO_SIM_DIR
inline std::string SerialSimulatorPath() {
    return KARVELO_SIM_DIR "/karvelo-serial-sim";
}
#endif

class SimProcess {
  public:
    // Writes `scenario` (when not empty) to <folder>/sim-scenario.ini and starts
    // the simulator on it with the further arguments; the log goes to
    // <folder>/sim.log. Returns once READY was printed, the simulator ended, or
    // `readyTimeout` passed; ready() tells which.
    SimProcess(const std::filesystem::path& folder, const std::string& scenario,
               const std::vector<std::string>& args = {},
               std::chrono::milliseconds readyTimeout = std::chrono::seconds(10),
               const std::string& program = DefaultProgram())
        : logPath_(folder / "sim.log") {
        std::vector<std::string> argv = {program};
        if (!scenario.empty()) {
            const std::filesystem::path file = folder / "sim-scenario.ini";
            std::ofstream(file, std::ios::binary | std::ios::trunc) << scenario;
            argv.push_back(file.string());
        }
        argv.insert(argv.end(), args.begin(), args.end());
        Start(argv, readyTimeout);
    }
    ~SimProcess() { Stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool ready() const { return ready_; }
    pid_t pid() const { return pid_; }

    // SIGTERM, then waits at most `timeout` (SIGKILL after it). The exit code; -1
    // when it was killed or ended by a signal. A second call returns the first
    // result.
    int Stop(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            Reap(timeout);
        }
        if (out_ >= 0) {
            close(out_);
            out_ = -1;
        }
        return exitCode_;
    }

    // What the simulator logged so far.
    std::string Log() const {
        std::ifstream in(logPath_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

  private:
    static std::string DefaultProgram() {
#ifdef KARVELO_SIM_DIR
        return SerialSimulatorPath();
#else
        return "karvelo-serial-sim";
#endif
    }

    void Start(const std::vector<std::string>& argv, std::chrono::milliseconds readyTimeout) {
        int outPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        const int log = open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (log < 0) throw std::runtime_error("cannot create " + logPath_.string());
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            dup2(outPipe[1], 1);
            dup2(log, 2);
            const int devnull = open("/dev/null", O_RDONLY);
            if (devnull >= 0) dup2(devnull, 0);
            execv(args[0], args.data());
            _exit(127);
        }
        close(outPipe[1]);
        close(log);
        out_ = outPipe[0];

        std::string printed;
        const auto deadline = std::chrono::steady_clock::now() + readyTimeout;
        while (printed.find("READY\n") == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return;
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buf[256];
            const ssize_t n = read(out_, buf, sizeof buf);
            if (n <= 0) {  // ended before it was ready
                Reap(std::chrono::seconds(5));
                return;
            }
            printed.append(buf, static_cast<std::size_t>(n));
        }
        ready_ = true;
    }

    void Reap(std::chrono::milliseconds timeout) {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        pid_t r = 0;
        while ((r = waitpid(pid_, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (r == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            status = -1;
        }
        exitCode_ = (r > 0 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        ready_ = false;
    }

    std::filesystem::path logPath_;
    pid_t pid_ = -1;
    int out_ = -1;
    bool ready_ = false;
    int exitCode_ = -1;
};

}  // namespace karvelo::testing
