#include "serial/protocol.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/numbers.h"

namespace karvelo::sim {
namespace {

using S = ReplyStyle;

// Fixed-width gauges: sign, zeros, digits ("+0012.345").
constexpr NumberLook kGauge{.plus = true, .width = 9, .pad = '0'};
// Free-width numbers with a sign ("+1.23").
constexpr NumberLook kSigned{.plus = true};

constexpr std::array<RequestCode, 5> Ask(std::string_view bytes) {
    return {{{bytes, 0}}};
}

// Line lengths and error markers are those the station's readers accept: a
// longer line is "unavailable", a shorter one "invalid", a marker "error".
constexpr std::array<InstrumentProtocol, 17> kProtocols = {{
    {.type = 1,
     .requests = Ask("?\r"),
     .style = S::Line,
     .look = kGauge,
     .terminator = "\r",
     .maxLine = 20,
     .errorText = "Error"},
    // Triggered by a DTR pulse, which a pseudo-terminal does not carry: sends on a schedule.
    {.type = 2,
     .style = S::Line,
     .look = kGauge,
     .terminator = "\r",
     .maxLine = 98,
     .errorText = "Error"},
    {.type = 3,
     .requests = {{{"DAS1\r", 0}, {"DAS2\r", 1}, {"DAS3\r", 2}, {"DAS4\r", 3}, {"DAS5\r", 4}}},
     .style = S::ChannelLine,
     .look = kGauge,
     .terminator = "\r",
     .maxLine = 98,
     .maxValues = 5,
     .errorText = "Error"},
    {.type = 4,
     .requests = Ask("\x02"),
     .style = S::Line,
     .look = {.width = 9, .pad = ' ', .signApart = true},
     .terminator = "\r",
     .maxLine = 20,
     .errorText = "Error"},
    {.type = 5,
     .requests = Ask("?\r"),
     .style = S::Line,
     .look = kGauge,
     .terminator = "\r",
     .maxLine = 20,
     .errorText = "Error"},
    // Triggered by a break: sends on a schedule; its line ends at LF.
    {.type = 6,
     .style = S::Line,
     .look = kGauge,
     .terminator = "\r\n",
     .lineEnd = '\n',
     .maxLine = 20,
     .errorText = "Error"},
    {.type = 8,
     .requests = Ask("?\r"),
     .style = S::Line,
     .look = kGauge,
     .terminator = "\r",
     .maxLine = 20,
     .errorText = "Error"},
    {.type = 9,
     .requests = Ask("s"),
     .style = S::PointList,
     .look = {.width = 7, .pad = ' '},
     .terminator = "\r\n",
     .lineEnd = '\n',
     .maxValues = 10},
    {.type = 19,
     .requests = {{{"?\r", 0}, {"1\r", 1}, {"2\r", 2}}},
     .style = S::Line,
     .look = kGauge,
     .terminator = "\r",
     .maxLine = 20,
     .maxValues = 3,
     .errorText = "Error"},
    {.type = 23,
     .requests = Ask("K"),
     .style = S::Line,
     .look = kGauge,
     .unitAfterNumber = true,
     .terminator = "\r",
     .maxLine = 20,
     .errorText = "Error"},
    {.type = 24,
     .requests = Ask("M"),
     .style = S::Line,
     .look = kSigned,
     .prefix = "M,",
     .terminator = "\r",
     .maxLine = 20,
     .errorText = "Error"},
    {.type = 25,
     .requests = Ask("$PRI,0*57\r"),
     .style = S::ChecksumFrame,
     .look = kSigned,
     .terminator = "\r",
     .maxLine = 95,
     .maxValues = 9,
     .errorText = "Error"},
    {.type = 26,
     .requests = Ask("?\r"),
     .style = S::NumberList,
     .look = kSigned,
     .terminator = "\r",
     .maxLine = 95,
     .maxValues = 10,
     .errorText = "Error"},
    // The reader blanks the first ten bytes, the echo of the command.
    {.type = 27,
     .requests = Ask("SR,00,000\r\n"),
     .style = S::Line,
     .look = kSigned,
     .prefix = "SR,00,000,",
     .terminator = "\r\n",
     .maxLine = 20,
     .errorText = "Error"},
    {.type = 28,
     .requests = Ask("?\r\n"),
     .style = S::Line,
     .look = kGauge,
     .terminator = "\r",
     .maxLine = 98,
     .errorText = "----h"},
    {.type = 50, .requests = Ask("\x01"), .style = S::Raw16},
    {.type = 57,
     .requests = Ask("GO\r"),
     .style = S::Line,
     .look = kGauge,
     .terminator = "\r",
     .maxLine = 98,
     .errorText = "Error"},
}};

constexpr std::array<int, kProtocols.size()> kTypes = [] {
    std::array<int, kProtocols.size()> t{};
    for (std::size_t i = 0; i < kProtocols.size(); ++i) t[i] = kProtocols[i].type;
    return t;
}();

// The ALMEMO's time stamp and the XOR checksum of the PU frames.
std::string TwoDigits(int v) {
    v = std::clamp(v, 0, 99);
    return {static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
}

std::string HexUpper(unsigned v) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    do {
        s.insert(s.begin(), kDigits[v % 16]);
        v /= 16;
    } while (v != 0);
    return s;
}

double ValueAt(const ReplyData& d, int index) {
    if (d.values.empty()) return 0.0;
    const auto i =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(index, 0)), d.values.size() - 1);
    return d.values[i];
}

