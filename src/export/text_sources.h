#pragma once
// The ID text and the texts of text slots, from the keyboard (the window's
// fields) or from the first line of a ';'-separated list file that another
// program keeps up to date.

namespace karvelo::app {
class WindowPort;
}

namespace karvelo::exports {

// Takes the ID text from its source into TextLast[0] (acquisition thread, at
// the start of a cycle when IdReadRequest is set).
void ReadIdText(app::WindowPort& window);

// Takes the text of text slot s from its file source; false (and nothing
// changed) when the file cannot be read. Uses app::MainWindow() for the field.
bool ReadSlotText(int slot);

// Connects ReadSlotText to the read dispatch; called once at station start.
void InstallTextSources();

}  // namespace karvelo::exports
