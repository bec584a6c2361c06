// liborbit_if.so for tests and the demo: the Solartron Orbit calls the station
// makes, answered by simulated probes from a scenario file instead of an Orbit
// network. The station loads it from its own folder before the system's copy,
// so a build folder with this library and an orbit-sim.ini is a bench of
// probes.
//
// All state sits behind one mutex: the station opens on its window thread and
// reads on its acquisition thread.

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
#include <vector>

#include "orbit/scenario.h"

#define KARVELO_EXPORT extern "C" __attribute__((visibility("default")))

// Looked up by the station, never called.
KARVELO_EXPORT std::int32_t GetOrbitNetworkNameAndType();
KARVELO_EXPORT std::int32_t DisconnectFromOrbitNetworks();
KARVELO_EXPORT std::int32_t ConnectToOrbitNetworks(std::int32_t* count);
KARVELO_EXPORT std::int32_t OrbitRst(std::int32_t network);
KARVELO_EXPORT std::int32_t OrbitSetmode(std::int32_t network, std::int32_t channel,
                                         std::int32_t* code, std::int32_t* value);
KARVELO_EXPORT std::int32_t OrbitRead2(std::int32_t network, std::int32_t channel,
                                       std::int32_t* reading);
// Not part of the Orbit library: forgets the connection and every probe's
// state and reads the scenario again (KARVELO_ORBIT_SIM as it is now), so that
// tests in one process stay independent. Returns the number of probes.
KARVELO_EXPORT int KarveloSimReload();

namespace karvelo::orbitsim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kLibraryName = "liborbit_if";
// The simulator's own failure codes (0 is success; 8466 and 8467 come only
// from a probe's `status`).
constexpr std::int32_t kOk = 0;
constexpr std::int32_t kBadArgument = 8450;
constexpr std::int32_t kNotConnected = 8451;
constexpr std::int32_t kNoSuchNetwork = 8452;
constexpr std::int32_t kNoSuchProbe = 8453;
constexpr std::int32_t kNotInReadingMode = 8454;
// The reading mode: these two settings, the second after the first.
constexpr std::int32_t kModeCode1 = 50;
constexpr std::int32_t kModeValue1 = 64;
constexpr std::int32_t kModeCode2 = 51;
constexpr std::int32_t kModeValue2 = 18;

enum class ModeStage : std::uint8_t { None, First, Reading };

struct Probe {
    ProbeConfig config;
    ModeStage mode = ModeStage::None;
    std::uint64_t reads = 0;
};

struct Library {
    std::mutex mutex;
    bool loaded = false;
    bool connected = false;
    Scenario scenario;
    std::vector<Probe> probes;
    int logFd = -1;
    const Clock::time_point start = Clock::now();

    ~Library() {
        if (logFd >= 0) close(logFd);
    }
};

Library g_library;

std::filesystem::path LibraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OrbitRead2), &info) == 0 || info.dli_fname == nullptr) {
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

std::string Numbers(const std::vector<std::int32_t>& list) {
    std::string s;
    for (std::int32_t v : list) s += (s.empty() ? "" : " ") + std::to_string(v);
    return s;
}

// Reads the scenario and opens the log. Called with the mutex held.
void LoadLocked() {
    Library& lib = g_library;
    lib.loaded = true;
    lib.connected = false;
    lib.scenario = Scenario{};
    lib.probes.clear();
    if (lib.logFd >= 0) close(lib.logFd);
    lib.logFd = -1;

    const char* named = std::getenv("KARVELO_ORBIT_SIM");
    const bool explicitFile = named != nullptr && *named != '\0';
    const std::filesystem::path scenario =
        explicitFile ? std::filesystem::path(named) : LibraryFolder() / "orbit-sim.ini";
    std::ifstream in(scenario, std::ios::binary);
    const int readError = errno;
    const char* logName = std::getenv("KARVELO_ORBIT_SIM_LOG");
    const bool explicitLog = logName != nullptr && *logName != '\0';
    // Without a scenario of its own choosing the library leaves no files behind.
    if (!in && !explicitFile && !explicitLog) return;
    const std::filesystem::path log =
        explicitLog ? std::filesystem::path(logName) : scenario.parent_path() / "orbit-sim.log";
    lib.logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (lib.logFd < 0) {
        std::fprintf(stderr, "liborbit_if.so (simulator): cannot write the log %s: %s\n",
                     log.c_str(), std::strerror(errno));
    }

    std::string problem;
    if (!in) {
        if (!explicitFile) {
            Log(kLibraryName, "no scenario " + scenario.string() + ": no networks");
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
                                  std::to_string(lib.scenario.probes.size()) + " probe(s), " +
                                  std::to_string(lib.scenario.NetworkCount()) +
                                  " network(s), connect status " +
                                  std::to_string(lib.scenario.connectStatus));
            for (const ProbeConfig& c : lib.scenario.probes) {
                Log(c.name, "network " + std::to_string(c.network) + ", channel " +
                                std::to_string(c.channel) + ", readings " + Numbers(c.readings) +
                                ", status " + Numbers(c.statuses));
                lib.probes.push_back(Probe{c, ModeStage::None, 0});
            }
            return;
        } catch (const ScenarioError& e) {
            lib.scenario = Scenario{};
            problem = e.what();
        }
    }
    // A scenario that cannot be used leaves no network at all.
    lib.scenario.networks = 0;
    Log(kLibraryName, problem + "; no networks offered");
    std::fprintf(stderr, "liborbit_if.so (simulator): %s; no networks offered\n", problem.c_str());
}

