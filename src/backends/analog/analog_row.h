#pragma once
// The analog back-end's part of a device-type row: where the input is, its
// range code, how many conversions make a reading and how a raw conversion r
// becomes a number: (r - zero) / divisor * multiplier.

namespace karvelo::analog {

struct AnalogRow {
    bool inputFromSlot = false;  // board from `sn`, channel from `ch`; else board 0, channel 0
    int rangeCode = 0;           // the library's bipolar range code
    int sampleRuns = 0;          // SampleOfFour runs averaged; 0: not an analog type
    double zero = 0.0;
    double divisor = 1.0;
    double multiplier = 1.0;
};

}  // namespace karvelo::analog
