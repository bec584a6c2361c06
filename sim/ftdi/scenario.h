#pragma once
// The FTDI adapters the simulated libftd2xx.so offers, read from an INI file:
// one section per adapter, device indices 0, 1, 2 ... in file order. This part
// is self-contained (no station library), since the library is loaded into the
// station's process and must not bring a second copy of the station's code.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/scenario_text.h"

namespace karvelo::ftdisim {

enum class Protocol : std::uint8_t { Pu, Mfp, Exu16 };
enum class Firmware : std::uint8_t { Plain, Framed };
enum class Behaviour : std::uint8_t { Normal, Silent, Error, ShortWrite, Cut, Unplug };

std::string_view ProtocolName(Protocol p);
std::string_view BehaviourName(Behaviour b);

struct AdapterConfig {
    std::string name;  // for the log: the section name unless `name` is given
    std::string description;
    std::string serial;
    Protocol protocol = Protocol::Pu;
    Firmware firmware = Firmware::Plain;
    std::vector<std::vector<double>> replies{{0.0}};  // values of each reply, cycled
    int decimals = 3;
    std::vector<int> flags{0};  // send flag of each reply, cycled
    std::string prefix;         // pu: text right after "PRI"
    Behaviour behaviour = Behaviour::Normal;
    int errorField = 1;  // error: the value field (from 1) that carries E05
    int every = 1;       // the misbehaviour hits every k-th reply ...
    int after = 0;       // ... once this many went normally
    bool busy = false;   // opened by another program: every open fails
};

// A scenario that cannot be used; the message names file, line, key and fault.
using simcommon::ScenarioError;

// `origin` names the text in messages (the file name).
std::vector<AdapterConfig> ParseScenario(std::string_view text, std::string_view origin);

}  // namespace karvelo::ftdisim
