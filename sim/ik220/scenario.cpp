#include "ik220/scenario.h"

#include <array>
#include <set>

namespace karvelo::ik220sim {
namespace {

using simcommon::ApplyKey;
using simcommon::ParseName;
using simcommon::Trim;

constexpr std::array<std::string_view, 5> kInterfaceNames = {"any", "1vss", "11ua", "endat", "ssi"};
constexpr std::array<std::string_view, 2> kBehaviourNames = {"normal", "fail"};

int ParseInteger(std::string_view text, long min, long max, std::string_view what) {
    return static_cast<int>(simcommon::ParseInteger(text, min, max, what));
}

std::vector<double> ParseValues(std::string_view text) {
    std::vector<double> values;
    for (std::string_view part : simcommon::Split(text, " \t;")) {
        if (!part.empty()) values.push_back(simcommon::ParseValue(part));
    }
    if (values.empty()) throw ScenarioError("values is empty");
    return values;
}

using KeyRule = simcommon::KeyRule<AxisConfig>;

constexpr std::array<KeyRule, 8> kKeys = {{
    {"name",
     [](AxisConfig& c, std::string_view v) {
         if (v.empty()) throw ScenarioError("name is empty");
         c.name = v;
     }},
    {"axis", [](AxisConfig& c,
                std::string_view v) { c.axis = ParseInteger(v, 0, kTableEntries - 1, "axis"); }},
    {"id",
     [](AxisConfig& c, std::string_view v) {
         c.id = static_cast<std::uint32_t>(simcommon::ParseInteger(v, 1, 4294967295L, "id"));
     }},
    {"values", [](AxisConfig& c, std::string_view v) { c.values = ParseValues(v); }},
    {"interface",
     [](AxisConfig& c, std::string_view v) {
         c.interface = static_cast<Interface>(ParseName(v, kInterfaceNames, "interface"));
     }},
    {"behaviour",
     [](AxisConfig& c, std::string_view v) {
         c.behaviour = static_cast<Behaviour>(ParseName(v, kBehaviourNames, "behaviour"));
     }},
    {"every",
     [](AxisConfig& c, std::string_view v) { c.every = ParseInteger(v, 1, 1000000, "every"); }},
    {"after",
     [](AxisConfig& c, std::string_view v) { c.after = ParseInteger(v, 0, 1000000, "after"); }},
}};

struct Builder {
    AxisConfig config;
    std::set<std::string> seen;
    std::string where;

    void Set(std::string_view rawKey, std::string_view value, const std::string& place) {
        ApplyKey(kKeys, seen, config, rawKey, Trim(value), place);
    }

    AxisConfig Finish() {
        if (!seen.contains("id")) {
            throw ScenarioError(where + ": id is missing (the axis's identification number)");
        }
        if ((seen.contains("every") || seen.contains("after")) &&
            config.behaviour == Behaviour::Normal) {
            throw ScenarioError(where + ": every and after apply to behaviour fail only");
        }
        return std::move(config);
    }
};

}  // namespace

std::string_view InterfaceName(Interface i) {
    return kInterfaceNames[static_cast<std::size_t>(i)];
}

std::vector<AxisConfig> ParseScenario(std::string_view text, std::string_view origin) {
    std::vector<AxisConfig> axes = simcommon::ParseSections<Builder>(text, origin, "axis");
    std::array<const AxisConfig*, kTableEntries> taken{};
    for (const AxisConfig& a : axes) {
        if (a.axis < 0) continue;
        if (taken[static_cast<std::size_t>(a.axis)] != nullptr) {
            throw ScenarioError(std::string(origin) + ": axis " + std::to_string(a.axis) +
                                " given to [" + taken[static_cast<std::size_t>(a.axis)]->name +
                                "] and [" + a.name + "]");
        }
        taken[static_cast<std::size_t>(a.axis)] = &a;
    }
    for (AxisConfig& a : axes) {
        if (a.axis >= 0) continue;
        std::size_t free = 0;
        while (free < taken.size() && taken[free] != nullptr) ++free;
        if (free == taken.size()) {
            throw ScenarioError(std::string(origin) + ": [" + a.name + "]: the card has only " +
                                std::to_string(kTableEntries) + " axes");
        }
        a.axis = static_cast<int>(free);
        taken[free] = &a;
    }
    return axes;
}

}  // namespace karvelo::ik220sim
