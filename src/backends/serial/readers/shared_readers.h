#pragma once
// Readers of instruments whose one reply line serves several slots: slots of
// the same type on the same COM port share the instrument, and the first read
// of a cycle fills every one of them (SlotState 2), each with its own factor
// (and, for the IBRit display, its own offset).

#include "backends/serial/readers/reader_support.h"
#include "devices/reader.h"

namespace karvelo::serial {

// IBRit-md1 display: a line per display channel; later slots with the same
// serial-number text and channel get the same reading.
devices::ReaderResult ReadIbritDisplay(const ReadContext& context, int slot, bool requested);

// SD1: a list of up to ten numbers; each slot takes the one its channel names.
devices::ReaderResult ReadSd1List(const ReadContext& context, int slot, bool requested);

// PU41/42: a checksummed frame with a list of numbers whose last field is the
// instrument's send flag (result 2 for flag 1, 3 for flag 2).
devices::ReaderResult ReadPuList(const ReadContext& context, int slot, bool requested);

}  // namespace karvelo::serial
