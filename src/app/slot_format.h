#pragma once
// The record text of a measuring slot: its value with the slot's decimals.

namespace karvelo::app {

// TextLast[s] = Value[s] with Decimals[s] digits (0..7; 8 for any other
// setting), "." as decimal point. Text slots keep their text.
void FormatSlotValue(int slot);

}  // namespace karvelo::app
