#pragma once
// The measuring bus the simulated libibr_ddk.so offers, read from an INI file:
// one section per channel of a bus, and an optional [driver] section for the
// driver's own answers. Self-contained (no station library), since the library
// is loaded into the station's process.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/scenario_text.h"

namespace karvelo::ibritsim {

// Device_Collect's answers with a meaning of their own.
inline constexpr std::int16_t kValue = 0;
inline constexpr std::int16_t kNothingNew = 190;
inline constexpr std::int16_t kNotLatched = 3;

enum class SectionKind : std::uint8_t { Channel, Driver };

struct SectionConfig {
    std::string name;  // for the log: the section name unless `name` is given
    SectionKind kind = SectionKind::Channel;

    // A channel.
    int bus = 0;
    int channel = 0;
    std::vector<double> values{0.0};   // one per delivered value, cycled
    std::vector<int> answers{kValue};  // one code per collect, cycled; 0: the next value
    bool needsLatch = false;           // a collect without a latch since the last one: 3

    // The driver.
    int initResult = 0;     // what every Device_Init returns; above 0 fails
    int unknownResult = 2;  // Device_Collect of a channel the scenario does not have
};

struct Scenario {
    std::vector<SectionConfig> channels;
    SectionConfig driver{"driver", SectionKind::Driver};
};

using simcommon::ScenarioError;

// `origin` names the text in messages (the file name).
Scenario ParseScenario(std::string_view text, std::string_view origin);

}  // namespace karvelo::ibritsim
