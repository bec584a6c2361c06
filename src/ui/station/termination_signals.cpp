#include "ui/station/termination_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace karvelo::app {
namespace {

int g_pipe[2] = {-1, -1};

constexpr int kSignals[] = {SIGINT, SIGTERM};

// Async-signal-safe: one write, errno kept for the interrupted code.
void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void Drain(int fd) {
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace

bool TerminationSignals::Install() {
    if (g_pipe[0] >= 0) return true;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool ok = true;
    for (int s : kSignals) ok = ::sigaction(s, &action, nullptr) == 0 && ok;
    return ok;
}

void TerminationSignals::Block(bool blocked) {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kSignals) sigaddset(&set, s);
    ::pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (g_pipe[0] < 0) return;
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        Drain(g_pipe[0]);
        if (onSignal_) onSignal_();
    });
}

}  // namespace karvelo::app
