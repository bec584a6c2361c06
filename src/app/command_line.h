#pragma once
// The station's command line. Options of its own start with "--"; Qt's options
// (such as "-platform offscreen") are left for the window toolkit.

#include <string>
#include <vector>

namespace karvelo::app {

enum class RunMode { Station, ShowConfig, Probe, History, Version, Help, Error };

struct CommandLine {
    RunMode mode = RunMode::Station;
    bool batch = false;       // unattended: message boxes to standard error, choosers cancelled
    int probeSlot = 0;        // --probe N
    std::string historyFrom;  // --history FROM TO: UTC dates YYYY-MM-DD, empty when open
    std::string historyTo;
    bool platformChosen = false;  // "-platform NAME" given: the toolkit's choice is the user's
    std::string error;            // why the command line was refused
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The --help text.
std::string UsageText();

}  // namespace karvelo::app
