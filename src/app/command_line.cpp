#include "app/command_line.h"

#include <array>
#include <string_view>

#include "platform/numbers.h"
#include "state/run_state.h"

namespace karvelo::app {
namespace {

// Qt options that take a value: their value must not be read as ours.
constexpr std::array<std::string_view, 12> kQtOptionsWithValue = {
    "-platform",   "-display",         "-geometry",           "-style",
    "-stylesheet", "-qwindowgeometry", "-qwindowtitle",       "-qwindowicon",
    "-session",    "-plugin",          "-platformpluginpath", "-platformtheme"};

bool IsQtOptionWithValue(std::string_view arg) {
    for (std::string_view q : kQtOptionsWithValue) {
        if (arg == q) return true;
    }
    return false;
}

// Qt options without a value.
constexpr std::array<std::string_view, 6> kQtFlags = {"-reverse", "-nograb",      "-dograb",
                                                      "-sync",    "-widgetcount", "-testability"};

bool IsQtFlag(std::string_view arg) {
    for (std::string_view q : kQtFlags) {
        if (arg == q) return true;
    }
    return arg.starts_with("-qmljsdebugger=");
}

bool ParseSlotNumber(std::string_view text, int& slot) {
    if (text.empty() || text.size() > 2) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    slot = (text.size() == 1) ? text[0] - '0' : (text[0] - '0') * 10 + (text[1] - '0');
    return slot >= 1 && slot <= kMaxSlots;
}

// YYYY-MM-DD with a month from 01 to 12 and a day from 01 to 31.
bool IsDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u}) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    const int month = (text[5] - '0') * 10 + (text[6] - '0');
    const int day = (text[8] - '0') * 10 + (text[9] - '0');
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

CommandLine Refuse(std::string why) {
    CommandLine c;
    c.mode = RunMode::Error;
    c.error = std::move(why);
    return c;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine c;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (a == "--batch") {
            c.batch = true;
        } else if (a == "--show-config") {
            c.mode = RunMode::ShowConfig;
        } else if (a == "--version") {
            c.mode = RunMode::Version;
        } else if (a == "--help" || a == "-h") {
            c.mode = RunMode::Help;
        } else if (a == "--probe") {
            if (i + 1 >= args.size()) return Refuse("--probe needs a slot number from 1 to 10");
            if (!ParseSlotNumber(args[++i], c.probeSlot)) {
                return Refuse("--probe needs a slot number from 1 to 10, not \"" + args[i] + "\"");
            }
            c.mode = RunMode::Probe;
        } else if (a == "--history") {
            c.mode = RunMode::History;
            // Up to two dates follow; anything else is the next option.
            for (std::string* bound : {&c.historyFrom, &c.historyTo}) {
                if (i + 1 >= args.size() || args[i + 1].starts_with("-")) break;
                if (!IsDate(args[++i])) {
                    return Refuse("--history takes dates as YYYY-MM-DD, not \"" + args[i] + "\"");
                }
                *bound = args[i];
            }
        } else if (a.starts_with("--")) {
            return Refuse("unknown option \"" + std::string(a) + "\"");
        } else if (IsQtOptionWithValue(a)) {
            if (a == "-platform") c.platformChosen = true;
            ++i;  // the window toolkit's option and its value
        } else if (!IsQtFlag(a)) {
            // Handed to the toolkit, a mistyped option would be ignored in silence.
            return Refuse(a.starts_with("-") ? "unknown option \"" + std::string(a) + "\""
                                             : "unexpected argument \"" + std::string(a) + "\"");
        }
    }
    return c;
}

std::string UsageText() {
    return "Usage: karvelo [option]\n"
           "\n"
           "The measurement data acquisition station. Without an option it opens its\n"
           "window and measures with the configuration beside the program file\n"
           "(karvelo.cfg and karvelo1.cfg .. karvelo5.cfg).\n"
           "\n"
           "Options:\n"
           "  --batch          unattended: message boxes go to standard error as\n"
           "                   \"CAPTION: text\" and are answered with OK, file and\n"
           "                   folder choosers are cancelled\n"
           "  --show-config    load the configuration as the station does at start,\n"
           "                   print every setting as Name=value and exit\n"
           "  --probe N        open all devices, request and read slot N (1 to 10)\n"
           "                   once, print the results, close the devices and exit\n"
           "  --history [FROM [TO]]\n"
           "                   print the records of the record journal (records.sqlite\n"
           "                   in the configuration folder) as the lines of a\n"
           "                   \"*.csv multi\" file, oldest first, and exit; FROM and TO\n"
           "                   (YYYY-MM-DD, both included) choose the days by the\n"
           "                   records' UTC date\n"
           "  --version        print the version banner and exit\n"
           "  --help           print this text and exit\n"
           "\n"
           "Window toolkit options such as \"-platform offscreen\" are accepted too.\n";
}

}  // namespace karvelo::app
