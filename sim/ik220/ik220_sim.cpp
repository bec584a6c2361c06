// libik220.so for tests and the demo: the five IK220 calls the station makes,
// answered by simulated card axes from a scenario file instead of a PCI card.
// The station loads it from its own folder before the system's copy, so a
// folder with this library and an ik220-sim.ini is a bench with a card.
//
// All state sits behind one mutex: the station calls from its acquisition and
// its window thread.

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

#include "backends/ik220/ik220_api.h"
#include "ik220/scenario.h"

#define KARVELO_EXPORT extern "C" __attribute__((visibility("default")))

KARVELO_EXPORT int IK220Find(std::uint32_t* table);
KARVELO_EXPORT int IK220Init(std::uint16_t axis);
KARVELO_EXPORT int IK220WritePar(std::uint16_t axis, std::uint16_t par, std::uint32_t value);
KARVELO_EXPORT int IK220Read48(std::uint16_t axis, std::uint16_t latch, double* value);
KARVELO_EXPORT int IK220ReadEn(std::uint16_t axis, std::uint32_t* status, double* value,
                               std::uint32_t* alarm);
// Not part of the IK220 library: forgets every axis and reads the scenario
// again (KARVELO_IK220_SIM as it is now), so that tests in one process stay
// independent. Returns the number of axes offered.
KARVELO_EXPORT int KarveloSimReload();

// The station loads these by name with the prototypes of ik220_api.h.
static_assert(std::is_same_v<decltype(&IK220Find), karvelo::ik220::IK220FindFn>);
static_assert(std::is_same_v<decltype(&IK220Init), karvelo::ik220::IK220InitFn>);
static_assert(std::is_same_v<decltype(&IK220WritePar), karvelo::ik220::IK220WriteParFn>);
static_assert(std::is_same_v<decltype(&IK220Read48), karvelo::ik220::IK220Read48Fn>);
static_assert(std::is_same_v<decltype(&IK220ReadEn), karvelo::ik220::IK220ReadEnFn>);

namespace karvelo::ik220sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kLibraryName = "libik220";
// Parameter 1 chooses the encoder kind, parameter 2 the signal of an
// incremental one.
constexpr std::uint16_t kParEncoder = 1;
constexpr std::uint16_t kParSignal = 2;

struct Axis {
    AxisConfig config;
    bool initialised = false;
    std::uint32_t encoder = 0;  // parameter 1: 0 incremental, 1 EnDat, 2 SSI
    std::uint32_t signal = 0;   // parameter 2: 1 for 1 Vss, 0 for 11 µA
    bool encoderSet = false;
    bool signalSet = false;
    std::uint64_t reads = 0;   // read calls so far
    std::uint64_t served = 0;  // values handed out so far
};

struct Library {
    std::mutex mutex;
    bool loaded = false;
    std::vector<Axis> axes;
    int logFd = -1;
    const Clock::time_point start = Clock::now();

    ~Library() {
        if (logFd >= 0) close(logFd);
    }
};

Library g_library;

std::filesystem::path LibraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&IK220Find), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    return std::filesystem::path(info.dli_fname).parent_path();
}

