// libmarposs_zento.so for tests and the demo: the two Marposs EasyBox calls
// the station makes, answered by simulated channels from a scenario file
// instead of a box. The station loads it from its own folder before the
// system's copy, so a build folder with this library and a marposs-sim.ini is
// a box on the bench.
//
// All state sits behind one mutex. The station makes every call on its window
// thread; the log numbers the calling threads, so that a call from another
// thread stands out.

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "marposs/scenario.h"

#define KARVELO_EXPORT extern "C" __attribute__((visibility("default")))

KARVELO_EXPORT int MarpossInit(int mode);
KARVELO_EXPORT double MarpossReadValue(int channel);
// Not part of the Marposs library: forgets Init and every channel's reads and
// reads the scenario again (KARVELO_MARPOSS_SIM as it is now), so that tests in
// one process stay independent. Returns the number of channels.
KARVELO_EXPORT int KarveloSimReload();

namespace karvelo::marpossim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kLibraryName = "libmarposs_zento";
// The one mode Init knows; any other is refused with 0.
constexpr int kInitMode = 1;
constexpr int kInitRefused = 0;
constexpr int kReady = 1;

struct Channel {
    ChannelConfig config;
    std::uint64_t reads = 0;
};

struct Library {
    std::mutex mutex;
    bool loaded = false;
    bool ready = false;  // the last Init answered 1
    Scenario scenario;
    std::vector<Channel> channels;
    std::vector<std::thread::id> threads;  // in the order they first called
    int logFd = -1;
    const Clock::time_point start = Clock::now();

    ~Library() {
        if (logFd >= 0) close(logFd);
    }
};

Library g_library;

std::filesystem::path LibraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&MarpossReadValue), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    return std::filesystem::path(info.dli_fname).parent_path();
}

std::string Seconds(Clock::duration d) {
    const double s = std::chrono::duration<double>(d).count();
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, s, std::chars_format::fixed, 3);
    return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

// One line "[seconds] name: text". Called with the mutex held.
void Log(std::string_view name, std::string_view text) {
    Library& lib = g_library;
    if (lib.logFd < 0) return;
    std::string line = "[" + Seconds(Clock::now() - lib.start) + "] " + std::string(name) + ": " +
                       std::string(text) + "\n";
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t n = write(lib.logFd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string Number(double v) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

// " (thread n)": the calling thread's number, from 1 in the order of first calls.
std::string CallingThread() {
    std::vector<std::thread::id>& threads = g_library.threads;
    const std::thread::id me = std::this_thread::get_id();
    std::size_t i = 0;
    while (i < threads.size() && threads[i] != me) ++i;
    if (i == threads.size()) threads.push_back(me);
    return " (thread " + std::to_string(i + 1) + ")";
}

// Reads the scenario and opens the log. Called with the mutex held.
void LoadLocked() {
    Library& lib = g_library;
    lib.loaded = true;
    lib.ready = false;
    lib.scenario = Scenario{};
    lib.channels.clear();
    lib.threads.clear();
    if (lib.logFd >= 0) close(lib.logFd);
    lib.logFd = -1;

    const char* named = std::getenv("KARVELO_MARPOSS_SIM");
    const bool explicitFile = named != nullptr && *named != '\0';
    const std::filesystem::path scenario =
        explicitFile ? std::filesystem::path(named) : LibraryFolder() / "marposs-sim.ini";
    std::ifstream in(scenario, std::ios::binary);
    const int readError = errno;
    const char* logName = std::getenv("KARVELO_MARPOSS_SIM_LOG");
    const bool explicitLog = logName != nullptr && *logName != '\0';
    // Without a scenario of its own choosing the library leaves no files behind.
    if (!in && !explicitFile && !explicitLog) {
        lib.scenario.initResult = kInitRefused;
        return;
    }
    const std::filesystem::path log =
        explicitLog ? std::filesystem::path(logName) : scenario.parent_path() / "marposs-sim.log";
    lib.logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (lib.logFd < 0) {
        std::fprintf(stderr, "libmarposs_zento.so (simulator): cannot write the log %s: %s\n",
                     log.c_str(), std::strerror(errno));
    }

    std::string problem;
    if (!in) {
        if (!explicitFile) {
            lib.scenario.initResult = kInitRefused;
            Log(kLibraryName, "no scenario " + scenario.string() + ": no box");
            return;
        }
        problem =
            scenario.string() + ": cannot read the scenario (" + std::strerror(readError) + ")";
    } else {
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        try {
            lib.scenario = ParseScenario(text, scenario.string());
            Log(kLibraryName, "scenario " + scenario.string() + ": " +
                                  std::to_string(lib.scenario.channels.size()) +
                                  " channel(s), Init answers " +
                                  std::to_string(lib.scenario.initResult));
            for (const ChannelConfig& c : lib.scenario.channels) {
                std::string values;
                for (double v : c.values) values += (values.empty() ? "" : " ") + Number(v);
                Log(c.name, "channel " + std::to_string(c.channel) + ", values " + values);
                lib.channels.push_back(Channel{c, 0});
            }
            return;
        } catch (const ScenarioError& e) {
            lib.scenario = Scenario{};
            problem = e.what();
        }
    }
    // A scenario that cannot be used: a box that never becomes ready.
    lib.scenario.initResult = kInitRefused;
    Log(kLibraryName, problem + "; no box");
    std::fprintf(stderr, "libmarposs_zento.so (simulator): %s; no box\n", problem.c_str());
}

void EnsureLoaded() {
    if (!g_library.loaded) LoadLocked();
}

}  // namespace
}  // namespace karvelo::marpossim

using namespace karvelo::marpossim;

int MarpossInit(int mode) {
    std::lock_guard lock(g_library.mutex);
    EnsureLoaded();
    Library& lib = g_library;
    const std::string call = "Init(" + std::to_string(mode) + ")" + CallingThread();
    const int result = mode == kInitMode ? lib.scenario.initResult : kInitRefused;
    lib.ready = result == kReady;
    Log(kLibraryName, call + ": " + std::to_string(result));
    return result;
}

double MarpossReadValue(int channel) {
    std::lock_guard lock(g_library.mutex);
    EnsureLoaded();
    Library& lib = g_library;
    const std::string call = "ReadValue(" + std::to_string(channel) + ")" + CallingThread();
    // The call has no error result: whatever goes wrong reads 0.
    if (!lib.ready) {
        Log(kLibraryName, call + ": box not initialised, 0");
        return 0.0;
    }
    for (Channel& c : lib.channels) {
        if (c.config.channel != channel) continue;
        const double v = c.config.values[c.reads++ % c.config.values.size()];
        Log(c.config.name, call + ": " + Number(v));
        return v;
    }
    Log(kLibraryName, call + ": no such channel, 0");
    return 0.0;
}

int KarveloSimReload() {
    std::lock_guard lock(g_library.mutex);
    LoadLocked();
    return static_cast<int>(g_library.channels.size());
}
