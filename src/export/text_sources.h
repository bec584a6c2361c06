#pragma once
// The ID text and the texts of text slots, from the keyboard (the window's
// fields) or from the first line of a ';'-separated list file that another
// program keeps up to date.

#include "state/window_port.h"

namespace karvelo::exports {

// Takes the ID text from its source into TextLast[0] (acquisition thread, at
// the start of a cycle when IdReadRequest is set).
void ReadIdText(WindowPort& window);

// Takes the text of text slot s from its file source; false (and nothing
// changed) when the file cannot be read. A long text is shown in its field.
bool ReadSlotText(int slot, WindowPort& window);

}  // namespace karvelo::exports
