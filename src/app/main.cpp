// The karvelo program: the station and its command-line tools.

#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/configuration.h"
#include "app/history.h"
#include "app/null_window.h"
#include "app/probe.h"
#include "app/state_report.h"
#include "app/station_devices.h"
#include "app/version.h"
#include "export/record_journal.h"
#include "platform/report.h"
#include "platform/text_encoding.h"
#include "state/run_state.h"
#include "state/window_port.h"
#ifdef KARVELO_WITH_WINDOW
#include "ui/station/station_app.h"
#endif

namespace {

using namespace karvelo;

int ShowConfig() {
    app::NullWindow window;
    app::DeriveProgramPaths();
    ClearRunTimeFields();
    app::LoadConfiguration(window);
    const std::string report = app::ConfigurationReport();
    std::fwrite(report.data(), 1, report.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int Probe(int slot) {
    app::NullWindow window;
    app::DeriveProgramPaths();
    ClearRunTimeFields();
    app::LoadConfiguration(window);
    const auto devices = app::MakeStationDevices(g_run, window);
    const app::ProbeOutcome outcome = app::ProbeSlot(slot, window, *devices);
    std::fwrite(outcome.report.data(), 1, outcome.report.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int History(const std::string& from, const std::string& to) {
    app::DeriveProgramPaths();
    return app::PrintHistory(exports::JournalFilePath(), from, to, stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    const app::CommandLine cl = app::ParseCommandLine(args);
    switch (cl.mode) {
        case app::RunMode::Error:
            platform::Report(cl.error + "\n");
            std::fputs(app::UsageText().c_str(), stderr);
            return 2;
        case app::RunMode::Help:
            std::fputs(app::UsageText().c_str(), stdout);
            return 0;
        case app::RunMode::Version:
            std::printf("%s\n", platform::WideToUtf8(app::kVersionBanner).c_str());
            return 0;
        case app::RunMode::ShowConfig:
            return ShowConfig();
        case app::RunMode::Probe:
            return Probe(cl.probeSlot);
        case app::RunMode::History:
            return History(cl.historyFrom, cl.historyTo);
        case app::RunMode::Station:
#ifdef KARVELO_WITH_WINDOW
            return app::RunStation(argc, argv, cl.batch, cl.platformChosen);
#else
            platform::Report("this build has no window; use --show-config or --probe N");
            return 1;
#endif
    }
    return 0;
}
