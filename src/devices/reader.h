#pragma once
// The contract every instrument reader follows: arguments slot s (1..10) and
// `requested` (true right after a measurement request, false while only polling
// for data the instrument sends by itself). On success the reader stores
// Value[s] = raw * Factor[s] + Offset[s], sets ValueReady[s] and SlotState[s] to
// Read and returns kValueStored (or a send-key code); with no open device it
// returns kNotOpen at once; other failures return a negative code. Only the
// read dispatch writes status words.

#include <cstdint>

namespace karvelo::devices {

// The signed 16-bit result of every reader. The numbers are part of the
// contract: the dispatch maps them to status words, and --probe prints them.
enum ReaderResult : std::int16_t {
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

}  // namespace karvelo::devices
