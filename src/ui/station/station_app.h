#pragma once
// The station with its window: the Qt application, the main window's
// start-up, the event loop and the end. This header needs no Qt, so the
// program's entry point can choose between the station and its command-line
// tools without creating an application object for the tools.

namespace karvelo::app {

// Runs the station until FINISH / EXIT, a close of the window, SIGINT or
// SIGTERM, and ends the process with code 0 once configuration and texts are
// saved. Qt's own options in argv (such as "-platform offscreen") apply.
// `batch`: unattended, see batch_mode.h. Without a display, and unless the
// platform was chosen (`platformChosen`, QT_QPA_PLATFORM), it says so and
// returns 1; in batch mode it runs offscreen instead. Does not return normally
// otherwise.
int RunStation(int& argc, char** argv, bool batch, bool platformChosen);

}  // namespace karvelo::app
