// libibr_ddk.so for tests and the demo: the five driver calls the station
// makes, answered by a simulated IBRit measuring bus from a scenario file.
// The station loads it from its own folder before the system's copy, so a
// folder with the program, this library and an ibrit-sim.ini is a bench with
// a measuring bus.
//
// All state sits behind one mutex: the station initialises the driver on its
// window thread and latches and collects on its acquisition thread.

#include <array>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "backends/ibrit/bus_library.h"
#include "common/library_runtime.h"
#include "common/log_escape.h"
#include "ibrit/scenario.h"

#define KARVELO_EXPORT extern "C" __attribute__((visibility("default")))

KARVELO_EXPORT std::int16_t Device_Init(std::int32_t mode, const char* path, std::int32_t a,
                                        std::int32_t b);
KARVELO_EXPORT void Device_DeInit(void);
KARVELO_EXPORT std::int16_t Device_Setup(std::int32_t mode, const char* path,
                                         std::uintptr_t parentWindow, char buffer[20]);
KARVELO_EXPORT std::int16_t Device_Latch(std::int32_t bus);
KARVELO_EXPORT std::int16_t Device_Collect(std::int32_t bus, std::int32_t* channel, double* value);
// Not part of the driver: forgets the bus and reads the scenario again
// (KARVELO_IBRIT_SIM as it is now), so that tests in one process stay
// independent. Returns the number of channels offered.
KARVELO_EXPORT int KarveloSimReload();

// The station loads these by name with the prototypes of bus_library.h.
static_assert(std::is_same_v<decltype(&Device_Init), karvelo::ibrit::Device_InitFn>);
static_assert(std::is_same_v<decltype(&Device_DeInit), karvelo::ibrit::Device_DeInitFn>);
static_assert(std::is_same_v<decltype(&Device_Setup), karvelo::ibrit::Device_SetupFn>);
static_assert(std::is_same_v<decltype(&Device_Latch), karvelo::ibrit::Device_LatchFn>);
static_assert(std::is_same_v<decltype(&Device_Collect), karvelo::ibrit::Device_CollectFn>);

namespace karvelo::ibritsim {
namespace {

using simcommon::Escape;

constexpr int kBuses = 8;
// What the driver answers without a bus to talk to.
constexpr std::int16_t kNoHardware = 1;
constexpr std::int16_t kNotInitialised = 4;
constexpr std::int16_t kBadArgument = 5;

struct Channel {
    SectionConfig config;
    std::uint64_t collects = 0;     // answers given so far
    std::uint64_t delivered = 0;    // values delivered so far
    std::uint64_t latchesSeen = 0;  // the bus's latch count at this channel's last collect
};

simcommon::LibraryRuntime g_runtime({.library = "libibr_ddk",
                                     .variable = "KARVELO_IBRIT_SIM",
                                     .files = "ibrit-sim",
                                     .noScenario = "no bus",
                                     .unusable = "no bus"});

struct Library {
    bool hardware = false;  // a usable scenario was read
    bool initialised = false;
    SectionConfig driver{"driver", SectionKind::Driver};
    std::vector<Channel> channels;
    std::array<std::uint64_t, kBuses + 1> latches{};  // per bus 1..8, over the library's life
};

Library g_library;

std::string Summary(const SectionConfig& c) {
    std::string s = "bus " + std::to_string(c.bus) + " channel " + std::to_string(c.channel) +
                    ", " + std::to_string(c.values.size()) + " value(s), answers";
    for (int a : c.answers) s += " " + std::to_string(a);
    if (c.needsLatch) s += ", needs a latch";
    return s;
}

// Reads the scenario and opens the log. Called with the mutex held.
void LoadLocked() {
    Library& lib = g_library;
    lib = Library{};
    std::vector<SectionConfig> configs;
    g_runtime.Load([&](const std::string& text, const std::string& origin) {
        Scenario s = ParseScenario(text, origin);
        lib.hardware = true;
        lib.driver = std::move(s.driver);
        configs = std::move(s.channels);
        return std::to_string(configs.size()) + " channel(s), init answers " +
               std::to_string(lib.driver.initResult);
    });
    for (SectionConfig& c : configs) {
        g_runtime.Log(c.name, Summary(c));
        lib.channels.push_back(Channel{std::move(c)});
    }
}

void EnsureLoaded() {
    if (!g_runtime.Loaded()) LoadLocked();
}

std::string PathText(const char* path) {
    return path ? Escape(path) : std::string("(null)");
}

Channel* Find(int bus, int channel) {
    for (Channel& c : g_library.channels) {
        if (c.config.bus == bus && c.config.channel == channel) return &c;
    }
    return nullptr;
}

std::int16_t Answer(Channel& ch, double* value) {
    const SectionConfig& c = ch.config;
    const std::uint64_t busLatches = g_library.latches[static_cast<std::size_t>(c.bus)];
    if (c.needsLatch && busLatches == ch.latchesSeen) {
        g_runtime.Log(c.name, "collect without a new latch: 3");
        return kNotLatched;
    }
    ch.latchesSeen = busLatches;
    const int code = c.answers[ch.collects % c.answers.size()];
    ++ch.collects;
    if (code != kValue) {
        g_runtime.Log(c.name,
                      "collect " + std::to_string(ch.collects) + ": " + std::to_string(code));
        return static_cast<std::int16_t>(code);
    }
    *value = c.values[ch.delivered % c.values.size()];
    ++ch.delivered;
    g_runtime.Log(c.name, "collect " + std::to_string(ch.collects) + ": 0, value " +
                              simcommon::Shortest(*value));
    return kValue;
}

}  // namespace
}  // namespace karvelo::ibritsim

