// libik220.so for tests and the demo: the five IK220 calls the station makes,
// answered by simulated card axes from a scenario file instead of a PCI card.
// The station loads it from its own folder before the system's copy, so a
// folder with this library and an ik220-sim.ini is a bench with a card.
//
// All state sits behind one mutex: the station calls from its acquisition and
// its window thread.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "backends/ik220/ik220_api.h"
#include "common/library_runtime.h"
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

simcommon::LibraryRuntime g_runtime({.library = "libik220",
                                     .variable = "KARVELO_IK220_SIM",
                                     .files = "ik220-sim",
                                     .noScenario = "no card",
                                     .unusable = "no card offered"});

struct Library {
    std::vector<Axis> axes;
};

Library g_library;

std::string Summary(const AxisConfig& c) {
    std::string s = "axis " + std::to_string(c.axis) + ", id " + std::to_string(c.id);
    if (c.interface != Interface::Any)
        s += ", interface " + std::string(InterfaceName(c.interface));
    if (c.behaviour == Behaviour::Fail) {
        s += ", fail";
        s += simcommon::ScheduleText(c.every, c.after);
    }
    return s;
}

// Reads the scenario and opens the log. Called with the mutex held.
void LoadLocked() {
    g_library.axes.clear();
    for (AxisConfig& c : g_runtime.LoadDevices(ParseScenario, "axis/axes", Summary)) {
        g_library.axes.push_back(Axis{std::move(c)});
    }
}

// Called with the mutex held.
void EnsureLoaded() {
    if (!g_runtime.Loaded()) LoadLocked();
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
        g_runtime.Log(std::string(call) + " of axis " + std::to_string(number) + ": no such axis");
        return 0;
    }
    const AxisConfig& c = a->config;
    ++a->reads;
    const std::string turn = std::string(call) + " " + std::to_string(a->reads);
    if (value == nullptr) {
        g_runtime.Log(c.name, turn + ": no place for the value");
        return 0;
    }
    if (!a->initialised) {
        g_runtime.Log(c.name, turn + " failed: axis not initialised (IK220Init)");
        return 0;
    }
    if (c.interface != Interface::Any) {
        if (IsIncremental(c.interface) != incrementalCall) {
            g_runtime.Log(c.name, turn + " failed: the encoder is " +
                                      std::string(InterfaceName(c.interface)));
            return 0;
        }
        const Interface set = SetUp(*a);
        if (set != c.interface) {
            g_runtime.Log(c.name, turn + " failed: parameters set up " +
                                      std::string(InterfaceName(set)) + ", the encoder is " +
                                      std::string(InterfaceName(c.interface)));
            return 0;
        }
    }
    if (c.behaviour == Behaviour::Fail && simcommon::ScheduleHits(a->reads, c.every, c.after)) {
        g_runtime.Log(c.name, turn + " failed (behaviour fail)");
        return 0;
    }
    *value = c.values[static_cast<std::size_t>(a->served % c.values.size())];
    ++a->served;
    g_runtime.Log(c.name, turn + ": " + simcommon::Shortest(*value));
    return 1;
}

}  // namespace
}  // namespace karvelo::ik220sim

using namespace karvelo::ik220sim;

int IK220Find(std::uint32_t* table) {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    if (table == nullptr) {
        g_runtime.Log("find: no table");
        return 0;
    }
    for (int i = 0; i < kTableEntries; ++i) table[i] = 0;
    for (const Axis& a : g_library.axes) table[a.config.axis] = a.config.id;
    g_runtime.Log("find: " + std::to_string(g_library.axes.size()) + " axis/axes");
    return g_library.axes.empty() ? 0 : 1;
}

int IK220Init(std::uint16_t axis) {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    Axis* a = ByNumber(axis);
    if (a == nullptr) {
        g_runtime.Log("init of axis " + std::to_string(axis) + ": no such axis");
        return 0;
    }
    a->initialised = true;
    a->encoderSet = false;
    a->signalSet = false;
    g_runtime.Log(a->config.name, "init");
    return 1;
}

int IK220WritePar(std::uint16_t axis, std::uint16_t par, std::uint32_t value) {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    Axis* a = ByNumber(axis);
    if (a == nullptr) {
        g_runtime.Log("parameter of axis " + std::to_string(axis) + ": no such axis");
        return 0;
    }
    if (par == kParEncoder) {
        a->encoder = value;
        a->encoderSet = true;
    } else if (par == kParSignal) {
        a->signal = value;
        a->signalSet = true;
    }
    g_runtime.Log(a->config.name,
                  "parameter " + std::to_string(par) + " = " + std::to_string(value));
    return 1;
}

int IK220Read48(std::uint16_t axis, std::uint16_t latch, double* value) {
    std::lock_guard lock(g_runtime.Mutex());
    if (latch != 0) {
        EnsureLoaded();
        g_runtime.Log("read48 of axis " + std::to_string(axis) + " with latch " +
                      std::to_string(latch) + ": no latched value");
        return 0;
    }
    return ReadAxis(axis, "read48", true, value);
}

int IK220ReadEn(std::uint16_t axis, std::uint32_t* status, double* value, std::uint32_t* alarm) {
    std::lock_guard lock(g_runtime.Mutex());
    if (status != nullptr) *status = 0;
    if (alarm != nullptr) *alarm = 0;
    return ReadAxis(axis, "readEn", false, value);
}

int KarveloSimReload() {
    std::lock_guard lock(g_runtime.Mutex());
    LoadLocked();
    return static_cast<int>(g_library.axes.size());
}
