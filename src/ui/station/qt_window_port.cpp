#include "ui/station/qt_window_port.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "app/timers.h"
#include "platform/text_encoding.h"
#include "state/run_state.h"
#include "ui/station/batch_mode.h"
#include "ui/station/main_dialog.h"
#include "ui/station/thread_handoff.h"

namespace karvelo::app {
namespace {

QString ToQString(std::wstring_view text) {
    return QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size()));
}

// A period of 0 would fire on every pass of the event loop.
constexpr int kShortestTimerMs = 1;

}  // namespace

bool DispatchWaitingEvents() {
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    if (dispatcher == nullptr) return false;
    return dispatcher->processEvents(QEventLoop::AllEvents);
}

QtWindowPort::QtWindowPort(MainDialog& dialog) : dialog_(dialog) {}

QtWindowPort::~QtWindowPort() = default;

bool QtWindowPort::OnUiThread() const {
    return QThread::currentThread() == thread();
}

void QtWindowPort::Run(std::function<void()> work) {
    if (OnUiThread()) {
        work();
        return;
    }
    // Dropped with this object if it goes away first.
    QMetaObject::invokeMethod(this, Handed(std::move(work)), Qt::QueuedConnection);
}

void QtWindowPort::RunAndWait(const std::function<void()>& work) {
    if (OnUiThread()) {
        work();
        return;
    }
    // Safe: the user-interface thread never waits for another thread of the
    // station without dispatching its events.
    QMetaObject::invokeMethod(this, Handed([&work] {
                                  work();
                                  HandOff(&work);
                              }),
                              Qt::BlockingQueuedConnection);
    TakeOver(&work);
}

void QtWindowPort::LayoutWindow() {
    Run([this] { dialog_.LayoutControls(); });
}

void QtWindowPort::SetListSelection(int controlId, int index) {
    Run([this, controlId, index] { dialog_.SelectListEntry(controlId, index); });
}

void QtWindowPort::SetControlText(int controlId, std::wstring_view text) {
    Run([this, controlId, t = ToQString(text)] { dialog_.SetControlText(controlId, t); });
}

std::wstring QtWindowPort::GetControlText(int controlId) {
    QString text;
    RunAndWait([this, controlId, &text] { text = dialog_.ControlText(controlId); });
    return text.toStdWString();
}

void QtWindowPort::ShowControl(int controlId, bool visible) {
    Run([this, controlId, visible] {
        if (QWidget* w = dialog_.control(controlId)) w->setVisible(visible);
    });
}

void QtWindowPort::EnableControl(int controlId, bool enabled) {
    Run([this, controlId, enabled] {
        if (QWidget* w = dialog_.control(controlId)) w->setEnabled(enabled);
    });
}

void QtWindowPort::InvalidateWindow(bool) {
    Run([this] { dialog_.update(); });
}

void QtWindowPort::InvalidateValues() {
    // Every read asks; one refresh waiting on the window's thread answers all
    // the asks before it, and repaints only the rows that changed.
    if (refreshQueued_.exchange(true)) return;
    Run([this] {
        refreshQueued_ = false;
        dialog_.RefreshChangedRows();
    });
}

WindowRect QtWindowPort::GetWindowRect() {
    WindowRect r;
    RunAndWait([this, &r] {
        const QRect frame = dialog_.frameGeometry();
        r.left = frame.left();
        r.top = frame.top();
        r.right = frame.left() + frame.width();
        r.bottom = frame.top() + frame.height();
    });
    return r;
}

void QtWindowPort::StartTimer(int timerId, int milliseconds) {
    Run([this, timerId, milliseconds] {
        QTimer*& timer = timers_[timerId];
        if (timer == nullptr) {
            timer = new QTimer(this);
            // Qt's default timers may fire up to 5 % early or late: a 20.4 s send
            // period must not become 19.8 s.
            timer->setTimerType(Qt::PreciseTimer);
            QObject::connect(timer, &QTimer::timeout, this, [this, timerId] {
                OnTimerEvent(timerId, *this, {&dialog_.station().records(), &dialog_.excel()});
            });
        }
        timer->start(std::max(milliseconds, kShortestTimerMs));
    });
}

void QtWindowPort::StopTimer(int timerId) {
    Run([this, timerId] {
        auto it = timers_.find(timerId);
        if (it != timers_.end()) it->second->stop();
    });
}

bool QtWindowPort::TimerRunning(int timerId) const {
    auto it = timers_.find(timerId);
    return it != timers_.end() && it->second->isActive();
}

int QtWindowPort::TimerInterval(int timerId) const {
    auto it = timers_.find(timerId);
    return it == timers_.end() ? -1 : it->second->interval();
}

void QtWindowPort::MessageBox(std::wstring_view caption, std::wstring_view text, MessageIcon icon) {
    if (BatchMode()) {
        const std::string line =
            platform::WideToUtf8(caption) + ": " + platform::WideToUtf8(text) + "\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
        return;
    }
    const QString c = ToQString(caption);
    const QString t = ToQString(text);
    RunAndWait([this, &c, &t, icon] {
        QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon, c,
                        t, QMessageBox::Ok, &dialog_);
        box.exec();
    });
}

void QtWindowPort::PostToUi(std::function<void()> work) {
    QMetaObject::invokeMethod(this, Handed(std::move(work)), Qt::QueuedConnection);
}

void QtWindowPort::PumpMessages() {
    QCoreApplication::processEvents();
}

void QtWindowPort::ShowExportProblem(std::wstring_view text) {
    Run([this, t = ToQString(text)] { dialog_.ShowExportProblem(t); });
}

void QtWindowPort::ShowSettingsNotKept(bool notKept) {
    Run([this, notKept] { dialog_.ShowSettingsNotKept(notKept); });
}

void QtWindowPort::ShowRecordWritten(std::wstring_view when, std::wstring_view where) {
    Run([this, w = ToQString(when), f = ToQString(where)] { dialog_.ShowRecordWritten(w, f); });
}

void QtWindowPort::ShowRecordsWaiting(long long waiting, std::wstring_view problem) {
    Run([this, waiting, p = ToQString(problem)] { dialog_.ShowRecordsWaiting(waiting, p); });
}

}  // namespace karvelo::app
