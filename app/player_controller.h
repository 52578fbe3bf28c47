#pragma once
// The player controller: the one owner of the player's state (the playlist, the switches, the
// schedule, the fades, the quit), made by `main` (and by each window test). The window's
// routines, the hot keys, MPRIS, the command line, a second start's hand-over and the session
// file all act through its operations, which run now or, while a fade runs, once it is over.

#include <QObject>
#include <QPointer>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/crt_random.h"
#include "app/fader.h"
#include "app/play_log.h"
#include "app/player_state.h"
#include "app/schedule_model.h"
#include "app/session.h"
#include "app/week_schedule.h"
#include "desktop/file_dialog.h"
#include "desktop/message_box.h"
#include "desktop/portal_shortcuts.h"

namespace vesperon::ui {
class Form;
}

namespace vesperon::app {

struct MainWidgets;

// Everything the logic asks of the desktop and the clock; defaults are the real ones.
struct LogicServices {
    std::function<std::vector<std::string>(const desktop::OpenFileDialogArgs&)> openFileDialog;
    // Flags and answers as desktop/message_box.h names them.
    std::function<int(const std::string& text, std::int64_t flags, const std::string& caption)> messageBox;
    std::function<std::tm()> localTime;
    // Ends the event loop once the window is closed for a quit (the program's exit status 0).
    std::function<void()> endProgram;
};
LogicServices defaultServices();

class PlayerController {
public:
    // Becomes the controller the window's routines act on until it is destroyed.
    PlayerController();
    ~PlayerController();
    PlayerController(const PlayerController&) = delete;
    PlayerController& operator=(const PlayerController&) = delete;
    static PlayerController& current();
    static bool exists();

    // ---- Operations: each runs now, or after the running fade (dropped once quitting) ----
    // `by` is who asked, for the play log (the window's routines, the hot keys, MPRIS, ...).
    void togglePlayPause(LogBy by);
    void next(LogBy by);
    void previous(LogBy by);
    void stop(LogBy by);
    void seek(int percent);  // restarts the playing track there
    void playRow(int row, LogBy by);  // 0-based
    void addByDialog();
    void removeSelected();
    void resetPlaylist();
    // Appends these paths and selects the last row (a drop, the command line, a hand-over): at once.
    void append(const std::vector<std::string>& paths);
    void switchSchedule();
    void setPeriod(int index, const SchedulePeriod& period);
    // The end of a track moves on at once, also during a fade.
    void trackEnded();
    // A track that did not start moves on as an ended one, once the event loop comes round
    // (never inside the call that started it): dropped when another start, a stop or a quit
    // comes first.
    void moveOnSoon();
    // Every way of ending (window close, signals, log-out, MPRIS Quit) comes here: a running fade
    // stops with the volume back, open dialogs give up, and the window closes once none is open.
    void requestQuit(LogBy by = LogBy::None);
    bool quitting() const { return quitting_; }

    // What a command is to the queue: two toggles waiting in a row cancel each other out.
    enum class CommandKind { Toggle, Other };
    void whenIdle(std::function<void()> command, CommandKind kind = CommandKind::Other);
    // No fade runs and no command waits.
    bool idle() const { return !fader_.busy() && waiting_.empty(); }

    // ---- Fades ----
    void pauseWithFade();
    void resumeWithFade();
    void endWithFade();
    Fader& fader() { return fader_; }

    // A dialog or message box the logic opens: a quit waits until it has returned.
    std::vector<std::string> openFileDialog(const desktop::OpenFileDialogArgs& args);
    int messageBox(const std::string& text, std::int64_t flags, const std::string& caption);

    // ---- The play log: none in the window tests ----
    PlayLog* log = nullptr;
    void record(LogEvent event, LogBy by, std::string path = {}, bool missed = false);
    // An event with a reason (`message`): a `failed` track and why.
    void record(LogEvent event, LogBy by, std::string path, std::string message);
    // Who asked for the operation running now (None for the player's own moves, a track's end).
    LogBy asking() const { return asking_; }
    // `run` with asking() saying `by`.
    std::function<void()> as(LogBy by, std::function<void()> run);

    // ---- State ----
    PlayerState state;
    ScheduleModel schedule;
    WeekSchedule week;  // what the schedule fires; fed from `schedule` on each tick
    // No one sees the window (offscreen): nothing modal may wait, errors go to stderr and the log.
    bool headless = false;
    // Tells MPRIS clients of a seek once it is made (the slider's, MPRIS's own): set while MPRIS
    // serves.
    std::function<void()> announceSeek;
    // The desktop portal's shortcuts session, one per window (it closes with the window).
    QPointer<desktop::PortalShortcuts> portal;
    LogicServices services = defaultServices();
    SessionKeeper session;
    CrtRandom random;
    // The round of failures: tracks that ended in a row without playing any sound.
    int failedInARow = 0;
    // Counts the plays started, so that a move-on meant for one is dropped once another began.
    std::uint64_t playsStarted = 0;

    // The window the operations act on: set by the start-up, cleared when it goes.
    void setForm(ui::Form* form);
    ui::Form* form() const { return form_; }
    const MainWidgets& widgets() const { return *widgets_; }

private:
    void drain();
    void finishQuit();
    void finishQuitSoon();

    Fader fader_;
    struct Waiting {
        std::function<void()> run;
        CommandKind kind;
    };
    std::deque<Waiting> waiting_;
    bool quitting_ = false;
    LogBy asking_ = LogBy::None;
    LogBy quitBy_ = LogBy::None;
    bool finished_ = false;
    int dialogsOpen_ = 0;
    ui::Form* form_ = nullptr;
    std::unique_ptr<MainWidgets> widgets_;
    QObject context_;  // queued calls die with the controller
};

}  // namespace vesperon::app
