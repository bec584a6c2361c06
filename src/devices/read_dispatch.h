#pragma once
// The read dispatch: runs the reader of a slot's instrument and turns its
// result code into what the rest of the station sees (value, status word,
// flags) and a small result for the acquisition thread.

#include <cstdint>
#include <string_view>

#include "devices/reader.h"

namespace karvelo::devices {

// Results of ReadDispatch.
enum DispatchResult : int {
    kNothingNew = -1,     // no answer while polling, a text slot, a free code
    kResultToShow = 1,    // a value or a status word
    kSendFlag1 = 2,       // a value and the instrument's own send request
    kSendFlag2Result = 3,
};

// Reads slot s (1..10); `requested` is true right after its measurement request.
int ReadDispatch(int slot, bool requested);

// The word the dispatch writes for a reader code of a type; empty when the
// code is not mapped for that type (or maps to an empty status).
std::string_view StatusWordFor(int deviceType, int readerCode);

// Installs the reader of an instrument type (the back-ends register theirs at
// start; tests install scripted ones); nullptr restores the built-in reader.
void SetReader(int deviceType, ReaderFn reader);

// Reads the text of a text slot from its file source; installed by the text
// sources once they exist. Returns whether the text was taken.
using TextSlotReader = bool (*)(int slot);
void SetTextSlotReader(TextSlotReader reader);

}  // namespace karvelo::devices
