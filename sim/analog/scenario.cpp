#include "analog/scenario.h"

#include <array>
#include <set>

namespace karvelo::cbwsim {
namespace {

using simcommon::ApplyKey;
using simcommon::ParseName;
using simcommon::Trim;

constexpr std::array<std::string_view, 4> kRangeNames = {"bip10", "bip5", "bip2", "bip1"};
// The library's codes of the ranges above.
constexpr std::array<int, 4> kRangeCodes = {1, 0, 14, 4};
constexpr std::array<std::string_view, 2> kBehaviourNames = {"normal", "fail"};

int ParseInteger(std::string_view text, long min, long max, std::string_view what) {
    return static_cast<int>(simcommon::ParseInteger(text, min, max, what));
}

using KeyRule = simcommon::KeyRule<InputConfig>;

constexpr std::array<KeyRule, 8> kKeys = {{
    {"name",
     [](InputConfig& c, std::string_view v) {
         if (v.empty()) throw ScenarioError("name is empty");
         c.name = v;
     }},
    {"board",
     [](InputConfig& c, std::string_view v) { c.board = ParseInteger(v, 0, 99, "board"); }},
    {"channel",
     [](InputConfig& c, std::string_view v) { c.channel = ParseInteger(v, 0, 255, "channel"); }},
    {"raw",
     [](InputConfig& c, std::string_view v) {
         c.raw = simcommon::ParseIntegerList(v, 0, 65535, "raw");
         if (c.raw.empty()) throw ScenarioError("raw is empty");
     }},
    {"range",
     [](InputConfig& c, std::string_view v) {
         c.range = kRangeCodes[ParseName(v, kRangeNames, "range")];
     }},
    {"behaviour",
     [](InputConfig& c, std::string_view v) {
         c.behaviour = static_cast<Behaviour>(ParseName(v, kBehaviourNames, "behaviour"));
     }},
    {"every",
     [](InputConfig& c, std::string_view v) { c.every = ParseInteger(v, 1, 1000000, "every"); }},
    {"after",
     [](InputConfig& c, std::string_view v) { c.after = ParseInteger(v, 0, 1000000, "after"); }},
}};

struct Builder {
    InputConfig config;
    std::set<std::string> seen;
    std::string where;

    void Set(std::string_view rawKey, std::string_view value, const std::string& place) {
        ApplyKey(kKeys, seen, config, rawKey, Trim(value), place);
    }

    InputConfig Finish() {
        if ((seen.contains("every") || seen.contains("after")) &&
            config.behaviour == Behaviour::Normal) {
            throw ScenarioError(where + ": every and after apply to behaviour fail only");
        }
        return std::move(config);
    }
};

}  // namespace

std::string RangeName(int code) {
    for (std::size_t i = 0; i < kRangeCodes.size(); ++i) {
        if (kRangeCodes[i] == code) return std::string(kRangeNames[i]);
    }
    return "code " + std::to_string(code);
}

std::vector<InputConfig> ParseScenario(std::string_view text, std::string_view origin) {
    std::vector<InputConfig> inputs = simcommon::ParseSections<Builder>(text, origin, "input");
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (inputs[i].board == inputs[j].board && inputs[i].channel == inputs[j].channel) {
                throw ScenarioError(std::string(origin) + ": [" + inputs[j].name + "] and [" +
                                    inputs[i].name + "] are both board " +
                                    std::to_string(inputs[i].board) + ", channel " +
                                    std::to_string(inputs[i].channel));
            }
        }
    }
    return inputs;
}

}  // namespace karvelo::cbwsim
