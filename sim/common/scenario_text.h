#pragma once
// How both simulators read their INI scenarios: one section per simulated
// device, "key = value" lines, '#' and ';' comments, and the value syntax they
// share. Self-contained (no station library), since the FTDI simulator is
// loaded into the station's process and must not bring a second copy of the
// station's code.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace karvelo::simcommon {

// A scenario that cannot be used; the message names the place and the fault.
class ScenarioError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

std::string_view Trim(std::string_view s);
std::string Lower(std::string_view s);
// Every part, empty ones included, so callers decide what an empty part means.
std::vector<std::string_view> Split(std::string_view s, std::string_view separators);

// A whole number from min to max; `what` names it in the message. The text is
// taken as it is: callers hand over trimmed values.
long ParseInteger(std::string_view text, long min, long max, std::string_view what);

// A plain decimal number with "." as the decimal point: sign, digits, fraction,
// exponent, at most 1e9 in size.
double ParseValue(std::string_view token);

// "12.345 12.350; 1.5/2.5": replies are separated by ';' or blanks, the values
// of one reply by '/'.
std::vector<std::vector<double>> ParseReplies(std::string_view text);

// "0/1 2; 1": whole numbers from min to max separated by '/', ';' or blanks.
std::vector<int> ParseIntegerList(std::string_view text, long min, long max, std::string_view what);

// The `every` and `after` keys of a misbehaviour: it hits turn `turn` (from
// 1) when the turns since the first `after` are a multiple of `every`.
bool ScheduleHits(std::uint64_t turn, int every, int after);
// " every k after n" for the log, each part only where it is not the default.
std::string ScheduleText(int every, int after);

// "a, b, c"
std::string Listed(std::span<const std::string_view> names);

// The index of `text` (any case) in `names`.
std::size_t ParseName(std::string_view text, std::span<const std::string_view> names,
                      std::string_view what);

// One key a section may carry and how its (trimmed) value goes into Config.
template <class Config>
struct KeyRule {
    std::string_view key;
    void (*apply)(Config&, std::string_view);
};

template <class Rules>
std::string KnownKeys(const Rules& rules) {
    std::string s;
    for (const auto& k : rules) s += (s.empty() ? "" : ", ") + std::string(k.key);
    return s;
}

// Applies "rawKey = value" found at `place` by its rule; a key is known, given
// once per section, and the rule's complaint is prefixed with the place.
template <class Rules, class Config>
void ApplyKey(const Rules& rules, std::set<std::string>& seen, Config& config,
              std::string_view rawKey, std::string_view value, const std::string& place) {
    const std::string key = Lower(Trim(rawKey));
    const auto rule =
        std::find_if(rules.begin(), rules.end(), [&](const auto& k) { return k.key == key; });
    if (rule == rules.end()) {
        throw ScenarioError(place + ": unknown key '" + key + "' (keys: " + KnownKeys(rules) + ")");
    }
    if (!seen.insert(key).second) throw ScenarioError(place + ": key '" + key + "' given twice");
    try {
        rule->apply(config, value);
    } catch (const ScenarioError& e) {
        throw ScenarioError(place + ": " + e.what());
    }
}

// Reads the sections of `text` in order. A Builder is default-constructible and
// has `config.name`, `where` ("file:line [section]"), Set(key, value, place)
// and Finish(), which checks the section as a whole and hands its config back.
// `origin` names the text in messages (the file name), `sectionWord` what a
// section stands for ("instrument").
template <class Builder>
auto ParseSections(std::string_view text, std::string_view origin, std::string_view sectionWord)
    -> std::vector<decltype(std::declval<Builder&>().Finish())> {
    std::vector<decltype(std::declval<Builder&>().Finish())> configs;
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
            if (current) configs.push_back(current->Finish());
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
    if (current) configs.push_back(current->Finish());
    if (configs.empty()) {
        throw ScenarioError(std::string(origin) + ": no [" + std::string(sectionWord) +
                            "] section");
    }
    return configs;
}

}  // namespace karvelo::simcommon
