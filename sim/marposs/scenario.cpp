#include "marposs/scenario.h"

#include <array>
#include <limits>
#include <set>

namespace karvelo::marpossim {
namespace {

using simcommon::ApplyKey;
using simcommon::Lower;
using simcommon::Split;
using simcommon::Trim;

constexpr long kMaxChannel = 255;
constexpr std::string_view kBoxSection = "box";

// Either section kind is read into this; ParseScenario sorts them apart.
struct Section {
    std::string name;
    bool box = false;
    ChannelConfig channel;
    int initResult = 1;
};

using KeyRule = simcommon::KeyRule<Section>;

constexpr std::array<KeyRule, 1> kBoxKeys = {{
    {"init",
     [](Section& s, std::string_view v) {
         s.initResult = static_cast<int>(simcommon::ParseInteger(
             v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), "init"));
     }},
}};

constexpr std::array<KeyRule, 2> kChannelKeys = {{
    {"channel",
     [](Section& s, std::string_view v) {
         s.channel.channel =
             static_cast<int>(simcommon::ParseInteger(v, 0, kMaxChannel, "channel"));
     }},
    {"values",
     [](Section& s, std::string_view v) {
         std::vector<double> values;
         for (std::string_view token : Split(v, "; \t")) {
             if (!token.empty()) values.push_back(simcommon::ParseValue(token));
         }
         if (values.empty()) throw ScenarioError("values is empty");
         s.channel.values = std::move(values);
     }},
}};

struct Builder {
    Section config;
    std::set<std::string> seen;
    std::string where;

    void Set(std::string_view rawKey, std::string_view value, const std::string& place) {
        config.box = Lower(config.name) == kBoxSection;
        if (config.box) {
            ApplyKey(kBoxKeys, seen, config, rawKey, Trim(value), place);
        } else {
            ApplyKey(kChannelKeys, seen, config, rawKey, Trim(value), place);
        }
    }

    Section Finish() {
        config.box = Lower(config.name) == kBoxSection;
        config.channel.name = config.name;
        if (!config.box && !seen.contains("channel")) {
            throw ScenarioError(where + ": channel is missing (the box's channel, 0 to " +
                                std::to_string(kMaxChannel) + ")");
        }
        return std::move(config);
    }
};

}  // namespace

Scenario ParseScenario(std::string_view text, std::string_view origin) {
    Scenario scenario;
    for (Section& s : simcommon::ParseSections<Builder>(text, origin, "channel")) {
        if (s.box) {
            scenario.initResult = s.initResult;
            continue;
        }
        for (const ChannelConfig& c : scenario.channels) {
            if (c.channel == s.channel.channel) {
                throw ScenarioError(std::string(origin) + ": [" + s.name + "] and [" + c.name +
                                    "] are both channel " + std::to_string(c.channel));
            }
        }
        scenario.channels.push_back(std::move(s.channel));
    }
    return scenario;
}

}  // namespace karvelo::marpossim
