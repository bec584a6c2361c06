// libcbw.so for tests and the demo: the one call of Measurement Computing's
// Universal Library the station makes, cbAIn, answered by simulated analog
// inputs from a scenario file instead of USB modules. The station loads it
// from its own folder before the system's copy, so a folder with this library
// and a cbw-sim.ini is a bench of modules.
//
// All state sits behind one mutex: the station calls from its acquisition
// thread, tests from several.

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
#include <type_traits>
#include <vector>

#include "analog/scenario.h"
#include "backends/analog/cbw_api.h"

#define KARVELO_EXPORT extern "C" __attribute__((visibility("default")))

KARVELO_EXPORT int cbAIn(int board, int channel, int range, std::uint16_t* value);
// Not part of the Universal Library: forgets every input and reads the
// scenario again (KARVELO_CBW_SIM as it is now), so that tests in one process
// stay independent. Returns the number of inputs offered.
KARVELO_EXPORT int KarveloSimReload();

// The station loads it by name with the prototype of cbw_api.h.
static_assert(std::is_same_v<decltype(&cbAIn), karvelo::analog::cbAInFn>);

namespace karvelo::cbwsim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kLibraryName = "libcbw";

// The simulator's own failure codes; the station takes every nonzero code as
// a failed conversion.
enum Result : int {
    kOk = 0,
    kNoBoard = 1,
    kNoChannel = 2,
    kRangeRefused = 3,
    kConversionFailed = 4,
    kNoValuePlace = 5,
};

struct Input {
    InputConfig config;
    std::uint64_t calls = 0;   // conversions asked for so far
    std::uint64_t served = 0;  // raw values handed out so far
};

struct Library {
    std::mutex mutex;
    bool loaded = false;
    std::vector<Input> inputs;
    int logFd = -1;
    const Clock::time_point start = Clock::now();

    ~Library() {
        if (logFd >= 0) close(logFd);
    }
};

Library g_library;

std::filesystem::path LibraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&cbAIn), &info) == 0 || info.dli_fname == nullptr) {
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
    const std::string line = "[" + Seconds(Clock::now() - lib.start) + "] " + std::string(name) +
                             ": " + std::string(text) + "\n";
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t n = write(lib.logFd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string Where(int board, int channel) {
    return "board " + std::to_string(board) + ", channel " + std::to_string(channel);
}

std::string Summary(const InputConfig& c) {
    std::string s =
        Where(c.board, c.channel) + ", " + std::to_string(c.raw.size()) + " raw value(s)";
    if (c.range) s += ", range " + RangeName(*c.range) + " only";
    if (c.behaviour == Behaviour::Fail) {
        s += ", fail";
        if (c.every > 1) s += " every " + std::to_string(c.every);
        if (c.after > 0) s += " after " + std::to_string(c.after);
    }
    return s;
}

// Reads the scenario and opens the log. Called with the mutex held.
void LoadLocked() {
    Library& lib = g_library;
    lib.loaded = true;
    lib.inputs.clear();
    if (lib.logFd >= 0) close(lib.logFd);
    lib.logFd = -1;

    const char* named = std::getenv("KARVELO_CBW_SIM");
    const bool explicitFile = named != nullptr && *named != '\0';
    const std::filesystem::path scenario =
        explicitFile ? std::filesystem::path(named) : LibraryFolder() / "cbw-sim.ini";
    std::ifstream in(scenario, std::ios::binary);
    const int readError = errno;
    const char* logName = std::getenv("KARVELO_CBW_SIM_LOG");
    const bool explicitLog = logName != nullptr && *logName != '\0';
    // Without a scenario of its own choosing the library leaves no files behind.
    if (!in && !explicitFile && !explicitLog) return;
    const std::filesystem::path log =
        explicitLog ? std::filesystem::path(logName) : scenario.parent_path() / "cbw-sim.log";
    lib.logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (lib.logFd < 0) {
        std::fprintf(stderr, "libcbw.so (simulator): cannot write the log %s: %s\n", log.c_str(),
                     std::strerror(errno));
    }

    std::string problem;
    if (!in) {
        if (!explicitFile) {
            Log(kLibraryName, "no scenario " + scenario.string() + ": no modules");
            return;
        }
        problem =
            scenario.string() + ": cannot read the scenario (" + std::strerror(readError) + ")";
    } else {
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        try {
            std::vector<InputConfig> configs = ParseScenario(text, scenario.string());
            Log(kLibraryName, "scenario " + scenario.string() + ": " +
                                  std::to_string(configs.size()) + " input(s)");
            for (InputConfig& c : configs) {
                Log(c.name, Summary(c));
                lib.inputs.push_back(Input{std::move(c)});
            }
            return;
        } catch (const ScenarioError& e) {
            problem = e.what();
        }
    }
    Log(kLibraryName, problem + "; no modules offered");
    std::fprintf(stderr, "libcbw.so (simulator): %s; no modules offered\n", problem.c_str());
}

}  // namespace
}  // namespace karvelo::cbwsim

using namespace karvelo::cbwsim;

int cbAIn(int board, int channel, int range, std::uint16_t* value) {
    Library& lib = g_library;
    std::lock_guard lock(lib.mutex);
    if (!lib.loaded) LoadLocked();
    bool boardKnown = false;
    Input* input = nullptr;
    for (Input& in : lib.inputs) {
        boardKnown = boardKnown || in.config.board == board;
        if (in.config.board == board && in.config.channel == channel) input = &in;
    }
    if (input == nullptr) {
        Log(kLibraryName, "conversion of " + Where(board, channel) +
                              (boardKnown ? ": no such channel" : ": no such board"));
        return boardKnown ? kNoChannel : kNoBoard;
    }
    const InputConfig& c = input->config;
    ++input->calls;
    const std::string turn = "conversion " + std::to_string(input->calls);
    if (value == nullptr) {
        Log(c.name, turn + ": no place for the value");
        return kNoValuePlace;
    }
    if (c.range && *c.range != range) {
        Log(c.name, turn + " refused: range " + RangeName(range) + ", the input is wired for " +
                        RangeName(*c.range));
        return kRangeRefused;
    }
    const auto after = static_cast<std::uint64_t>(c.after);
    if (c.behaviour == Behaviour::Fail && input->calls > after &&
        (input->calls - after) % static_cast<std::uint64_t>(c.every) == 0) {
        Log(c.name, turn + " failed (behaviour fail)");
        return kConversionFailed;
    }
    *value =
        static_cast<std::uint16_t>(c.raw[static_cast<std::size_t>(input->served % c.raw.size())]);
    ++input->served;
    Log(c.name, turn + ", range " + RangeName(range) + ": " + std::to_string(*value));
    return kOk;
}

int KarveloSimReload() {
    std::lock_guard lock(g_library.mutex);
    LoadLocked();
    return static_cast<int>(g_library.inputs.size());
}
