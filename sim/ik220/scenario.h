#pragma once
// The card axes the simulated libik220.so offers, read from an INI file: one
// section per axis. Self-contained (no station library): the library is loaded
// into the station's process.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/scenario_text.h"

namespace karvelo::ik220sim {

// Axes a card offers in its table.
inline constexpr int kTableEntries = 16;

// The encoder interface an axis expects; Any takes whatever is set up.
enum class Interface : std::uint8_t { Any, OneVss, ElevenMicroAmp, EnDat, Ssi };
enum class Behaviour : std::uint8_t { Normal, Fail };

std::string_view InterfaceName(Interface i);

struct AxisConfig {
    std::string name;  // for the log: the section name unless `name` is given
    int axis = -1;     // table position; -1 until placed
    std::uint32_t id = 0;
    std::vector<double> values{0.0};  // one per successful read, cycled
    Interface interface = Interface::Any;
    Behaviour behaviour = Behaviour::Normal;
    int every = 1;  // the misbehaviour hits every k-th read ...
    int after = 0;  // ... once this many went normally
};

using simcommon::ScenarioError;

// Axes without an `axis` key take the lowest free positions in file order.
std::vector<AxisConfig> ParseScenario(std::string_view text, std::string_view origin);

}  // namespace karvelo::ik220sim
