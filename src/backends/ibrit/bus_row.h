#pragma once
// The measuring-bus back-end's part of a device-type row.

namespace karvelo::ibrit {

struct BusRow {
    int number = 0;  // bus 1 to 8; 0: not a bus type
};

}  // namespace karvelo::ibrit
