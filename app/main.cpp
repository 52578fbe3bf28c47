// Vesperon: opens the main window and runs until it is closed.

#include <malloc.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/logic.h"
#include "app/loudness_control.h"
#include "app/mpris_link.h"
#include "app/play_log.h"
#include "app/report.h"
#include "app/routines.h"
#include "app/session.h"
#include "app/session_lock.h"
#include "desktop/dialog_language.h"
#include "desktop/drop_target.h"
#include "desktop/program_info.h"
#include "engine/player/commands.h"
#include "engine/port/message_port.h"
#include "ui/appearance.h"
#include "ui/handle_registry.h"
#include "ui/main_window.h"
#include "ui/runtime_error.h"
#include "volume/sys_volume_widget.h"

// After Qt: Xlib's macros would break Qt's headers.
#include <X11/Xlib.h>

namespace {

// The window's display, as Qt would choose it, probed before Qt aborts with a long story where
// nothing answers. `platform` is what to hand Qt ("" keeps its own choice); the X connection
// stays open (in *probe) until Qt has its own: an X server that loses its last client resets,
// and would refuse Qt's connection in that moment.
struct DisplayChoice {
    bool reachable = false;
    std::string why;  // when not: what was tried
    std::string platform;
};

bool xReachable(Display** probe, std::string& why) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return why = "DISPLAY is not set", false;
    if (!*probe) *probe = XOpenDisplay(display);
    if (!*probe) why = "cannot connect to DISPLAY=" + std::string(display);
    return *probe != nullptr;
}

