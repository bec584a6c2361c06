#pragma once
// The analog inputs the simulated libcbw.so offers, read from an INI file: one
// section per input (a board and channel). Self-contained (no station
// library): the library is loaded into the station's process.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/scenario_text.h"

namespace karvelo::cbwsim {

enum class Behaviour : std::uint8_t { Normal, Fail };

struct InputConfig {
    std::string name;  // for the log: the section name unless `name` is given
    int board = 0;
    int channel = 0;
    std::vector<int> raw{0};   // one per successful conversion, cycled
    std::optional<int> range;  // the only range code accepted; any when not given
    Behaviour behaviour = Behaviour::Normal;
    int every = 1;  // the misbehaviour hits every k-th conversion ...
    int after = 0;  // ... once this many went normally
};

using simcommon::ScenarioError;

// The library's name of a bipolar range code ("bip10"), or the number.
std::string RangeName(int code);

std::vector<InputConfig> ParseScenario(std::string_view text, std::string_view origin);

}  // namespace karvelo::cbwsim
