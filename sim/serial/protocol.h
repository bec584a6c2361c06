#pragma once
// What each simulated serial instrument answers: the request bytes it reacts
// to and the exact reply bytes, normal and broken, in the forms the station's
// readers take apart. One table row per instrument type.

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/log_escape.h"

namespace karvelo::sim {

// How a reply is put together from its values.
enum class ReplyStyle : std::uint8_t {
    Line,           // prefix, one number, optional unit, terminator
    ChannelLine,    // "D", the channel digit, a blank, one number, CR
    ChecksumFrame,  // "$PRI," values, send flag, "*", XOR checksum in hex, CR
    NumberList,     // up to ten numbers separated by ';', CR
    PointList,      // echo "s", time stamp, one "NN: value unit" line per measuring point
    Raw16,          // two bytes: value * 10 + 1000 as a signed 16-bit number, high byte first
};

// How a number is written.
struct NumberLook {
    bool plus = false;       // "+" before a positive number
    int width = 0;           // least width of the whole field; 0: as long as needed
    char pad = '0';          // '0': zeros between sign and digits; ' ': blanks before the sign
    bool signApart = false;  // sign first, then the magnitude right-aligned in `width` with blanks
};

// One request and the value of the reply it selects (the channel of a
// multi-channel display).
struct RequestCode {
    std::string_view bytes;
    int valueIndex = 0;
};

struct InstrumentProtocol {
    int type = 0;
    std::array<RequestCode, 5> requests{};  // unused entries have no bytes
    ReplyStyle style = ReplyStyle::Line;
    NumberLook look{};
    std::string_view prefix{};      // Line: text before the number
    bool unitAfterNumber = false;   // Line: the two unit characters follow the number
    std::string_view terminator{};  // what ends a reply on the wire
    char lineEnd = '\r';            // the byte at which the station's reader stops
    int maxLine = 0;    // bytes the reader takes up to and including lineEnd; 0: no limit
    int maxValues = 1;  // values one reply can carry
    std::string_view errorText{};  // the instrument's error marker; empty: it has none

    bool Triggerable() const { return !requests[0].bytes.empty(); }
};

// The row of a type code, or nullptr for a type the simulator does not know.
const InstrumentProtocol* FindProtocol(int type);

// Every type code the simulator knows, in increasing order.
std::span<const int> KnownTypes();

// The data of one reply.
struct ReplyData {
    std::span<const double> values;  // the values of this turn (at least one)
    int decimals = 3;
    int valueIndex = 0;     // which value a single-value reply carries; beyond the list: the last
    int sendFlag = 0;       // ChecksumFrame: last field
    std::string_view unit;  // two characters
    std::span<const int> points;  // PointList: point number of each value
    std::tm time{};               // PointList: time stamp
};

std::string FormatNumber(const NumberLook& look, double value, int decimals);

std::string NormalReply(const InstrumentProtocol& p, const ReplyData& d);
// The reply carrying the instrument's error marker; nullopt when it has none.
std::optional<std::string> ErrorReply(const InstrumentProtocol& p, const ReplyData& d);
// A reply the reader rejects as malformed or too short.
std::string InvalidReply(const InstrumentProtocol& p, const ReplyData& d);

// Why the normal replies of these values cannot be read by the station (the
// line is too long, a value does not fit its field, too many values), or an
// empty text when they can.
std::string ReplyProblem(const InstrumentProtocol& p, const ReplyData& d);

// Wire bytes in the log.
using simcommon::Escape;

}  // namespace karvelo::sim
