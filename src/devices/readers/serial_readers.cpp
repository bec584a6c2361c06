// The reader of each serial instrument type.

#include "devices/reader.h"
#include "devices/readers/almemo_reader.h"
#include "devices/readers/line_reader.h"
#include "devices/readers/shared_readers.h"

namespace karvelo::devices {
namespace {

template <int Type>
ReaderResult NumberLineReader(int slot, bool requested) {
    return ReadNumberLineOfType(Type, slot, requested);
}

struct SerialReaderEntry {
    int type;
    ReaderFn reader;
};

constexpr SerialReaderEntry kSerialReaders[] = {
    {1, &NumberLineReader<1>},    // Sylvac duplex
    {2, &NumberLineReader<2>},    // Sylvac simplex
    {3, &ReadIbritDisplay},       // IBRit-md1
    {4, &NumberLineReader<4>},    // Heidenhain ND
    {5, &NumberLineReader<5>},    // Starrett 2900
    {6, &NumberLineReader<6>},    // TESA TT10
    {8, &NumberLineReader<8>},    // TESA GTLXX USB
    {9, &ReadAlmemoList},         // ALMEMO
    {19, &NumberLineReader<19>},  // PU 26
    {23, &NumberLineReader<23>},  // AE1IH
    {24, &NumberLineReader<24>},  // Millimar 1245
    {25, &ReadPuList},            // PU41/42
    {26, &ReadSd1List},           // SD1
    {27, &NumberLineReader<27>},  // Keyence GT2-UB1
    {28, &NumberLineReader<28>},  // EMS8186
    {50, &ReadThermometer},       // OPTRIS IR Temp.
    {57, &NumberLineReader<57>},  // Z-MIKE
};

}  // namespace

ReaderFn SerialReaderFor(int deviceType) {
    for (const SerialReaderEntry& e : kSerialReaders) {
        if (e.type == deviceType) return e.reader;
    }
    return nullptr;
}

}  // namespace karvelo::devices
