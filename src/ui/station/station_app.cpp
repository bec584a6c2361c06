#include "ui/station/station_app.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/configuration.h"
#include "platform/display.h"
#include "platform/keystate.h"
#include "platform/report.h"
#include "platform/session_platform.h"
#include "state/window_port.h"
#include "ui/station/batch_mode.h"
#include "ui/station/main_dialog.h"
#include "ui/station/termination_signals.h"

namespace karvelo::app {

namespace {

// Under Wayland the window could neither stay on top nor see the send key, so
// it goes through XWayland (see platform/session_platform.h).
void ChooseWindowPlatform(bool platformChosen) {
    switch (platform::ChooseSessionPlatform(platform::CurrentSessionEnvironment(platformChosen))) {
        case platform::SessionPlatform::Toolkit:
            break;
        case platform::SessionPlatform::XWayland:
            setenv("QT_QPA_PLATFORM", "xcb", 1);
            break;
        case platform::SessionPlatform::NoXWayland:
            platform::Report(
                "Wayland session without XWayland (DISPLAY is not set): the window cannot stay "
                "on top and the global send key does not work");
            break;
    }
}

}  // namespace

int RunStation(int& argc, char** argv, bool batch, bool platformChosen) {
    SetBatchMode(batch);
    // Without a desktop the toolkit would abort with advice that does not
    // help; unattended, the station needs none.
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    if (!platformChosen && (chosen == nullptr || *chosen == '\0')) {
        const platform::DisplayState display = platform::FindDisplay();
        if (display != platform::DisplayState::Available) {
            if (!batch) {
                platform::Report(std::string("no display found (") +
                                 (display == platform::DisplayState::NotSet
                                      ? "DISPLAY is not set"
                                      : "the display named by DISPLAY cannot be reached") +
                                 "); start it on a desktop, or without one with \"-platform "
                                 "offscreen\" or \"--batch\"");
                return 1;
            }
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        } else {
            ChooseWindowPlatform(platformChosen);
        }
    }
    // Until the window runs, SIGINT and SIGTERM wait; the threads started
    // meanwhile (Qt's and the station's) never take them.
    TerminationSignals::Block(true);
    TerminationSignals::Install();

    // Everything below lives until the process ends: the station's threads are
    // never joined and hold on to the window and the key state.
    auto* application = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    platform::KeyState* keys = platform::CreateSystemKeyState().release();
    auto* window = new MainDialog();

    DeriveProgramPaths();
    window->LoadInitialState();
    window->StartAcquisition(*keys);
    window->ShowStation();

    new TerminationSignals([window] { window->FinishStation(); }, window);
    TerminationSignals::Block(false);

    const int code = application->exec();
    // The window ends the process itself after FINISH / EXIT; an event loop
    // that ends otherwise must not wait for the station's threads either.
    std::fflush(nullptr);
    std::_Exit(code);
}

}  // namespace karvelo::app
