#include "ibrit/scenario.h"

#include <array>
#include <optional>
#include <set>

namespace karvelo::ibritsim {
namespace {

using simcommon::ApplyKey;
using simcommon::Lower;
using simcommon::Trim;

constexpr std::string_view kDriverSection = "driver";
constexpr long kMinCode = -32768;
constexpr long kMaxCode = 32767;

int ParseInteger(std::string_view text, long min, long max, std::string_view what) {
    return static_cast<int>(simcommon::ParseInteger(text, min, max, what));
}

bool ParseYesNo(std::string_view text, std::string_view what) {
    const std::string v = Lower(text);
    if (v == "yes") return true;
    if (v == "no") return false;
    throw ScenarioError(std::string(what) + " must be yes or no, not '" + std::string(text) + "'");
}

// "1.5 1.6; 1.7": one value per collect.
std::vector<double> ParseValues(std::string_view text) {
    std::vector<double> values;
    for (const std::vector<double>& reply : simcommon::ParseReplies(text)) {
        if (reply.size() != 1) throw ScenarioError("values: one value per collect, no '/'");
        values.push_back(reply.front());
    }
    if (values.empty()) throw ScenarioError("values is empty");
    return values;
}

using KeyRule = simcommon::KeyRule<SectionConfig>;

constexpr std::array<KeyRule, 6> kChannelKeys = {{
    {"name",
     [](SectionConfig& c, std::string_view v) {
         if (v.empty()) throw ScenarioError("name is empty");
         c.name = v;
     }},
    {"bus", [](SectionConfig& c, std::string_view v) { c.bus = ParseInteger(v, 1, 8, "bus"); }},
    {"channel", [](SectionConfig& c,
                   std::string_view v) { c.channel = ParseInteger(v, 1, kMaxCode, "channel"); }},
    {"values", [](SectionConfig& c, std::string_view v) { c.values = ParseValues(v); }},
    {"answers",
     [](SectionConfig& c, std::string_view v) {
         c.answers = simcommon::ParseIntegerList(v, kMinCode, kMaxCode, "answers");
         if (c.answers.empty()) throw ScenarioError("answers is empty");
     }},
    {"needs_latch",
     [](SectionConfig& c, std::string_view v) { c.needsLatch = ParseYesNo(v, "needs_latch"); }},
}};

constexpr std::array<KeyRule, 2> kDriverKeys = {{
    {"init",
     [](SectionConfig& c, std::string_view v) {
         c.initResult = ParseInteger(v, kMinCode, kMaxCode, "init");
     }},
    {"unknown",
     [](SectionConfig& c, std::string_view v) {
         c.unknownResult = ParseInteger(v, kMinCode, kMaxCode, "unknown");
     }},
}};

struct Builder {
    SectionConfig config;
    std::set<std::string> seen;
    std::string where;           // "file:line [section]"
    std::optional<bool> driver;  // told by the section name before a `name` key renames it

    bool IsDriver() {
        if (!driver) driver = Lower(config.name) == kDriverSection;
        return *driver;
    }

    void Set(std::string_view rawKey, std::string_view value, const std::string& place) {
        if (IsDriver()) {
            ApplyKey(kDriverKeys, seen, config, rawKey, Trim(value), place);
        } else {
            ApplyKey(kChannelKeys, seen, config, rawKey, Trim(value), place);
        }
    }

    SectionConfig Finish() {
        if (IsDriver()) {
            config.kind = SectionKind::Driver;
            return std::move(config);
        }
        auto fail = [&](const std::string& m) { throw ScenarioError(where + ": " + m); };
        if (!seen.contains("bus")) fail("bus is missing (1 to 8)");
        if (!seen.contains("channel")) fail("channel is missing (1 to 32767)");
        return std::move(config);
    }
};

}  // namespace

Scenario ParseScenario(std::string_view text, std::string_view origin) {
    Scenario scenario;
    for (SectionConfig& c : simcommon::ParseSections<Builder>(text, origin, "channel")) {
        if (c.kind == SectionKind::Driver) {
            scenario.driver = std::move(c);
            continue;
        }
        for (const SectionConfig& other : scenario.channels) {
            if (other.bus == c.bus && other.channel == c.channel) {
                throw ScenarioError(std::string(origin) + ": [" + c.name + "] and [" + other.name +
                                    "] are both bus " + std::to_string(c.bus) + " channel " +
                                    std::to_string(c.channel));
            }
        }
        scenario.channels.push_back(std::move(c));
    }
    return scenario;
}

}  // namespace karvelo::ibritsim
