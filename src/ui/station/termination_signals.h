#pragma once
// SIGINT and SIGTERM end the station the way FINISH / EXIT does. The signal
// handler only writes a byte into a pipe; the user-interface thread watches
// the pipe's other end and runs the end there, with the window's own code.

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace karvelo::app {

class TerminationSignals : public QObject {
  public:
    // Installs the handlers (once per process). Signals that arrive before
    // Watch() wait in the pipe.
    static bool Install();

    // Blocks or unblocks both signals for the calling thread. Threads started
    // while they are blocked keep them blocked, so the signals reach only the
    // thread that unblocks them again.
    static void Block(bool blocked);

    // Runs `onSignal` on the calling thread's event loop for every signal.
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);

  private:
    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace karvelo::app
