// Quitting cleanly at any moment: window close, SIGTERM, SIGINT, SIGHUP and the session's log-out
// all end here, also in the middle of a fade or while a dialog is open.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QPointer>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>

#include "app/logic.h"
#include "engine/player/commands.h"

namespace vesperon::app {

namespace {

bool quitting = false;
bool finished = false;
int routineDepth = 0;
int signalPipe[2] = {-1, -1};

bool busy() { return routineDepth > 0 || fadeRunning(); }

void finishQuit() {
    if (!quitting || finished || busy()) return;
    finished = true;
    engine::StopPlaying();
    // The shut-down routine, raised as the window goes, releases the hot keys.
    if (hasMainForm() && mainForm().isLoaded()) mainForm().close();
    if (services().endProgram)
        services().endProgram();
    else
        QCoreApplication::exit(0);
}

void finishSoon() {
    QTimer::singleShot(0, [] { finishQuit(); });
}

// A close that comes while a routine runs would pull the widgets away under it: it becomes a
// quit request instead, which closes the window once the routine is done.
class CloseGuard : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Close && busy()) {
            e->ignore();
            RequestQuit();
            return true;
        }
        return QObject::eventFilter(watched, e);
    }
};

void onSignal(int sig) {
    const char byte = static_cast<char>(sig);
    // Nothing else is safe in a signal handler; the event loop reads the pipe.
    [[maybe_unused]] ssize_t n = write(signalPipe[1], &byte, 1);
}

void installSignals() {
    if (signalPipe[0] >= 0 || pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char buf[16];
        while (read(signalPipe[0], buf, sizeof buf) > 0) {
        }
        RequestQuit();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}

}  // namespace

bool quitRequested() { return quitting; }

void RequestQuit() {
    if (quitting) return;
    quitting = true;
    // Open dialogs give up (as if cancelled), so that the routine that opened them returns.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->reject();
    finishSoon();
}

void finishQuitWhenIdle() {
    if (quitting && !busy()) finishSoon();
}

void enterRoutine() { ++routineDepth; }

void leaveRoutine() {
    --routineDepth;
    finishQuitWhenIdle();
}

void installQuitHandling(ui::Form& form, bool withSignals) {
    if (QWidget* top = form.windowWidget()) top->installEventFilter(new CloseGuard(top));
    if (!withSignals) return;
    installSignals();
    // Log-out: the session manager asks each program to save and go (Qt 6 no longer closes
    // the windows itself), then ends the session.
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QObject::connect(gui, &QGuiApplication::commitDataRequest, gui, [](QSessionManager&) { RequestQuit(); });
}

void resetQuit() {
    quitting = false;
    finished = false;
    routineDepth = 0;
}

}  // namespace vesperon::app