using namespace karvelo::ibritsim;

std::int16_t Device_Init(std::int32_t mode, const char* path, std::int32_t a, std::int32_t b) {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    Library& lib = g_library;
    const std::string call = "Device_Init(" + std::to_string(mode) + ", " + PathText(path) + ", " +
                             std::to_string(a) + ", " + std::to_string(b) + ")";
    if (!lib.hardware) {
        g_runtime.Log(call + ": " + std::to_string(kNoHardware) + " (no bus)");
        return kNoHardware;
    }
    const auto result = static_cast<std::int16_t>(lib.driver.initResult);
    lib.initialised = result <= 0;
    g_runtime.Log(call + ": " + std::to_string(result));
    return result;
}

void Device_DeInit(void) {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    g_runtime.Log(std::string("Device_DeInit") +
                  (g_library.initialised ? "" : " (was not initialised)"));
    g_library.initialised = false;
}

std::int16_t Device_Setup(std::int32_t mode, const char* path, std::uintptr_t parentWindow,
                          char buffer[20]) {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    const std::string text = buffer ? std::string(buffer, strnlen(buffer, 20)) : "(null)";
    g_runtime.Log("Device_Setup(" + std::to_string(mode) + ", " + PathText(path) + ", window " +
                  std::to_string(parentWindow) + ", buffer " + Escape(text) +
                  "): no dialog to show");
    return 0;
}

std::int16_t Device_Latch(std::int32_t bus) {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    Library& lib = g_library;
    if (bus < 1 || bus > kBuses) {
        g_runtime.Log("Device_Latch(" + std::to_string(bus) + "): no such bus");
        return kBadArgument;
    }
    if (!lib.initialised) {
        g_runtime.Log("Device_Latch(" + std::to_string(bus) + "): not initialised");
        return kNotInitialised;
    }
    const std::uint64_t n = ++lib.latches[static_cast<std::size_t>(bus)];
    g_runtime.Log("latch bus " + std::to_string(bus) + " (" + std::to_string(n) + ")");
    return 0;
}

std::int16_t Device_Collect(std::int32_t bus, std::int32_t* channel, double* value) {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    Library& lib = g_library;
    const std::string call = "Device_Collect(" + std::to_string(bus) + ", " +
                             (channel ? std::to_string(*channel) : std::string("null")) + ")";
    if (channel == nullptr || value == nullptr || bus < 1 || bus > kBuses) {
        g_runtime.Log(call + ": bad arguments");
        return kBadArgument;
    }
    if (!lib.initialised) {
        g_runtime.Log(call + ": not initialised");
        return kNotInitialised;
    }
    Channel* ch = Find(bus, *channel);
    if (ch == nullptr) {
        g_runtime.Log(call + ": no such channel, " + std::to_string(lib.driver.unknownResult));
        return static_cast<std::int16_t>(lib.driver.unknownResult);
    }
    return Answer(*ch, value);
}

int KarveloSimReload() {
    std::lock_guard lock(g_runtime.Mutex());
    LoadLocked();
    return static_cast<int>(g_library.channels.size());
}
