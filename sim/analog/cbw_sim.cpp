// libcbw.so for tests and the demo: the one call of Measurement Computing's
// Universal Library the station makes, cbAIn, answered by simulated analog
// inputs from a scenario file instead of USB modules. The station loads it
// from its own folder before the system's copy, so a folder with this library
// and a cbw-sim.ini is a bench of modules.
//
// All state sits behind one mutex: the station calls from its acquisition
// thread, tests from several.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "analog/scenario.h"
#include "backends/analog/cbw_api.h"
#include "common/library_runtime.h"

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

simcommon::LibraryRuntime g_runtime({.library = "libcbw",
                                     .variable = "KARVELO_CBW_SIM",
                                     .files = "cbw-sim",
                                     .noScenario = "no modules",
                                     .unusable = "no modules offered"});

struct Library {
    std::vector<Input> inputs;
};

Library g_library;

std::string Where(int board, int channel) {
    return "board " + std::to_string(board) + ", channel " + std::to_string(channel);
}

std::string Summary(const InputConfig& c) {
    std::string s =
        Where(c.board, c.channel) + ", " + std::to_string(c.raw.size()) + " raw value(s)";
    if (c.range) s += ", range " + RangeName(*c.range) + " only";
    if (c.behaviour == Behaviour::Fail) {
        s += ", fail";
        s += simcommon::ScheduleText(c.every, c.after);
    }
    return s;
}

// Reads the scenario and opens the log. Called with the mutex held.
void LoadLocked() {
    g_library.inputs.clear();
    for (InputConfig& c : g_runtime.LoadDevices(ParseScenario, "input(s)", Summary)) {
        g_library.inputs.push_back(Input{std::move(c)});
    }
}

}  // namespace
}  // namespace karvelo::cbwsim

using namespace karvelo::cbwsim;

int cbAIn(int board, int channel, int range, std::uint16_t* value) {
    Library& lib = g_library;
    std::lock_guard lock(g_runtime.Mutex());
    if (!g_runtime.Loaded()) LoadLocked();
    bool boardKnown = false;
    Input* input = nullptr;
    for (Input& in : lib.inputs) {
        boardKnown = boardKnown || in.config.board == board;
        if (in.config.board == board && in.config.channel == channel) input = &in;
    }
    if (input == nullptr) {
        g_runtime.Log("conversion of " + Where(board, channel) +
                      (boardKnown ? ": no such channel" : ": no such board"));
        return boardKnown ? kNoChannel : kNoBoard;
    }
    const InputConfig& c = input->config;
    ++input->calls;
    const std::string turn = "conversion " + std::to_string(input->calls);
    if (value == nullptr) {
        g_runtime.Log(c.name, turn + ": no place for the value");
        return kNoValuePlace;
    }
    if (c.range && *c.range != range) {
        g_runtime.Log(c.name, turn + " refused: range " + RangeName(range) +
                                  ", the input is wired for " + RangeName(*c.range));
        return kRangeRefused;
    }
    if (c.behaviour == Behaviour::Fail &&
        karvelo::simcommon::ScheduleHits(input->calls, c.every, c.after)) {
        g_runtime.Log(c.name, turn + " failed (behaviour fail)");
        return kConversionFailed;
    }
    *value =
        static_cast<std::uint16_t>(c.raw[static_cast<std::size_t>(input->served % c.raw.size())]);
    ++input->served;
    g_runtime.Log(c.name, turn + ", range " + RangeName(range) + ": " + std::to_string(*value));
    return kOk;
}

int KarveloSimReload() {
    std::lock_guard lock(g_runtime.Mutex());
    LoadLocked();
    return static_cast<int>(g_library.inputs.size());
}
