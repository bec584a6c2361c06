#include "ftdi/scenario.h"

#include <array>
#include <set>

namespace karvelo::ftdisim {
namespace {

using simcommon::ApplyKey;
using simcommon::Listed;
using simcommon::Lower;
using simcommon::ParseIntegerList;
using simcommon::ParseName;
using simcommon::ParseReplies;
using simcommon::Trim;

constexpr std::array<std::string_view, 3> kProtocolNames = {"pu", "mfp", "16exu"};
constexpr std::array<std::string_view, 6> kBehaviourNames = {"normal",      "silent", "error",
                                                             "short_write", "cut",    "unplug"};
// What FT_GetDeviceInfo can hand back, terminator excluded.
constexpr std::size_t kDescriptionMax = 63;
constexpr std::size_t kSerialMax = 15;

// Every whole-number key of an adapter fits an int.
int ParseInteger(std::string_view text, int min, int max, std::string_view what) {
    return static_cast<int>(simcommon::ParseInteger(text, min, max, what));
}

bool ParseYesNo(std::string_view text, std::string_view what) {
    const std::string v = Lower(text);
    if (v == "yes") return true;
    if (v == "no") return false;
    throw ScenarioError(std::string(what) + " must be yes or no, not '" + std::string(text) + "'");
}

std::string LimitedText(std::string_view text, std::size_t max, std::string_view what) {
    if (text.size() > max) {
        throw ScenarioError(std::string(what) + " is " + std::to_string(text.size()) +
                            " bytes long, at most " + std::to_string(max) + " fit");
    }
    return std::string(text);
}

// The prefix sits inside a frame: no frame characters, no line end.
std::string ParsePrefix(std::string_view text) {
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || c == '$' || c == '*') {
            throw ScenarioError("prefix must not contain '$', '*' or control bytes");
        }
    }
    return std::string(text);
}

using KeyRule = simcommon::KeyRule<AdapterConfig>;

constexpr std::array<KeyRule, 14> kKeys = {{
    {"name",
     [](AdapterConfig& c, std::string_view v) {
         if (v.empty()) throw ScenarioError("name is empty");
         c.name = v;
     }},
    {"description",
     [](AdapterConfig& c, std::string_view v) {
         if (v.empty()) throw ScenarioError("description is empty");
         c.description = LimitedText(v, kDescriptionMax, "description");
     }},
    {"serial",
     [](AdapterConfig& c, std::string_view v) { c.serial = LimitedText(v, kSerialMax, "serial"); }},
    {"protocol",
     [](AdapterConfig& c, std::string_view v) {
         c.protocol = static_cast<Protocol>(ParseName(v, kProtocolNames, "protocol"));
     }},
    {"firmware",
     [](AdapterConfig& c, std::string_view v) {
         static constexpr std::array<std::string_view, 2> kNames = {"plain", "framed"};
         c.firmware = static_cast<Firmware>(ParseName(v, kNames, "firmware"));
     }},
    {"values", [](AdapterConfig& c, std::string_view v) { c.replies = ParseReplies(v); }},
    {"decimals",
     [](AdapterConfig& c, std::string_view v) { c.decimals = ParseInteger(v, 0, 9, "decimals"); }},
    {"flag",
     [](AdapterConfig& c, std::string_view v) { c.flags = ParseIntegerList(v, 0, 2, "flag"); }},
    {"prefix", [](AdapterConfig& c, std::string_view v) { c.prefix = ParsePrefix(v); }},
    {"behaviour",
     [](AdapterConfig& c, std::string_view v) {
         c.behaviour = static_cast<Behaviour>(ParseName(v, kBehaviourNames, "behaviour"));
     }},
    {"error_field",
     [](AdapterConfig& c, std::string_view v) {
         c.errorField = ParseInteger(v, 1, 5, "error_field");
     }},
    {"every",
     [](AdapterConfig& c, std::string_view v) { c.every = ParseInteger(v, 1, 1000000, "every"); }},
    {"after",
     [](AdapterConfig& c, std::string_view v) { c.after = ParseInteger(v, 0, 1000000, "after"); }},
    {"busy", [](AdapterConfig& c, std::string_view v) { c.busy = ParseYesNo(v, "busy"); }},
}};

// A value in double quotes is taken as it is, so that a prefix can start with
// a blank.
std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') return v.substr(1, v.size() - 2);
    return v;
}

// One adapter being read, with the keys it has already had.
struct Builder {
    AdapterConfig config;
    std::set<std::string> seen;
    std::string where;  // "file:line [section]"

    void Set(std::string_view rawKey, std::string_view value, const std::string& place) {
        ApplyKey(kKeys, seen, config, rawKey, Unquote(Trim(value)), place);
    }

    AdapterConfig Finish() {
        AdapterConfig& c = config;
        auto fail = [&](const std::string& m) { throw ScenarioError(where + ": " + m); };
        if (!seen.contains("description"))
            fail("description is missing (what the adapter reports)");
        if (!seen.contains("protocol"))
            fail("protocol is missing (one of " + Listed(kProtocolNames) + ")");
        const bool pu = c.protocol == Protocol::Pu;
        const std::string protocolText = "protocol " + std::string(ProtocolName(c.protocol));
        if (seen.contains("firmware") && !pu) fail("firmware applies to protocol pu only");
        if (seen.contains("prefix") && !pu) fail("prefix applies to protocol pu only");
        if (seen.contains("flag") && c.protocol == Protocol::Exu16) {
            fail("flag applies to protocols pu and mfp only");
        }
        if (c.behaviour == Behaviour::ShortWrite && c.protocol == Protocol::Exu16) {
            fail("behaviour short_write needs a written request; 16exu is triggered by DTR");
        }
        const std::size_t maxValues = pu ? 5 : 1;
        for (const std::vector<double>& values : c.replies) {
            if (values.size() > maxValues) {
                fail("values: a reply has " + std::to_string(values.size()) + " values, " +
                     protocolText + " sends at most " + std::to_string(maxValues));
            }
        }
        if (seen.contains("error_field")) {
            if (c.behaviour != Behaviour::Error)
                fail("error_field applies to behaviour error only");
            if (static_cast<std::size_t>(c.errorField) > maxValues) {
                fail("error_field " + std::to_string(c.errorField) + ": " + protocolText +
                     " sends " + std::to_string(maxValues) + " value field(s)");
            }
        }
        return std::move(config);
    }
};

}  // namespace

std::string_view ProtocolName(Protocol p) {
    return kProtocolNames[static_cast<std::size_t>(p)];
}

std::string_view BehaviourName(Behaviour b) {
    return kBehaviourNames[static_cast<std::size_t>(b)];
}

std::vector<AdapterConfig> ParseScenario(std::string_view text, std::string_view origin) {
    return simcommon::ParseSections<Builder>(text, origin, "adapter");
}

}  // namespace karvelo::ftdisim
