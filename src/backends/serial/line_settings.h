#pragma once
// What a serial instrument type's row in the device-type table says about its
// wire (SerialRow): the port's line settings, how its reply line is framed, and
// which reader takes the reply apart.

#include <cstdint>
#include <string_view>

#include "devices/reader.h"

namespace karvelo::serial {

// --- Port settings ---------------------------------------------------------

enum class Parity : std::uint8_t { None, Even, Odd };
enum class LineAction : std::uint8_t { None, SetRts, ClearRts, SetDtr, ClearDtr };

struct LineProfile {
    int baud = 0;  // 0: no profile, the port is never opened
    int dataBits = 8;
    Parity parity = Parity::None;
    int stopBits = 1;
    LineAction before[2] = {};  // performed before the settings are applied
    LineAction after[2] = {};   // performed after, in order

    bool valid() const { return baud > 0; }
    bool operator==(const LineProfile&) const = default;
};

// --- Reply lines -----------------------------------------------------------

// How a type treats the bytes it receives.
enum class ByteFilter : std::uint8_t {
    None,
    PlusAsBlank,       // '+' is stored as a blank
    DropMarkAndComma,  // 'M' and ',' are neither stored nor counted
    BlankHeader,       // positions 1..10 are stored as blanks, later '+' as blanks
    DropXonXoff,       // flow-control bytes 0x11 and 0x13 are neither stored nor counted
};

// How the received text becomes a reading.
enum class Conversion : std::uint8_t {
    Plain,          // the C library's text-to-number rules on the whole line
    SeparateSign,   // a '-' or '+' anywhere in the line gives the sign of the number
    FixedPosition,  // the nine characters before the last two ahead of the terminator
    None,           // the reader interprets the line itself
};

struct LineVariant {
    char terminator = '\r';
    int maxLength = 0;  // stored bytes, terminator included; at most 98; 0: no line framing
    int minLength = 0;  // shorter lines are malformed
    ByteFilter filter = ByteFilter::None;
    std::string_view errorMarkers;  // any of these bytes in the line is an instrument error
    Conversion conversion = Conversion::Plain;
    bool keepResultsOnReject = false;  // a short or error line leaves the slot as it was
};

// --- Readers ---------------------------------------------------------------

struct ReadContext;

// A serial reader: the contract of devices/reader.h, with what it works on
// handed in.
using SerialReaderFn = devices::ReaderResult (*)(const ReadContext& context, int slot,
                                                 bool requested);

// The serial back-end's part of a device-type row.
struct SerialRow {
    LineProfile line;            // port settings; not valid: never opened
    std::string_view afterOpen;  // bytes written one by one right after opening
    LineVariant frame;           // framing of the reply line, for the line readers
    SerialReaderFn reader = nullptr;
};

}  // namespace karvelo::serial
