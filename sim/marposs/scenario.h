#pragma once
// The Marposs EasyBox the simulated libmarposs_zento.so offers, read from an
// INI file: an optional [box] section for Init's answer, then one section per
// channel. Self-contained (no station library), since the library is loaded
// into the station's process.

#include <string>
#include <string_view>
#include <vector>

#include "common/scenario_text.h"

namespace karvelo::marpossim {

using simcommon::ScenarioError;

struct ChannelConfig {
    std::string name;  // the section name
    int channel = 0;
    std::vector<double> values{0.0};  // the reading of each read, cycled
};

struct Scenario {
    int initResult = 1;  // what Init(1) answers
    std::vector<ChannelConfig> channels;
};

// `origin` names the text in messages (the file name).
Scenario ParseScenario(std::string_view text, std::string_view origin);

}  // namespace karvelo::marpossim
