#pragma once
// The instruments a simulator run stands in for: read from a scenario file
// (one INI section per instrument) or from --instrument options
// ("link=/tmp/a,type=1,values=12.345").

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/scenario_text.h"
#include "serial/protocol.h"

namespace karvelo::sim {

enum class Behaviour : std::uint8_t { Normal, Silent, Slow, Cut, Error, Garbage, Invalid, Hangup };

std::string_view BehaviourName(Behaviour b);

struct InstrumentConfig {
    std::string name;  // for the log: the section name, or the link's file name
    std::string link;  // the symbolic link to create
    int type = 0;
    const InstrumentProtocol* protocol = nullptr;
    std::vector<std::vector<double>> replies{{0.0}};  // values of each reply, cycled
    int decimals = 3;
    Behaviour behaviour = Behaviour::Normal;
    int every = 1;              // the misbehaviour hits every k-th turn ...
    int after = 0;              // ... once this many turns went normally
    int delayMs = 100;          // slow: pause between two bytes
    int everyMs = 0;            // sends on its own every N ms; 0: only when asked
    int replugMs = 0;           // hangup: back on a new terminal after N ms; 0: never
    std::vector<int> flags{0};  // PU41/42 send flag of each reply, cycled
    std::vector<int> points;    // ALMEMO measuring point of each value; empty: 0, 1, 2, ...
    std::string unit = "mm";    // two characters
    std::uint32_t seed = 1;     // garbage bytes
};

// A scenario that cannot be run; the message names the place and the fault.
using simcommon::ScenarioError;

// `origin` names the text in messages (the file name).
std::vector<InstrumentConfig> ParseScenario(std::string_view text, std::string_view origin);
InstrumentConfig ParseInstrumentOption(std::string_view keys);

// Checks the whole set: at least one instrument, no link used twice.
void CheckInstruments(const std::vector<InstrumentConfig>& instruments);

}  // namespace karvelo::sim