std::string Join(const InstrumentProtocol& p, const ReplyData& d, char separator) {
    std::string s;
    for (std::size_t i = 0; i < d.values.size(); ++i) {
        if (i != 0) s += separator;
        s += FormatNumber(p.look, d.values[i], d.decimals);
    }
    return s;
}

std::string Frame(std::string_view body, std::string_view terminator) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    return "$" + std::string(body) + "*" + HexUpper(sum) + std::string(terminator);
}

char ChannelDigit(const ReplyData& d) {
    return static_cast<char>('1' + std::clamp(d.valueIndex, 0, 8));
}

std::int16_t Raw16Of(double value) {
    const double t = std::round(value * 10.0) + 1000.0;
    return static_cast<std::int16_t>(std::clamp(t, -32768.0, 32767.0));
}

std::string PointLines(const InstrumentProtocol& p, const ReplyData& d) {
    std::string s = "s\r\n" + TwoDigits(d.time.tm_hour) + ":" + TwoDigits(d.time.tm_min) + ":" +
                    TwoDigits(d.time.tm_sec) + "\r\n";
    for (std::size_t i = 0; i < d.values.size(); ++i) {
        const int point = i < d.points.size() ? d.points[i] : static_cast<int>(i);
        // The reader takes the byte after ':' as a separator, then seven value bytes and two
        // unit bytes.
        s += TwoDigits(point) + ": " + FormatNumber(p.look, d.values[i], d.decimals) +
             std::string(d.unit) + "\r\n";
    }
    return s;
}

// A line with `body` in place of the number.
std::string LineAround(const InstrumentProtocol& p, const ReplyData& d, std::string_view body) {
    switch (p.style) {
        case S::Line:
            return std::string(p.prefix) + std::string(body) +
                   (p.unitAfterNumber ? std::string(d.unit) : std::string()) +
                   std::string(p.terminator);
        case S::ChannelLine:
            return std::string("D") + ChannelDigit(d) + " " + std::string(body) +
                   std::string(p.terminator);
        case S::ChecksumFrame:
            return Frame("PRI," + std::string(body) + "," + std::to_string(d.sendFlag),
                         p.terminator);
        case S::NumberList:
            return std::string(body) + std::string(p.terminator);
        case S::PointList:
        case S::Raw16:
            break;
    }
    return {};
}

}  // namespace

const InstrumentProtocol* FindProtocol(int type) {
    for (const InstrumentProtocol& p : kProtocols) {
        if (p.type == type) return &p;
    }
    return nullptr;
}

std::span<const int> KnownTypes() {
    return kTypes;
}

std::string FormatNumber(const NumberLook& look, double value, int decimals) {
    std::string digits = platform::FormatFixedNarrow(value, decimals);
    const bool negative = !digits.empty() && digits.front() == '-';
    if (negative) digits.erase(0, 1);
    const std::string sign = negative ? "-" : (look.plus || look.signApart ? "+" : "");
    if (look.signApart) {
        const std::size_t w = static_cast<std::size_t>(look.width);
        return sign + std::string(w > digits.size() ? w - digits.size() : 0, ' ') + digits;
    }
    const std::size_t used = sign.size() + digits.size();
    const std::size_t fill = static_cast<std::size_t>(look.width) > used
                                 ? static_cast<std::size_t>(look.width) - used
                                 : 0;
    if (look.pad == ' ') return std::string(fill, ' ') + sign + digits;
    return sign + std::string(fill, '0') + digits;
}