// A compositor that has gone leaves its socket behind, or its name in the environment.
bool waylandReachable(std::string& why) {
    if (const char* socketFd = std::getenv("WAYLAND_SOCKET"); socketFd && *socketFd) return true;
    const char* name = std::getenv("WAYLAND_DISPLAY");
    const std::string display = name && *name ? name : "wayland-0";
    std::string path = display;
    if (path[0] != '/') {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        path = runtime && *runtime ? std::string(runtime) + "/" + display : "";
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const int fd = path.empty() || path.size() >= sizeof address.sun_path
                       ? -1
                       : ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool answered = false;
    if (fd >= 0) {
        std::memcpy(address.sun_path, path.c_str(), path.size());
        answered = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
    }
    if (!answered) why = "no Wayland compositor answers at WAYLAND_DISPLAY=" + display;
    return answered;
}

DisplayChoice chooseDisplay(Display** probe) {
    DisplayChoice c;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    std::vector<std::string> tried;
    if (platform && *platform) {
        // Qt takes the first of a list ("wayland;xcb") that works.
        std::string list = platform;
        for (std::size_t from = 0; from <= list.size();) {
            const std::size_t end = std::min(list.find(';', from), list.size());
            const std::string name = list.substr(from, end - from);
            from = end + 1;
            std::string why;
            if (name.rfind("xcb", 0) == 0 ? xReachable(probe, why)
                                          : name.rfind("wayland", 0) != 0 || waylandReachable(why))
                return {true, "", ""};  // offscreen, minimal, ...: nothing to reach
            tried.push_back(why);
        }
    } else {
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        std::string why;
        // Qt prefers Wayland where it is named; a stale name falls back to X, told to Qt.
        if (wayland && *wayland) {
            if (waylandReachable(why)) return {true, "", ""};
            tried.push_back(why);
            if (xReachable(probe, why)) return {true, "", "xcb"};
        } else if (xReachable(probe, why)) {
            return {true, "", ""};
        }
        tried.push_back(why);
    }
    for (const std::string& why : tried) c.why += (c.why.empty() ? "" : "; ") + why;
    return c;
}

// The offscreen platform cannot raise a window or pass on its size hints, and Qt says so each
// time a window is shown; with no one to see the window that is no news.
QtMessageHandler qtMessages = nullptr;
void quietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && text.startsWith(QLatin1String("This plugin does not support"))) return;
    if (qtMessages) qtMessages(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
    // SIGTERM, SIGINT and SIGHUP are caught from the first moment, so that none ends the start-up
    // unhandled: the quit they ask for runs once the event loop does.
    vesperon::app::catchQuitSignals();
    // One malloc arena. glibc gives new threads arenas of their own, and a player makes three
    // threads a track whose buffers (half a MB of decoded sound among them) land in whichever
    // arena the thread got; each arena then kept its own freed pages: 2-3 MB more resident
    // memory, wandering by a MB for as long as the player ran. The threads allocate a few
    // hundred times a track, so sharing one arena costs nothing. Before Qt starts any thread.
    mallopt(M_ARENA_MAX, 1);
    const auto parsed = vesperon::app::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed) {
        vesperon::app::reportLine(parsed.error);
        std::fputs(vesperon::desktop::usageText().c_str(), stderr);
        return 2;
    }
    const vesperon::app::CommandLine& line = parsed.value;
    if (line.help || line.version) {
        std::fputs(line.help ? vesperon::desktop::helpText().c_str()
                             : (std::string("vesperon ") + vesperon::desktop::programVersion() + "\n").c_str(),
                   stdout);
        return 0;
    }
    Display* probe = nullptr;
    // A session runs without a window when asked to, or when there is no display to show one on
    // (a service, a machine nobody is logged in to): the schedule needs no one to look at it.
    bool headless = line.noWindow;
    if (!headless) {
        const DisplayChoice display = chooseDisplay(&probe);
        if (!display.reachable && line.sessionFile.empty()) {
            vesperon::app::reportLine("no display to open the window on (" + display.why + ")");
            return 1;
        }
        if (!display.reachable) {
            vesperon::app::reportLine("no display (" + display.why +
                                      "); running the session without a window");
            headless = true;
        }
        if (!display.platform.empty()) setenv("QT_QPA_PLATFORM", display.platform.c_str(), 1);
    }
    if (headless) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        qtMessages = qInstallMessageHandler(quietOffscreen);
    }
    QApplication app(argc, argv);
    // The Wayland app id: the desktop entry the compositor matches the window to.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(vesperon::desktop::applicationId()));
    if (probe) XCloseDisplay(probe);
    vesperon::app::PlayerController controller;
    controller.headless = headless;
    vesperon::app::LoudnessControl loudness;  // measures at idle priority, hands the engine the gains
    vesperon::app::PlayLog playLog(line.logFile.empty() ? vesperon::app::DefaultPlayLogPath() : line.logFile,
                                   {.createDirectory = line.logFile.empty()});
    controller.log = &playLog;
    // Closing the window, SIGTERM, SIGINT and SIGHUP all quit the same clean way, also while a
    // box of the start-up is open (and a signal caught before this point, once the loop runs).
    vesperon::app::installSignalQuit();
    // Read at the end of the start-up.
    vesperon::app::UseSessionFile(line.sessionFile);
    // A start of a session that already runs hands its files over before any window or key.
    vesperon::app::OutsideControl outside;
    using HandOver = vesperon::app::OutsideControl::HandOver;
    switch (outside.handOver(line)) {
        case HandOver::Done:
            return 0;
        case HandOver::OwnerSilent:
            // Running on would make a second player of the same session; the files may yet land.
            vesperon::app::reportLine(
                "the running Vesperon of this session does not answer; "
                "nothing was handed over or saved");
            return 1;
        case HandOver::RunOn:
            break;
    }
    // Without a session bus a second start is not caught above: the lock is.
    std::unique_ptr<vesperon::app::SessionLock> sessionLock;
    if (!line.sessionFile.empty()) {
        auto taken = vesperon::app::SessionLock::take(line.sessionFile);
        if (!taken) {
            vesperon::app::reportLine(taken.error);
            return 1;
        }
        sessionLock = std::move(taken.value);
        // Where no lock can be made (a read-only folder) no save can be either: the session runs,
        // and a failed save is told as on a full disk.
        if (!sessionLock->unheld().empty()) vesperon::app::reportLine(sessionLock->unheld());
    }
    vesperon::ui::installSystemFont();
    vesperon::desktop::installDialogTranslations();
    vesperon::engine::installMessagePort({&vesperon::ui::postMessage, &vesperon::ui::isWindow});
    // Connected while the window loads: the first play, an instant later, is heard from its start.
    vesperon::engine::PrepareAudioOutput();
    vesperon::ui::FatalErrorHooks hooks;
    hooks.stopAllPlayback = [] { vesperon::engine::StopPlaying(); };
    vesperon::ui::setFatalErrorHooks(hooks);
    vesperon::volume::registerSysVolumeType();
    vesperon::desktop::registerDropTargetType();

    auto window =
        vesperon::ui::loadMainWindow(vesperon::app::routineDispatcher(), vesperon::app::routineCatalog(), {});
    if (!window) {
        vesperon::app::reportLine(window.error);
        return 1;
    }
    outside.start();
    const int code = app.exec();
    vesperon::engine::RemoveCurrentPlayer();
    return code;
}