std::string Number(double v, int decimals) {
    char buf[64];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

std::string Shortest(double v) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

// One line "[seconds] name: text". Called with the mutex held.
void Log(std::string_view name, std::string_view text) {
    Library& lib = g_library;
    if (lib.logFd < 0) return;
    const double s = std::chrono::duration<double>(Clock::now() - lib.start).count();
    const std::string line =
        "[" + Number(s, 3) + "] " + std::string(name) + ": " + std::string(text) + "\n";
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t n = write(lib.logFd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string Summary(const AxisConfig& c) {
    std::string s = "axis " + std::to_string(c.axis) + ", id " + std::to_string(c.id);
    if (c.interface != Interface::Any)
        s += ", interface " + std::string(InterfaceName(c.interface));
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
    lib.axes.clear();
    if (lib.logFd >= 0) close(lib.logFd);
    lib.logFd = -1;

    const char* named = std::getenv("KARVELO_IK220_SIM");
    const bool explicitFile = named != nullptr && *named != '\0';
    const std::filesystem::path scenario =
        explicitFile ? std::filesystem::path(named) : LibraryFolder() / "ik220-sim.ini";
    std::ifstream in(scenario, std::ios::binary);
    const int readError = errno;
    const char* logName = std::getenv("KARVELO_IK220_SIM_LOG");
    const bool explicitLog = logName != nullptr && *logName != '\0';
    // Without a scenario of its own choosing the library leaves no files behind.
    if (!in && !explicitFile && !explicitLog) return;
    const std::filesystem::path log =
        explicitLog ? std::filesystem::path(logName) : scenario.parent_path() / "ik220-sim.log";
    lib.logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (lib.logFd < 0) {
        std::fprintf(stderr, "libik220.so (simulator): cannot write the log %s: %s\n", log.c_str(),
                     std::strerror(errno));
    }

    std::string problem;
    if (!in) {
        if (!explicitFile) {
            Log(kLibraryName, "no scenario " + scenario.string() + ": no card");
            return;
        }
        problem =
            scenario.string() + ": cannot read the scenario (" + std::strerror(readError) + ")";
    } else {
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        try {
            std::vector<AxisConfig> configs = ParseScenario(text, scenario.string());
            Log(kLibraryName, "scenario " + scenario.string() + ": " +
                                  std::to_string(configs.size()) + " axis/axes");
            for (AxisConfig& c : configs) {
                Log(c.name, Summary(c));
                lib.axes.push_back(Axis{std::move(c)});
            }
            return;
        } catch (const ScenarioError& e) {
            problem = e.what();
        }
    }
    Log(kLibraryName, problem + "; no card offered");
    std::fprintf(stderr, "libik220.so (simulator): %s; no card offered\n", problem.c_str());
}

// Called with the mutex held.
void EnsureLoaded() {
    if (!g_library.loaded) LoadLocked();
}

Axis* ByNumber(std::uint16_t number) {
    for (Axis& a : g_library.axes) {
        if (a.config.axis == number) return &a;
    }
    return nullptr;
}

// The interface the parameters written since the last Init set up; Any when
// they make none.
Interface SetUp(const Axis& a) {
    if (!a.encoderSet) return Interface::Any;
    switch (a.encoder) {
        case 0:
            if (!a.signalSet) return Interface::Any;
            return a.signal == 1 ? Interface::OneVss : Interface::ElevenMicroAmp;
        case 1:
            return Interface::EnDat;
        case 2:
            return Interface::Ssi;
        default:
            return Interface::Any;
    }
}

bool IsIncremental(Interface i) {
    return i == Interface::OneVss || i == Interface::ElevenMicroAmp;
}

// A read through `call`: the next value, or 0 with the reason in the log.
int ReadAxis(std::uint16_t number, std::string_view call, bool incrementalCall, double* value) {
    EnsureLoaded();
    Axis* a = ByNumber(number);
    if (a == nullptr) {
        Log(kLibraryName,
            std::string(call) + " of axis " + std::to_string(number) + ": no such axis");
        return 0;
    }
    const AxisConfig& c = a->config;
    ++a->reads;
    const std::string turn = std::string(call) + " " + std::to_string(a->reads);
    if (value == nullptr) {
        Log(c.name, turn + ": no place for the value");
        return 0;
    }
    if (!a->initialised) {
        Log(c.name, turn + " failed: axis not initialised (IK220Init)");
        return 0;
    }
    if (c.interface != Interface::Any) {
        if (IsIncremental(c.interface) != incrementalCall) {
            Log(c.name,
                turn + " failed: the encoder is " + std::string(InterfaceName(c.interface)));
            return 0;
        }
        const Interface set = SetUp(*a);
        if (set != c.interface) {
            Log(c.name, turn + " failed: parameters set up " + std::string(InterfaceName(set)) +
                            ", the encoder is " + std::string(InterfaceName(c.interface)));
            return 0;
        }
    }
    const auto after = static_cast<std::uint64_t>(c.after);
    if (c.behaviour == Behaviour::Fail && a->reads > after &&
        (a->reads - after) % static_cast<std::uint64_t>(c.every) == 0) {
        Log(c.name, turn + " failed (behaviour fail)");
        return 0;
    }
    *value = c.values[static_cast<std::size_t>(a->served % c.values.size())];
    ++a->served;
    Log(c.name, turn + ": " + Shortest(*value));
    return 1;
}

}  // namespace
}  // namespace karvelo::ik220sim

using namespace karvelo::ik220sim;

int IK220Find(std::uint32_t* table) {
    std::lock_guard lock(g_library.mutex);
    EnsureLoaded();
    if (table == nullptr) {
        Log(kLibraryName, "find: no table");
        return 0;
    }
    for (int i = 0; i < kTableEntries; ++i) table[i] = 0;
    for (const Axis& a : g_library.axes) table[a.config.axis] = a.config.id;
    Log(kLibraryName, "find: " + std::to_string(g_library.axes.size()) + " axis/axes");
    return g_library.axes.empty() ? 0 : 1;
}

int IK220Init(std::uint16_t axis) {
    std::lock_guard lock(g_library.mutex);
    EnsureLoaded();
    Axis* a = ByNumber(axis);
    if (a == nullptr) {
        Log(kLibraryName, "init of axis " + std::to_string(axis) + ": no such axis");
        return 0;
    }
    a->initialised = true;
    a->encoderSet = false;
    a->signalSet = false;
    Log(a->config.name, "init");
    return 1;
}

int IK220WritePar(std::uint16_t axis, std::uint16_t par, std::uint32_t value) {
    std::lock_guard lock(g_library.mutex);
    EnsureLoaded();
    Axis* a = ByNumber(axis);
    if (a == nullptr) {
        Log(kLibraryName, "parameter of axis " + std::to_string(axis) + ": no such axis");
        return 0;
    }
    if (par == kParEncoder) {
        a->encoder = value;
        a->encoderSet = true;
    } else if (par == kParSignal) {
        a->signal = value;
        a->signalSet = true;
    }
    Log(a->config.name, "parameter " + std::to_string(par) + " = " + std::to_string(value));
    return 1;
}

int IK220Read48(std::uint16_t axis, std::uint16_t latch, double* value) {
    std::lock_guard lock(g_library.mutex);
    if (latch != 0) {
        EnsureLoaded();
        Log(kLibraryName, "read48 of axis " + std::to_string(axis) + " with latch " +
                              std::to_string(latch) + ": no latched value");
        return 0;
    }
    return ReadAxis(axis, "read48", true, value);
}

int IK220ReadEn(std::uint16_t axis, std::uint32_t* status, double* value, std::uint32_t* alarm) {
    std::lock_guard lock(g_library.mutex);
    if (status != nullptr) *status = 0;
    if (alarm != nullptr) *alarm = 0;
    return ReadAxis(axis, "readEn", false, value);
}

int KarveloSimReload() {
    std::lock_guard lock(g_library.mutex);
    LoadLocked();
    return static_cast<int>(g_library.axes.size());
}
