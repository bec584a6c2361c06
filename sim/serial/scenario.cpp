#include "serial/scenario.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <optional>
#include <set>

#include "devices/catalogue.h"
#include "platform/numbers.h"

namespace karvelo::sim {
namespace {

constexpr std::array<std::string_view, 8> kBehaviourNames = {
    "normal", "silent", "slow", "cut", "error", "garbage", "invalid", "hangup"};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

std::vector<std::string_view> Split(std::string_view s, std::string_view separators) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || separators.find(s[i]) != std::string_view::npos) {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

long ParseInteger(std::string_view text, long min, long max, std::string_view what) {
    text = Trim(text);
    long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        throw ScenarioError(std::string(what) + " must be a whole number, not '" +
                            std::string(text) + "'");
    }
    if (v < min || v > max) {
        throw ScenarioError(std::string(what) + " must be " + std::to_string(min) + " to " +
                            std::to_string(max) + ", not " + std::to_string(v));
    }
    return v;
}

// A plain decimal number with "." as the decimal point: sign, digits, fraction,
// exponent. "12,5", "inf" and "0x10" are refused rather than half read.
double ParseValue(std::string_view token) {
    std::size_t i = 0;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < token.size() && std::isdigit(static_cast<unsigned char>(token[i]))) ++i, ++digits;
    if (i < token.size() && token[i] == '.') {
        ++i;
        while (i < token.size() && std::isdigit(static_cast<unsigned char>(token[i])))
            ++i, ++digits;
    }
    if (digits > 0 && i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < token.size() && (token[j] == '+' || token[j] == '-')) ++j;
        const std::size_t first = j;
        while (j < token.size() && std::isdigit(static_cast<unsigned char>(token[j]))) ++j;
        if (j > first) i = j;
    }
    if (digits == 0 || i != token.size()) {
        throw ScenarioError("'" + std::string(token) + "' is not a number (write it like 12.345)");
    }
    const double v = platform::ParseDoubleNarrow(token);
    if (!std::isfinite(v) || std::fabs(v) > 1e9) {
        throw ScenarioError("value " + std::string(token) + " is out of range");
    }
    return v;
}

// "12.345 12.350; 1.5/2.5": replies are separated by ';' or blanks, the values
// of one reply by '/'.
std::vector<std::vector<double>> ParseReplies(std::string_view text) {
    std::vector<std::vector<double>> replies;
    for (std::string_view reply : Split(text, "; \t")) {
        if (reply.empty()) continue;
        std::vector<double> values;
        for (std::string_view token : Split(reply, "/")) values.push_back(ParseValue(token));
        replies.push_back(std::move(values));
    }
    if (replies.empty()) throw ScenarioError("values is empty");
    return replies;
}

std::vector<int> ParseIntegerList(std::string_view text, long min, long max,
                                  std::string_view what) {
    std::vector<int> list;
    for (std::string_view token : Split(text, "/; \t")) {
        if (!token.empty()) list.push_back(static_cast<int>(ParseInteger(token, min, max, what)));
    }
    if (list.empty()) throw ScenarioError(std::string(what) + " is empty");
    return list;
}

Behaviour ParseBehaviour(std::string_view text) {
    const std::string name = Lower(Trim(text));
    for (std::size_t i = 0; i < kBehaviourNames.size(); ++i) {
        if (kBehaviourNames[i] == name) return static_cast<Behaviour>(i);
    }
    std::string known;
    for (std::string_view n : kBehaviourNames)
        known += (known.empty() ? "" : ", ") + std::string(n);
    throw ScenarioError("unknown behaviour '" + std::string(text) + "' (one of " + known + ")");
}

struct KeyRule {
    std::string_view key;
    void (*apply)(InstrumentConfig&, std::string_view);
};

constexpr std::array<KeyRule, 14> kKeys = {{
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

std::string KnownKeys() {
    std::string s;
    for (const KeyRule& k : kKeys) s += (s.empty() ? "" : ", ") + std::string(k.key);
    return s;
}

// One instrument being read, with the keys it has already had.
struct Builder {
    InstrumentConfig config;
    std::set<std::string> seen;
    std::string where;  // "file:line" of the section, or the option

    void Set(std::string_view rawKey, std::string_view value, const std::string& place) {
        const std::string key = Lower(Trim(rawKey));
        const auto rule = std::find_if(kKeys.begin(), kKeys.end(),
                                       [&](const KeyRule& k) { return k.key == key; });
        if (rule == kKeys.end()) {
            throw ScenarioError(place + ": unknown key '" + key + "' (keys: " + KnownKeys() + ")");
        }
        if (!seen.insert(key).second)
            throw ScenarioError(place + ": key '" + key + "' given twice");
        try {
            rule->apply(config, Trim(value));
        } catch (const ScenarioError& e) {
            throw ScenarioError(place + ": " + e.what());
        }
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
    std::vector<InstrumentConfig> instruments;
    std::vector<std::string> names;
    std::optional<Builder> current;
    int lineNo = 0;
    for (std::string_view line : Split(text, "\n")) {
        ++lineNo;
        const std::string place = std::string(origin) + ":" + std::to_string(lineNo);
        line = Trim(line);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        if (line.front() == '[') {
            if (line.back() != ']') throw ScenarioError(place + ": section header without ']'");
            const std::string name(Trim(line.substr(1, line.size() - 2)));
            if (name.empty()) throw ScenarioError(place + ": empty section name");
            if (std::find(names.begin(), names.end(), name) != names.end()) {
                throw ScenarioError(place + ": section [" + name + "] given twice");
            }
            if (current) instruments.push_back(current->Finish());
            names.push_back(name);
            current.emplace();
            current->config.name = name;
            current->where = place + " [" + name + "]";
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            throw ScenarioError(place + ": expected key = value or [section], not '" +
                                std::string(line) + "'");
        }
        if (!current) throw ScenarioError(place + ": key outside a [section]");
        current->Set(line.substr(0, eq), line.substr(eq + 1), place);
    }
    if (current) instruments.push_back(current->Finish());
    if (instruments.empty()) throw ScenarioError(std::string(origin) + ": no [instrument] section");
    return instruments;
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
