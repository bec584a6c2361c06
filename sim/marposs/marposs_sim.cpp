// libmarposs_zento.so for tests and the demo: the two Marposs EasyBox calls
// the station makes, answered by simulated channels from a scenario file
// instead of a box. The station loads it from its own folder before the
// system's copy, so a build folder with this library and a marposs-sim.ini is
// a box on the bench.
//
// All state sits behind one mutex. The station makes every call on its window
// thread; the log numbers the calling threads, so that a call from another
// thread stands out.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/library_runtime.h"
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

using simcommon::Shortest;

// The one mode Init knows; any other is refused with 0.
constexpr int kInitMode = 1;
constexpr int kInitRefused = 0;
constexpr int kReady = 1;

struct Channel {
    ChannelConfig config;
    std::uint64_t reads = 0;
};

simcommon::LibraryRuntime g_runtime({.library = "libmarposs_zento",
                                     .variable = "KARVELO_MARPOSS_SIM",
                                     .files = "marposs-sim",
                                     .noScenario = "no box",
                                     .unusable = "no box"});

struct Library {
    bool ready = false;  // the last Init answered 1
    Scenario scenario;
    std::vector<Channel> channels;
    std::vector<std::thread::id> threads;  // in the order they first called
};

Library g_library;

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
    lib = Library{};
    const simcommon::ScenarioOutcome outcome =
        g_runtime.Load([&](const std::string& text, const std::string& origin) {
            lib.scenario = ParseScenario(text, origin);
            return std::to_string(lib.scenario.channels.size()) + " channel(s), Init answers " +
                   std::to_string(lib.scenario.initResult);
        });
    // Without a usable scenario: a box that never becomes ready.
    if (outcome != simcommon::ScenarioOutcome::Used) lib.scenario.initResult = kInitRefused;
    for (const ChannelConfig& c : lib.scenario.channels) {
        std::string values;
        for (double v : c.values) values += (values.empty() ? "" : " ") + Shortest(v);
        g_runtime.Log(c.name, "channel " + std::to_string(c.channel) + ", values " + values);
        lib.channels.push_back(Channel{c, 0});
    }
}

void EnsureLoaded() {
    if (!g_runtime.Loaded()) LoadLocked();
}

}  // namespace
}  // namespace karvelo::marpossim

using namespace karvelo::marpossim;

int MarpossInit(int mode) {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    Library& lib = g_library;
    const std::string call = "Init(" + std::to_string(mode) + ")" + CallingThread();
    const int result = mode == kInitMode ? lib.scenario.initResult : kInitRefused;
    lib.ready = result == kReady;
    g_runtime.Log(call + ": " + std::to_string(result));
    return result;
}

double MarpossReadValue(int channel) {
    std::lock_guard lock(g_runtime.Mutex());
    EnsureLoaded();
    Library& lib = g_library;
    const std::string call = "ReadValue(" + std::to_string(channel) + ")" + CallingThread();
    // The call has no error result: whatever goes wrong reads 0.
    if (!lib.ready) {
        g_runtime.Log(call + ": box not initialised, 0");
        return 0.0;
    }
    for (Channel& c : lib.channels) {
        if (c.config.channel != channel) continue;
        const double v = c.config.values[c.reads++ % c.config.values.size()];
        g_runtime.Log(c.config.name, call + ": " + Shortest(v));
        return v;
    }
    g_runtime.Log(call + ": no such channel, 0");
    return 0.0;
}

int KarveloSimReload() {
    std::lock_guard lock(g_runtime.Mutex());
    LoadLocked();
    return static_cast<int>(g_library.channels.size());
}
