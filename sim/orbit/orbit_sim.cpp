// liborbit_if.so for tests and the demo: the Solartron Orbit calls the station
// makes, answered by simulated probes from a scenario file instead of an Orbit
// network. The station loads it from its own folder before the system's copy,
// so a build folder with this library and an orbit-sim.ini is a bench of
// probes.
//
// All state sits behind one mutex: the station opens on its window thread and
// reads on its acquisition thread.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/library_runtime.h"
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

simcommon::LibraryRuntime g_runtime({.library = "liborbit_if",
                                     .variable = "KARVELO_ORBIT_SIM",
                                     .files = "orbit-sim",
                                     .noScenario = "no networks",
                                     .unusable = "no networks offered"});

struct Library {
    bool connected = false;
    Scenario scenario;
    std::vector<Probe> probes;
};

Library g_library;

std::string Numbers(const std::vector<std::int32_t>& list) {
    std::string s;
    for (std::int32_t v : list) s += (s.empty() ? "" : " ") + std::to_string(v);
    return s;
}

// Reads the scenario and opens the log. Called with the mutex held.
void LoadLocked() {
    Library& lib = g_library;
    lib = Library{};
    const simcommon::ScenarioOutcome outcome =
        g_runtime.Load([&](const std::string& text, const std::string& origin) {
            lib.scenario = ParseScenario(text, origin);
            return std::to_string(lib.scenario.probes.size()) + " probe(s), " +
                   std::to_string(lib.scenario.NetworkCount()) + " network(s), connect status " +
                   std::to_string(lib.scenario.connectStatus);
        });
    // A scenario that cannot be used leaves no network at all.
    if (outcome == simcommon::ScenarioOutcome::Unusable) lib.scenario.networks = 0;
    for (const ProbeConfig& c : lib.scenario.probes) {
        g_runtime.Log(c.name, "network " + std::to_string(c.network) + ", channel " +
                                  std::to_string(c.channel) + ", readings " + Numbers(c.readings) +
                                  ", status " + Numbers(c.statuses));
        lib.probes.push_back(Probe{c, ModeStage::None, 0});
    }
}

void EnsureLoaded() {
    if (!g_runtime.Loaded()) LoadLocked();
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
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    g_runtime.Log("GetOrbitNetworkNameAndType: not simulated");
    return kBadArgument;
}

std::int32_t DisconnectFromOrbitNetworks() {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    g_library.connected = false;
    g_runtime.Log("DisconnectFromOrbitNetworks");
    return kOk;
}

std::int32_t ConnectToOrbitNetworks(std::int32_t* count) {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    Library& lib = g_library;
    if (count == nullptr) {
        g_runtime.Log("ConnectToOrbitNetworks without a count");
        return kBadArgument;
    }
    const std::int32_t status = lib.scenario.connectStatus;
    lib.connected = status == kOk;
    *count = lib.connected ? lib.scenario.NetworkCount() : 0;
    g_runtime.Log("ConnectToOrbitNetworks: status " + std::to_string(status) + ", " +
                  std::to_string(*count) + " network(s)");
    return status;
}

std::int32_t OrbitRst(std::int32_t network) {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    Library& lib = g_library;
    const std::string what = "OrbitRst " + std::to_string(network);
    if (!lib.connected) {
        g_runtime.Log(what + ": not connected");
        return kNotConnected;
    }
    if (network < 0 || network >= lib.scenario.NetworkCount()) {
        g_runtime.Log(what + ": no such network");
        return kNoSuchNetwork;
    }
    // A reset puts every probe of the network back to its power-on mode.
    for (Probe& p : lib.probes) {
        if (p.config.network == network) p.mode = ModeStage::None;
    }
    g_runtime.Log(what);
    return kOk;
}

std::int32_t OrbitSetmode(std::int32_t network, std::int32_t channel, std::int32_t* code,
                          std::int32_t* value) {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    Library& lib = g_library;
    if (code == nullptr || value == nullptr) {
        g_runtime.Log("OrbitSetmode " + Where(network, channel) + " without code or value");
        return kBadArgument;
    }
    const std::string what =
        "OrbitSetmode code " + std::to_string(*code) + ", value " + std::to_string(*value);
    if (!lib.connected) {
        g_runtime.Log(what + " on " + Where(network, channel) + ": not connected");
        return kNotConnected;
    }
    Probe* p = Find(network, channel);
    if (p == nullptr) {
        g_runtime.Log(what + ": no probe on " + Where(network, channel));
        return kNoSuchProbe;
    }
    if (*code == kModeCode1 && *value == kModeValue1) {
        p->mode = ModeStage::First;
    } else if (*code == kModeCode2 && *value == kModeValue2 && p->mode == ModeStage::First) {
        p->mode = ModeStage::Reading;
        g_runtime.Log(p->config.name, what + ": in reading mode");
        return kOk;
    } else {
        // Any other setting leaves the probe out of the station's reading mode.
        p->mode = ModeStage::None;
    }
    g_runtime.Log(p->config.name, what);
    return kOk;
}

std::int32_t OrbitRead2(std::int32_t network, std::int32_t channel, std::int32_t* reading) {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    Library& lib = g_library;
    if (reading == nullptr) {
        g_runtime.Log("OrbitRead2 " + Where(network, channel) + " without a reading");
        return kBadArgument;
    }
    if (!lib.connected) {
        g_runtime.Log("OrbitRead2 " + Where(network, channel) + ": not connected");
        return kNotConnected;
    }
    Probe* p = Find(network, channel);
    if (p == nullptr) {
        g_runtime.Log("OrbitRead2: no probe on " + Where(network, channel));
        return kNoSuchProbe;
    }
    if (p->mode != ModeStage::Reading) {
        g_runtime.Log(p->config.name, "OrbitRead2: not in reading mode (50, 64 then 51, 18)");
        return kNotInReadingMode;
    }
    const std::uint64_t i = p->reads++;
    const ProbeConfig& c = p->config;
    const std::int32_t status = c.statuses[i % c.statuses.size()];
    const std::string turn = "OrbitRead2 " + std::to_string(p->reads);
    if (status != kOk) {
        g_runtime.Log(c.name, turn + ": status " + std::to_string(status));
        return status;
    }
    *reading = c.readings[i % c.readings.size()];
    g_runtime.Log(c.name, turn + ": reading " + std::to_string(*reading));
    return kOk;
}

int KarveloSimReload() {
    std::lock_guard lock(g_runtime.Mutex());
    LoadLocked();
    return static_cast<int>(g_library.probes.size());
}
