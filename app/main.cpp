// Vesperon: opens the main window and runs until it is closed.

#include <malloc.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/logic.h"
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

// Qt aborts with a long story when it cannot reach a display; say it in one line instead.
// The probe's connection stays open (in *probe) until Qt has its own: an X server that loses its
// last client resets, and would refuse Qt's connection in that moment.
bool displayReachable(Display** probe) {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform && std::string(platform).rfind("xcb", 0) != 0)
        return true;  // offscreen, wayland
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!platform || !*platform) && wayland && *wayland) return true;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    *probe = XOpenDisplay(display);
    return *probe != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
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
    if (!headless && !displayReachable(&probe)) {
        const char* display = std::getenv("DISPLAY");
        const std::string why = display && *display ? "cannot connect to DISPLAY=" + std::string(display)
                                                    : std::string("DISPLAY is not set");
        if (line.sessionFile.empty()) {
            vesperon::app::reportLine("no display to open the window on (" + why + ")");
            return 1;
        }
        vesperon::app::reportLine("no display (" + why + "); running the session without a window");
        headless = true;
    }
    if (headless) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    // The Wayland app id: the desktop entry the compositor matches the window to.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(vesperon::desktop::applicationId()));
    if (probe) XCloseDisplay(probe);
    vesperon::app::PlayerController controller;
    controller.headless = headless;
    vesperon::app::PlayLog playLog(line.logFile.empty() ? vesperon::app::DefaultPlayLogPath() : line.logFile,
                                   {.createDirectory = line.logFile.empty()});
    controller.log = &playLog;
    // Closing the window, SIGTERM, SIGINT and SIGHUP all quit the same clean way, also while a
    // box of the start-up is open.
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
