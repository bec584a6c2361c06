#include "serial/scenario.h"

#include <array>
#include <filesystem>
#include <set>

#include "devices/catalogue.h"

namespace karvelo::sim {
namespace {

using simcommon::ApplyKey;
using simcommon::ParseInteger;
using simcommon::ParseIntegerList;
using simcommon::ParseName;
using simcommon::ParseReplies;
using simcommon::Split;
using simcommon::Trim;

constexpr std::array<std::string_view, 8> kBehaviourNames = {
    "normal", "silent", "slow", "cut", "error", "garbage", "invalid", "hangup"};

Behaviour ParseBehaviour(std::string_view text) {
    return static_cast<Behaviour>(ParseName(text, kBehaviourNames, "behaviour"));
}

using KeyRule = simcommon::KeyRule<InstrumentConfig>;

constexpr std::array<KeyRule, 15> kKeys = {{
    {"name", [](InstrumentConfig& c, std::string_view v) { c.name = v; }},
    {"link", [](InstrumentConfig& c, std::string_view v) { c.link = v; }},
    {"type", [](InstrumentConfig& c,
                std::string_view v) { c.type = static_cast<int>(ParseInteger(v, 0, 99, "type")); }},
    {"values", [](InstrumentConfig& c, std::string_view v) { c.replies = ParseReplies(v); }},
    {"decimals",
     [](InstrumentConfig& c, std::string_view v) {
         c.decimals = static_cast<int>(ParseInteger(v, 0, 9, "decimals"));
     }},
    {"behaviour", [](InstrumentConfig& c, std::string_view v) { c.behaviour = ParseBehaviour(v); }},
    {"every",
     [](InstrumentConfig& c, std::string_view v) {
         c.every = static_cast<int>(ParseInteger(v, 1, 1000000, "every"));
     }},
    {"after",
     [](InstrumentConfig& c, std::string_view v) {
         c.after = static_cast<int>(ParseInteger(v, 0, 1000000, "after"));
     }},
    {"delay_ms",
     [](InstrumentConfig& c, std::string_view v) {
         c.delayMs = static_cast<int>(ParseInteger(v, 1, 60000, "delay_ms"));
     }},
    {"every_ms",
     [](InstrumentConfig& c, std::string_view v) {
         c.everyMs = static_cast<int>(ParseInteger(v, 0, 3600000, "every_ms"));
         if (c.everyMs > 0 && c.everyMs < 10)
             throw ScenarioError("every_ms must be 0 or at least 10");
     }},
    {"replug_ms",
     [](InstrumentConfig& c, std::string_view v) {
         c.replugMs = static_cast<int>(ParseInteger(v, 0, 3600000, "replug_ms"));
     }},
    {"flag",
     [](InstrumentConfig& c, std::string_view v) { c.flags = ParseIntegerList(v, 0, 2, "flag"); }},
    {"points", [](InstrumentConfig& c,
                  std::string_view v) { c.points = ParseIntegerList(v, 0, 99, "points"); }},
    {"unit",
     [](InstrumentConfig& c, std::string_view v) {
         if (v.size() != 2) throw ScenarioError("unit must be two characters, like mm");
         c.unit = v;
     }},
    {"seed",
     [](InstrumentConfig& c, std::string_view v) {
         c.seed = static_cast<std::uint32_t>(ParseInteger(v, 0, 4294967295L, "seed"));
     }},
}};

// One instrument being read, with the keys it has already had.
struct Builder {
    InstrumentConfig config;
    std::set<std::string> seen;
    std::string where;  // "file:line" of the section, or the option

    void Set(std::string_view rawKey, std::string_view value, const std::string& place) {
        ApplyKey(kKeys, seen, config, rawKey, Trim(value), place);
    }

    InstrumentConfig Finish() {
        InstrumentConfig& c = config;
        auto fail = [&](const std::string& m) { throw ScenarioError(where + ": " + m); };
        if (c.link.empty()) fail("link is missing (the path of the symbolic link to create)");
        if (!seen.contains("type")) fail("type is missing (the instrument's device type code)");
        c.protocol = FindProtocol(c.type);
        if (c.protocol == nullptr) {
            std::string known;
            for (int t : KnownTypes()) known += (known.empty() ? "" : ", ") + std::to_string(t);
            fail("type " + std::to_string(c.type) + " is not a serial instrument (" + known + ")");
        }
        if (c.name.empty()) c.name = std::filesystem::path(c.link).filename().string();
        const std::string typeText = "type " + std::to_string(c.type) + " (" +
                                     std::string(devices::DeviceTypeName(c.type)) + ")";
        if (!c.protocol->Triggerable() && c.everyMs == 0) {
            fail(typeText + " cannot be triggered over a pseudo-terminal; give every_ms");
        }
        if (c.behaviour == Behaviour::Error && c.protocol->errorText.empty()) {
            fail(typeText + " has no error marker; behaviour=error does not apply");
        }
        if (seen.contains("flag") && c.protocol->style != ReplyStyle::ChecksumFrame) {
            fail("flag applies to type 25 only");
        }
        if (seen.contains("points") && c.protocol->style != ReplyStyle::PointList) {
            fail("points applies to type 9 only");
        }
        if (seen.contains("unit") && c.protocol->style != ReplyStyle::PointList &&
            !c.protocol->unitAfterNumber) {
            fail("unit applies to types 9 and 23 only");
        }
        for (const std::vector<double>& values : c.replies) {
            if (!c.points.empty() && values.size() > c.points.size()) {
                fail("a reply has " + std::to_string(values.size()) + " values but points names " +
                     std::to_string(c.points.size()));
            }
            ReplyData d;
            d.values = values;
            d.decimals = c.decimals;
            d.unit = c.unit;
            d.points = c.points;
            const std::string problem = ReplyProblem(*c.protocol, d);
            if (!problem.empty()) fail(typeText + ": " + problem);
        }
        return std::move(config);
    }
};

}  // namespace

std::string_view BehaviourName(Behaviour b) {
    return kBehaviourNames[static_cast<std::size_t>(b)];
}

std::vector<InstrumentConfig> ParseScenario(std::string_view text, std::string_view origin) {
    return simcommon::ParseSections<Builder>(text, origin, "instrument");
}

InstrumentConfig ParseInstrumentOption(std::string_view keys) {
    Builder b;
    b.where = "--instrument " + std::string(keys);
    for (std::string_view item : Split(keys, ",")) {
        if (Trim(item).empty()) continue;
        const std::size_t eq = item.find('=');
        if (eq == std::string_view::npos) {
            throw ScenarioError(b.where + ": expected key=value, not '" + std::string(item) + "'");
        }
        b.Set(item.substr(0, eq), item.substr(eq + 1), b.where);
    }
    return b.Finish();
}

void CheckInstruments(const std::vector<InstrumentConfig>& instruments) {
    if (instruments.empty())
        throw ScenarioError("no instrument: give a scenario file or --instrument");
    std::set<std::string> links;
    for (const InstrumentConfig& c : instruments) {
        const std::string key = std::filesystem::path(c.link).lexically_normal().string();
        if (!links.insert(key).second) {
            throw ScenarioError("link " + c.link + " is used by more than one instrument");
        }
    }
}

}  // namespace karvelo::sim
