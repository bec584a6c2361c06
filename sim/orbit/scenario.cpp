#include "orbit/scenario.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <set>

namespace karvelo::orbitsim {
namespace {

using simcommon::ApplyKey;
using simcommon::Lower;
using simcommon::Split;
using simcommon::Trim;

constexpr long kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr long kInt32Max = std::numeric_limits<std::int32_t>::max();
// Networks and channels the simulator accepts.
constexpr long kMaxNetwork = 31;
constexpr long kMaxChannel = 255;
constexpr std::string_view kLibrarySection = "library";

// "1 2; 3/4": 32-bit whole numbers.
std::vector<std::int32_t> ParseInt32List(std::string_view text, std::string_view what) {
    std::vector<std::int32_t> list;
    for (std::string_view token : Split(text, "/; \t")) {
        if (token.empty()) continue;
        list.push_back(
            static_cast<std::int32_t>(simcommon::ParseInteger(token, kInt32Min, kInt32Max, what)));
    }
    if (list.empty()) throw ScenarioError(std::string(what) + " is empty");
    return list;
}

// Either section kind is read into this; Finish sorts them apart.
struct Section {
    std::string name;
    bool library = false;
    ProbeConfig probe;
    std::int32_t connectStatus = 0;
    int networks = -1;
};

using KeyRule = simcommon::KeyRule<Section>;

constexpr std::array<KeyRule, 2> kLibraryKeys = {{
    {"connect",
     [](Section& s, std::string_view v) {
         s.connectStatus =
             static_cast<std::int32_t>(simcommon::ParseInteger(v, kInt32Min, kInt32Max, "connect"));
     }},
    {"networks",
     [](Section& s, std::string_view v) {
         s.networks = static_cast<int>(simcommon::ParseInteger(v, -1, kMaxNetwork + 1, "networks"));
     }},
}};

constexpr std::array<KeyRule, 4> kProbeKeys = {{
    {"network",
     [](Section& s, std::string_view v) {
         s.probe.network = static_cast<int>(simcommon::ParseInteger(v, 0, kMaxNetwork, "network"));
     }},
    {"channel",
     [](Section& s, std::string_view v) {
         s.probe.channel = static_cast<int>(simcommon::ParseInteger(v, 0, kMaxChannel, "channel"));
     }},
    {"readings",
     [](Section& s, std::string_view v) { s.probe.readings = ParseInt32List(v, "readings"); }},
    {"status",
     [](Section& s, std::string_view v) { s.probe.statuses = ParseInt32List(v, "status"); }},
}};

struct Builder {
    Section config;
    std::set<std::string> seen;
    std::string where;

    void Set(std::string_view rawKey, std::string_view value, const std::string& place) {
        config.library = Lower(config.name) == kLibrarySection;
        if (config.library) {
            ApplyKey(kLibraryKeys, seen, config, rawKey, Trim(value), place);
        } else {
            ApplyKey(kProbeKeys, seen, config, rawKey, Trim(value), place);
        }
    }

    Section Finish() {
        config.library = Lower(config.name) == kLibrarySection;
        config.probe.name = config.name;
        if (!config.library && !seen.contains("channel")) {
            throw ScenarioError(where + ": channel is missing (the probe's channel, 0 to " +
                                std::to_string(kMaxChannel) + ")");
        }
        return std::move(config);
    }
};

}  // namespace

int Scenario::NetworkCount() const {
    if (networks >= 0) return networks;
    int highest = -1;
    for (const ProbeConfig& p : probes) highest = std::max(highest, p.network);
    return highest + 1;
}

Scenario ParseScenario(std::string_view text, std::string_view origin) {
    Scenario scenario;
    for (Section& s : simcommon::ParseSections<Builder>(text, origin, "probe")) {
        if (s.library) {
            scenario.connectStatus = s.connectStatus;
            scenario.networks = s.networks;
            continue;
        }
        for (const ProbeConfig& p : scenario.probes) {
            if (p.network == s.probe.network && p.channel == s.probe.channel) {
                throw ScenarioError(std::string(origin) + ": [" + s.name + "] and [" + p.name +
                                    "] are both network " + std::to_string(p.network) +
                                    ", channel " + std::to_string(p.channel));
            }
        }
        scenario.probes.push_back(std::move(s.probe));
    }
    return scenario;
}

}  // namespace karvelo::orbitsim
