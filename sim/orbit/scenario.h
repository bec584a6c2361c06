#pragma once
// The Orbit networks the simulated liborbit_if.so offers, read from an INI
// file: an optional [library] section for the connect call, then one section
// per probe. Self-contained (no station library), since the library is loaded
// into the station's process.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/scenario_text.h"

namespace karvelo::orbitsim {

using simcommon::ScenarioError;

struct ProbeConfig {
    std::string name;  // the section name
    int network = 0;
    int channel = 0;
    std::vector<std::int32_t> readings{0};  // raw counts of each read, cycled
    std::vector<std::int32_t> statuses{0};  // OrbitRead2's status of each read, cycled
};

struct Scenario {
    std::int32_t connectStatus = 0;
    int networks = -1;  // -1: one more than the highest network of a probe
    std::vector<ProbeConfig> probes;

    int NetworkCount() const;
};

// `origin` names the text in messages (the file name).
Scenario ParseScenario(std::string_view text, std::string_view origin);

}  // namespace karvelo::orbitsim
