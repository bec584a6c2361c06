#pragma once
// What a simulated adapter answers: the commands each protocol reacts to and
// the exact reply bytes. No state here; the library counts the replies and
// decides on misbehaviour.

#include <cstddef>
#include <string>
#include <string_view>

#include "common/log_escape.h"
#include "ftdi/scenario.h"

namespace karvelo::ftdisim {

enum class CommandKind {
    Measurement,  // a request for a reading: answered by MeasurementReply
    Answer,       // answered at once with a fixed reply (version, error line)
    Ignored,      // nothing is sent
};

struct Command {
    CommandKind kind = CommandKind::Ignored;
    std::string reply;  // Answer only
};

// `command`: the bytes written before a CR, LF bytes already removed.
Command Interpret(const AdapterConfig& c, std::string_view command);

// The reply to measurement request `turn` (counted from 0), with the error
// marker E05 in the scenario's error field when `withError` is set.
std::string MeasurementReply(const AdapterConfig& c, std::size_t turn, bool withError);

// "%+.*f" with '.', whatever the locale.
std::string FormatValue(double value, int decimals);
// XOR of the bytes of `body`.
unsigned Checksum(std::string_view body);
// "$" body "*" checksum in upper-case hex without leading zeros, CR LF.
std::string Frame(std::string_view body);

// Wire bytes in the log.
using simcommon::Escape;

}  // namespace karvelo::ftdisim