void EnsureLoaded() {
    if (!g_library.loaded) LoadLocked();
}

Probe* Find(std::int32_t network, std::int32_t channel) {
    for (Probe& p : g_library.probes) {
        if (p.config.network == network && p.config.channel == channel) return &p;
    }
    return nullptr;
}

std::string Where(std::int32_t network, std::int32_t channel) {
    return "network " + std::to_string(network) + ", channel " + std::to_string(channel);
}

}  // namespace
}  // namespace karvelo::orbitsim

using namespace karvelo::orbitsim;

std::int32_t GetOrbitNetworkNameAndType() {
    std::lock_guard lock(g_library.mutex);
    EnsureLoaded();
    Log(kLibraryName, "GetOrbitNetworkNameAndType: not simulated");
    return kBadArgument;
}

std::int32_t DisconnectFromOrbitNetworks() {
    std::lock_guard lock(g_library.mutex);
    EnsureLoaded();
    g_library.connected = false;
    Log(kLibraryName, "DisconnectFromOrbitNetworks");
    return kOk;
}

std::int32_t ConnectToOrbitNetworks(std::int32_t* count) {
    std::lock_guard lock(g_library.mutex);
    EnsureLoaded();
    Library& lib = g_library;
    if (count == nullptr) {
        Log(kLibraryName, "ConnectToOrbitNetworks without a count");
        return kBadArgument;
    }
    const std::int32_t status = lib.scenario.connectStatus;
    lib.connected = status == kOk;
    *count = lib.connected ? lib.scenario.NetworkCount() : 0;
    Log(kLibraryName, "ConnectToOrbitNetworks: status " + std::to_string(status) + ", " +
                          std::to_string(*count) + " network(s)");
    return status;
}

std::int32_t OrbitRst(std::int32_t network) {
    std::lock_guard lock(g_library.mutex);
    EnsureLoaded();
    Library& lib = g_library;
    const std::string what = "OrbitRst " + std::to_string(network);
    if (!lib.connected) {
        Log(kLibraryName, what + ": not connected");
        return kNotConnected;
    }
    if (network < 0 || network >= lib.scenario.NetworkCount()) {
        Log(kLibraryName, what + ": no such network");
        return kNoSuchNetwork;
    }
    // A reset puts every probe of the network back to its power-on mode.
    for (Probe& p : lib.probes) {
        if (p.config.network == network) p.mode = ModeStage::None;
    }
    Log(kLibraryName, what);
    return kOk;
}

std::int32_t OrbitSetmode(std::int32_t network, std::int32_t channel, std::int32_t* code,
                          std::int32_t* value) {
    std::lock_guard lock(g_library.mutex);
    EnsureLoaded();
    Library& lib = g_library;
    if (code == nullptr || value == nullptr) {
        Log(kLibraryName, "OrbitSetmode " + Where(network, channel) + " without code or value");
        return kBadArgument;
    }
    const std::string what =
        "OrbitSetmode code " + std::to_string(*code) + ", value " + std::to_string(*value);
    if (!lib.connected) {
        Log(kLibraryName, what + " on " + Where(network, channel) + ": not connected");
        return kNotConnected;
    }
    Probe* p = Find(network, channel);
    if (p == nullptr) {
        Log(kLibraryName, what + ": no probe on " + Where(network, channel));
        return kNoSuchProbe;
    }
    if (*code == kModeCode1 && *value == kModeValue1) {
        p->mode = ModeStage::First;
    } else if (*code == kModeCode2 && *value == kModeValue2 && p->mode == ModeStage::First) {
        p->mode = ModeStage::Reading;
        Log(p->config.name, what + ": in reading mode");
        return kOk;
    } else {
        // Any other setting leaves the probe out of the station's reading mode.
        p->mode = ModeStage::None;
    }
    Log(p->config.name, what);
    return kOk;
}

std::int32_t OrbitRead2(std::int32_t network, std::int32_t channel, std::int32_t* reading) {
    std::lock_guard lock(g_library.mutex);
    EnsureLoaded();
    Library& lib = g_library;
    if (reading == nullptr) {
        Log(kLibraryName, "OrbitRead2 " + Where(network, channel) + " without a reading");
        return kBadArgument;
    }
    if (!lib.connected) {
        Log(kLibraryName, "OrbitRead2 " + Where(network, channel) + ": not connected");
        return kNotConnected;
    }
    Probe* p = Find(network, channel);
    if (p == nullptr) {
        Log(kLibraryName, "OrbitRead2: no probe on " + Where(network, channel));
        return kNoSuchProbe;
    }
    if (p->mode != ModeStage::Reading) {
        Log(p->config.name, "OrbitRead2: not in reading mode (50, 64 then 51, 18)");
        return kNotInReadingMode;
    }
    const std::uint64_t i = p->reads++;
    const ProbeConfig& c = p->config;
    const std::int32_t status = c.statuses[i % c.statuses.size()];
    const std::string turn = "OrbitRead2 " + std::to_string(p->reads);
    if (status != kOk) {
        Log(c.name, turn + ": status " + std::to_string(status));
        return status;
    }
    *reading = c.readings[i % c.readings.size()];
    Log(c.name, turn + ": reading " + std::to_string(*reading));
    return kOk;
}

int KarveloSimReload() {
    std::lock_guard lock(g_library.mutex);
    LoadLocked();
    return static_cast<int>(g_library.probes.size());
}
