#pragma once
// The player controller: the one owner of the player's state (the playlist, the switches, the
// schedule, the fades, the quit), made by `main` (and by each window test). The window's
// routines, the hot keys, MPRIS, the command line, a second start's hand-over and the session
// file all act through its operations, which run now or, while a fade runs, once it is over.

#include <QObject>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/crt_random.h"
#include "app/fader.h"
#include "app/player_state.h"
#include "app/schedule_model.h"
#include "app/schedule_seconds.h"
#include "app/session.h"
#include "desktop/file_dialog.h"
#include "desktop/message_box.h"

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
    void togglePlayPause();
    void next();
    void previous();
    void stop();
    void seek(int percent);  // restarts the playing track there
    void playRow(int row);   // 0-based
    void addByDialog();
    void removeSelected();
    void resetPlaylist();
    // Appends these paths and selects the last row (a drop, the command line, a hand-over): at once.
    void append(const std::vector<std::string>& paths);
    void switchSchedule();
    void setPeriod(int index, const SchedulePeriod& period);
    // The end of a track moves on at once, also during a fade.
    void trackEnded();
    // Every way of ending (window close, signals, log-out, MPRIS Quit) comes here: a running fade
    // stops with the volume back, open dialogs give up, and the window closes once none is open.
    void requestQuit();
    bool quitting() const { return quitting_; }

    // What a command is to the queue: two toggles waiting in a row cancel each other out.
    enum class CommandKind { Toggle, Other };
    void whenIdle(std::function<void()> command, CommandKind kind = CommandKind::Other);
    bool fading() const { return fader_.busy(); }
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

    // ---- State ----
    PlayerState state;
    ScheduleModel schedule;
    ScheduleSeconds seconds;
    LogicServices services = defaultServices();
    SessionKeeper session;
    CrtRandom random;
    // The round of failures: tracks that ended in a row without a progress report.
    int failedInARow = 0;
    bool heardProgress = false;

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
    bool finished_ = false;
    int dialogsOpen_ = 0;
    ui::Form* form_ = nullptr;
    std::unique_ptr<MainWidgets> widgets_;
    QObject context_;  // queued calls die with the controller
};

}  // namespace vesperon::app