std::string NormalReply(const InstrumentProtocol& p, const ReplyData& d) {
    switch (p.style) {
        case S::Line:
        case S::ChannelLine:
            return LineAround(p, d, FormatNumber(p.look, ValueAt(d, d.valueIndex), d.decimals));
        case S::ChecksumFrame:
            return LineAround(p, d, Join(p, d, ','));
        case S::NumberList:
            return LineAround(p, d, Join(p, d, ';'));
        case S::PointList:
            return PointLines(p, d);
        case S::Raw16: {
            const auto t = static_cast<std::uint16_t>(Raw16Of(ValueAt(d, 0)));
            return {static_cast<char>(t >> 8), static_cast<char>(t & 0xFF)};
        }
    }
    return {};
}

std::optional<std::string> ErrorReply(const InstrumentProtocol& p, const ReplyData& d) {
    if (p.errorText.empty()) return std::nullopt;
    // Fixed-width fields keep their width, so the line is not also too short.
    std::string body(p.errorText);
    if (body.size() < static_cast<std::size_t>(p.look.width)) {
        body.resize(static_cast<std::size_t>(p.look.width), ' ');
    }
    return LineAround(p, d, body);
}

std::string InvalidReply(const InstrumentProtocol& p, const ReplyData& d) {
    switch (p.style) {
        case S::ChannelLine:
            return std::string("D") + p.lineEnd;
        case S::PointList:
            return "s\r\n12:3x:00\r\n";  // a letter in the time stamp
        case S::Raw16:
            return NormalReply(p, d).substr(0, 1);
        case S::Line:
        case S::ChecksumFrame:
        case S::NumberList:
            break;
    }
    return std::string("1.2") + p.lineEnd;
}

std::string ReplyProblem(const InstrumentProtocol& p, const ReplyData& d) {
    if (d.values.empty()) return "no value";
    if (d.values.size() > static_cast<std::size_t>(p.maxValues)) {
        return std::to_string(d.values.size()) + " values in one reply, at most " +
               std::to_string(p.maxValues);
    }
    if (p.style == S::Raw16) {
        const double t = std::round(d.values[0] * 10.0) + 1000.0;
        if (t < -32768.0 || t > 32767.0) return "value out of the range -3376.8 to 3176.7";
        return {};
    }
    if (p.style == S::PointList) {
        for (double v : d.values) {
            const std::string text = FormatNumber(p.look, v, d.decimals);
            if (text.size() > static_cast<std::size_t>(p.look.width)) {
                return "value " + text + " is wider than the " + std::to_string(p.look.width) +
                       "-character field";
            }
        }
        for (int point : d.points) {
            if (point < 0 || point > 99) return "measuring point outside 0 to 99";
        }
        return {};
    }
    // Every request of a multi-channel display selects its own value; a scheduled sender
    // sends the first.
    std::vector<int> indexes;
    for (const RequestCode& r : p.requests) {
        if (!r.bytes.empty()) indexes.push_back(r.valueIndex);
    }
    if (indexes.empty()) indexes.push_back(0);
    for (int index : indexes) {
        ReplyData one = d;
        one.valueIndex = index;
        const std::string reply = NormalReply(p, one);
        const std::size_t end = reply.find(p.lineEnd);
        const std::size_t length = end == std::string::npos ? reply.size() : end + 1;
        if (p.maxLine > 0 && length > static_cast<std::size_t>(p.maxLine)) {
            return "reply " + Escape(reply) + " is " + std::to_string(length) +
                   " bytes long, the station reads at most " + std::to_string(p.maxLine);
        }
        // The reader takes the number by its position before the unit.
        if (p.unitAfterNumber) {
            const std::string number = FormatNumber(p.look, ValueAt(one, index), d.decimals);
            if (number.size() > static_cast<std::size_t>(p.look.width)) {
                return "value " + number + " is wider than the " + std::to_string(p.look.width) +
                       "-character field";
            }
        }
    }
    return {};
}

}  // namespace karvelo::sim
