#include "ftdi/scenario.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>
#include <set>

namespace karvelo::ftdisim {
namespace {

constexpr std::array<std::string_view, 3> kProtocolNames = {"pu", "mfp", "16exu"};
constexpr std::array<std::string_view, 6> kBehaviourNames = {"normal",      "silent", "error",
                                                             "short_write", "cut",    "unplug"};
// What FT_GetDeviceInfo can hand back, terminator excluded.
constexpr std::size_t kDescriptionMax = 63;
constexpr std::size_t kSerialMax = 15;

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

template <std::size_t N>
std::string Listed(const std::array<std::string_view, N>& names) {
    std::string s;
    for (std::string_view n : names) s += (s.empty() ? "" : ", ") + std::string(n);
    return s;
}

template <std::size_t N>
std::size_t ParseName(std::string_view text, const std::array<std::string_view, N>& names,
                      std::string_view what) {
    const std::string name = Lower(text);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) return i;
    }
    throw ScenarioError("unknown " + std::string(what) + " '" + std::string(text) + "' (one of " +
                        Listed(names) + ")");
}

int ParseInteger(std::string_view text, int min, int max, std::string_view what) {
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
    return static_cast<int>(v);
}

// A plain decimal number with "." as the decimal point: sign, digits, fraction,
// exponent. "12,5", "inf" and "0x10" are refused rather than half read;
// from_chars does not look at the locale.
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
    // from_chars takes no '+'.
    const std::string_view unsigned_ = token.front() == '+' ? token.substr(1) : token;
    double v = 0.0;
    const auto [end, ec] =
        std::from_chars(unsigned_.data(), unsigned_.data() + unsigned_.size(), v);
    if (ec != std::errc() || end != unsigned_.data() + unsigned_.size() || !std::isfinite(v) ||
        std::fabs(v) > 1e9) {
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

std::vector<int> ParseFlags(std::string_view text) {
    std::vector<int> list;
    for (std::string_view token : Split(text, "/; \t")) {
        if (!token.empty()) list.push_back(ParseInteger(token, 0, 2, "flag"));
    }
    if (list.empty()) throw ScenarioError("flag is empty");
    return list;
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

struct KeyRule {
    std::string_view key;
    void (*apply)(AdapterConfig&, std::string_view);
};

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
    {"flag", [](AdapterConfig& c, std::string_view v) { c.flags = ParseFlags(v); }},
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

std::string KnownKeys() {
    std::string s;
    for (const KeyRule& k : kKeys) s += (s.empty() ? "" : ", ") + std::string(k.key);
    return s;
}

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
        const std::string key = Lower(Trim(rawKey));
        const auto rule = std::find_if(kKeys.begin(), kKeys.end(),
                                       [&](const KeyRule& k) { return k.key == key; });
        if (rule == kKeys.end()) {
            throw ScenarioError(place + ": unknown key '" + key + "' (keys: " + KnownKeys() + ")");
        }
        if (!seen.insert(key).second)
            throw ScenarioError(place + ": key '" + key + "' given twice");
        try {
            rule->apply(config, Unquote(Trim(value)));
        } catch (const ScenarioError& e) {
            throw ScenarioError(place + ": " + e.what());
        }
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
    std::vector<AdapterConfig> adapters;
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
            if (current) adapters.push_back(current->Finish());
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
    if (current) adapters.push_back(current->Finish());
    if (adapters.empty()) throw ScenarioError(std::string(origin) + ": no [adapter] section");
    return adapters;
}

}  // namespace karvelo::ftdisim
