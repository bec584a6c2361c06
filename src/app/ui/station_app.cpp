#include "app/ui/station_app.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/configuration.h"
#include "app/ui/batch_mode.h"
#include "app/ui/main_dialog.h"
#include "app/ui/termination_signals.h"
#include "platform/keystate.h"
#include "state/window_port.h"

namespace karvelo::app {

int RunStation(int& argc, char** argv, bool batch) {
    SetBatchMode(batch);
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
