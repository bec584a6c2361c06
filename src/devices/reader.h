#pragma once
// The contract every instrument reader follows: arguments slot s (1..10) and
// `requested` (true right after a measurement request, false while only polling
// for data the instrument sends by itself). On success the reader stores
// Value[s] = raw * Factor[s] + Offset[s], sets ValueReady[s] and SlotState[s] = 2
// and returns kValueStored (or a send-key code); with no open port it returns
// kNotOpen at once; other failures return a negative code. Only the read
// dispatch writes status words.

#include <cstdint>

namespace karvelo::devices {

using ReaderResult = std::int16_t;

enum ReaderCode : ReaderResult {
    kValueStored = 1,
    kStoredOrSendFlag1 = 2,  // IBRit bus: "stored"; PU family: value stored, send flag 1
    kSendFlag2 = 3,          // PU family: value stored, send flag 2
    kNotOpen = 0,
    kNoAnswer = -1,
    kDeviceFault = -2,
    kMalformed = -3,
    kErrorMarker = -4,
    kOutOfRange = -5,
};

using ReaderFn = ReaderResult (*)(int slot, bool requested);

// The reader of a serial instrument type (Sylvac, Heidenhain, SD1, ALMEMO, ...);
// nullptr for types that are not read over a COM port.
ReaderFn SerialReaderFor(int deviceType);

}  // namespace karvelo::devices
