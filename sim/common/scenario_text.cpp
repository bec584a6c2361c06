#include "common/scenario_text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <system_error>

namespace karvelo::simcommon {

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

// "12,5", "inf" and "0x10" are refused rather than half read; from_chars does
// not look at the locale.
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

bool ScheduleHits(std::uint64_t turn, int every, int after) {
    const auto skipped = static_cast<std::uint64_t>(after);
    return turn > skipped && (turn - skipped) % static_cast<std::uint64_t>(every) == 0;
}

std::string ScheduleText(int every, int after) {
    std::string s;
    if (every > 1) s += " every " + std::to_string(every);
    if (after > 0) s += " after " + std::to_string(after);
    return s;
}

std::string Listed(std::span<const std::string_view> names) {
    std::string s;
    for (std::string_view n : names) s += (s.empty() ? "" : ", ") + std::string(n);
    return s;
}

std::size_t ParseName(std::string_view text, std::span<const std::string_view> names,
                      std::string_view what) {
    const std::string name = Lower(text);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) return i;
    }
    throw ScenarioError("unknown " + std::string(what) + " '" + std::string(text) + "' (one of " +
                        Listed(names) + ")");
}

}  // namespace karvelo::simcommon
