// The real station program on the offscreen platform, ended by a signal the
// way a service manager or a terminal ends it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/profile.h"
#include "support/temp_dir.h"

namespace karvelo::testing {
namespace {

// Whether process `pid` has a handler of its own for `signal` (SigCgt).
bool CatchesSignal(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigCgt:", 0) != 0) continue;
        const std::uint64_t mask = std::stoull(line.substr(7), nullptr, 16);
        return (mask >> (signal - 1)) & 1U;
    }
    return false;
}

// Waits for the child; -1 when it did not end in time or ended by a signal.
int WaitForExit(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class StationProcess : public ::testing::TestWithParam<int> {
  protected:
    pid_t Start() {
        std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo"));
        // Everything the child needs is made before the fork: after it, only exec.
        const std::string program = install.file("karvelo");
        std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen"};
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (entry.rfind("DISPLAY=", 0) != 0 && entry.rfind("QT_QPA_PLATFORM=", 0) != 0)
                env.push_back(entry);
        }
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string a0 = program, a1 = "-platform", a2 = "offscreen", a3 = "--batch";
        char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
        const pid_t pid = fork();
        if (pid == 0) {
            execve(program.c_str(), argv, envp.data());
            _exit(127);
        }
        return pid;
    }
    std::wstring Key(std::wstring_view section, std::wstring_view key) const {
        return platform::ReadProfileString(section, key, L"<missing>", install.file("karvelo.cfg"));
    }
    TempDir install;
};

TEST_P(StationProcess, SignalEndsTheStationLikeFinish) {
    install.Write("karvelo.cfg", "[WINDOW]\r\nX=21\r\nY=34\r\n[IDNR]\r\ntextlast=P-100\r\n");
    const pid_t pid = Start();
    ASSERT_GT(pid, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!CatchesSignal(pid, GetParam()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(CatchesSignal(pid, GetParam()));
    kill(pid, GetParam());

    EXPECT_EQ(WaitForExit(pid, std::chrono::seconds(20)), 0);
    // Window position, set and texts are saved, as at FINISH / EXIT.
    EXPECT_EQ(Key(L"WINDOW", L"X"), L"21");
    EXPECT_EQ(Key(L"WINDOW", L"Y"), L"34");
    EXPECT_EQ(Key(L"MAIN", L"cfg"), L"0");
    EXPECT_EQ(Key(L"IDNR", L"textlast"), L"P-100");
    EXPECT_EQ(Key(L"DEVICE10", L"textlast"), L"");
}

INSTANTIATE_TEST_SUITE_P(Signals, StationProcess, ::testing::Values(SIGTERM, SIGINT));

}  // namespace
}  // namespace karvelo::testing
