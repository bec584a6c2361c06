#pragma once
// Runs a program as a user would start it and collects what it printed.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace karvelo::testing {

struct ProcessResult {
    int exitCode = -1;  // -1 when killed by a signal or the time ran out
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Starts argv[0] with the given arguments in folder `cwd` (empty: the current
// one), with extra environment entries "NAME=value", and waits at most `timeout`.
inline ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& cwd = {},
                                const std::vector<std::string>& extraEnv = {},
                                std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, 0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        for (const std::string& e : extraEnv) putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    ProcessResult r;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            r.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& f : fds) {
        if (f.fd >= 0) close(f.fd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!r.timedOut && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
    return r;
}

// The "Name=value" lines the tools print (--show-config, --probe), by name.
inline std::map<std::string, std::string> ReportFields(const std::string& out) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

}  // namespace karvelo::testing
