// The ways of quitting that come from outside the logic: the window's close, SIGTERM, SIGINT,
// SIGHUP and the session's log-out. Each becomes the controller's quit.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QSessionManager>
#include <QSocketNotifier>
#include <utility>

#include "app/logic.h"

namespace vesperon::app {

namespace {

// File-static because a signal handler can reach nothing else; written once, at installation.
int signalPipe[2] = {-1, -1};

// A close asked by the user becomes the controller's quit, which puts the volume back and closes
// the window itself (then the close goes through).
class CloseQuit : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Close && PlayerController::exists() && !quitRequested()) {
            e->ignore();
            RequestQuit(LogBy::Window);
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

}  // namespace

void catchQuitSignals() {
    if (signalPipe[0] >= 0 || pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigset_t quit;
    sigemptyset(&quit);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(sig, &sa, nullptr);
        sigaddset(&quit, sig);
    }
    // A parent may have handed them on blocked (one sent before the program ran is then held):
    // from here on each is caught, so take them.
    sigprocmask(SIG_UNBLOCK, &quit, nullptr);
}

void installSignalQuit() {
    catchQuitSignals();
    static bool installed = false;
    if (signalPipe[0] < 0 || std::exchange(installed, true)) return;
    // A signal caught before the event loop runs is read as soon as it does.
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char buf[16];
        while (read(signalPipe[0], buf, sizeof buf) > 0) {
        }
        if (PlayerController::exists()) RequestQuit();
    });
    // Log-out: the session manager asks each program to save and go (Qt 6 no longer closes
    // the windows itself), then ends the session.
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QObject::connect(gui, &QGuiApplication::commitDataRequest, gui, [](QSessionManager&) {
            if (PlayerController::exists()) RequestQuit();
        });
}

void installCloseQuit(ui::Form& form) {
    if (QWidget* top = form.windowWidget()) top->installEventFilter(new CloseQuit(top));
}

}  // namespace vesperon::app
