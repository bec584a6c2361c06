// karvelo-serial-sim: serial instruments on pseudo-terminals, for the
// end-to-end tests and the demo. See sim/README.md.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "serial/scenario.h"
#include "serial/simulator.h"

namespace {

constexpr std::string_view kUsage =
    "usage: karvelo-serial-sim [SCENARIO-FILE] [--instrument KEY=VALUE,...]...\n"
    "\n"
    "Stands in for serial instruments: one pseudo-terminal per instrument, reached\n"
    "through a symbolic link. Prints READY when every link exists and serves until\n"
    "SIGTERM or SIGINT, then removes the links.\n"
    "\n"
    "  SCENARIO-FILE, --scenario FILE   instruments as INI sections\n"
    "  --instrument KEY=VALUE,...       one instrument, e.g.\n"
    "                                   link=/tmp/gauge,type=1,values=12.345\n"
    "  --help                           this text\n"
    "\n"
    "Keys: name, link, type, values, decimals, behaviour, every, after, delay_ms,\n"
    "every_ms, flag, points, unit, seed (see sim/README.md).\n"
    "Exit codes: 0 after SIGTERM/SIGINT, 1 set-up failure, 2 bad scenario or options.\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "karvelo-serial-sim: %s\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using karvelo::sim::InstrumentConfig;
    std::vector<InstrumentConfig> instruments;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string_view arg = argv[i];
            std::string value;
            auto takeValue = [&](std::string_view option) -> bool {
                if (arg == option) {
                    if (i + 1 >= argc)
                        throw karvelo::sim::ScenarioError(std::string(option) + " needs a value");
                    value = argv[++i];
                    return true;
                }
                if (arg.starts_with(std::string(option) + "=")) {
                    value = arg.substr(option.size() + 1);
                    return true;
                }
                return false;
            };
            if (arg == "--help" || arg == "-h") {
                std::fputs(kUsage.data(), stdout);
                return 0;
            }
            if (takeValue("--instrument")) {
                instruments.push_back(karvelo::sim::ParseInstrumentOption(value));
                continue;
            }
            const bool scenarioOption = takeValue("--scenario");
            if (!scenarioOption && arg.starts_with("-")) {
                return Fail("unknown option " + std::string(arg) + " (try --help)");
            }
            const std::string file = scenarioOption ? value : std::string(arg);
            std::ifstream in(file, std::ios::binary);
            if (!in) return Fail("cannot read the scenario file " + file);
            const std::string text((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
            for (InstrumentConfig& c : karvelo::sim::ParseScenario(text, file)) {
                instruments.push_back(std::move(c));
            }
        }
        karvelo::sim::CheckInstruments(instruments);
    } catch (const karvelo::sim::ScenarioError& e) {
        return Fail(e.what());
    }
    karvelo::sim::Simulator simulator(std::move(instruments));
    return simulator.Run();
}
