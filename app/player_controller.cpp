#include "app/player_controller.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <cstdio>

#include "app/logic.h"
#include "app/report.h"
#include "engine/player/commands.h"
#include "ui/form.h"
#include "volume/sys_volume_widget.h"

namespace vesperon::app {

namespace {

// The controller the window's routines act on (they are plain functions the layout binds).
PlayerController* theController = nullptr;

// A key held down or a burst of clicks cannot pile up more than this.
constexpr std::size_t kMostWaiting = 32;

std::optional<int> readVolume() {
    if (!PlayerController::exists() || !PlayerController::current().form()) return std::nullopt;
    int v = -1;
    // -1 (or a failed read) while the mixer is lost: never a volume to come back to.
    if (sysVolume().GetVolume(v, v) != 1 || v < 0) return std::nullopt;
    return v;
}

}  // namespace

LogicServices defaultServices() {
    LogicServices s;
    s.openFileDialog = [](const desktop::OpenFileDialogArgs& args) { return desktop::OpenFileDialog(args); };
    s.messageBox = [](const std::string& text, std::int64_t flags, const std::string& caption) {
        return desktop::ShowMessageBox(text.c_str(), flags, caption);
    };
    s.localTime = [] {
        // The precise wall clock the tick is aligned to: time() reads a coarse copy that can
        // still show the old second a few milliseconds after the new one began.
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const std::time_t t = now.tv_sec;
        // localtime_r alone keeps the zone it first read: a change of time zone shows at once.
        tzset();
        std::tm tm{};
        localtime_r(&t, &tm);
        return tm;
    };
    return s;
}

PlayerController::PlayerController()
    : fader_(Fader::Mixer{
          .read = readVolume,
          .write =
              [](int level, const std::vector<int>& expected, std::optional<int>* seen) {
                  if (!PlayerController::current().form()) return false;
                  if (expected.empty()) return sysVolume().SetVolume(level, level) == 1;
                  return sysVolume().mixer().SetVolumeIf(expected, level, seen) == 1;
              },
          .pauseHeard = [] { return engine::PauseHeard(); },
          .rebind = [] { return PlayerController::current().form() && sysVolume().mixer().rebind(); },
      }) {
    theController = this;
}

PlayerController::~PlayerController() {
    if (theController == this) theController = nullptr;
}

PlayerController& PlayerController::current() { return *theController; }
bool PlayerController::exists() { return theController != nullptr; }

void PlayerController::setForm(ui::Form* form) {
    form_ = form;
    widgets_.reset();
    if (!form) return;
    widgets_ = std::make_unique<MainWidgets>(resolveMainWidgets(*form));
    // A volume a fade could not put back is written once the mixer is back.
    QObject::connect(&widgets_->sysVolume.mixer(), &volume::SysVolume::cameBack, &context_,
                     [this] { fader_.mixerBack(); });
}

void PlayerController::whenIdle(std::function<void()> command, CommandKind kind) {
    if (quitting_) return;
    if (!fader_.busy() && waiting_.empty()) {
        command();
        return;
    }
    // A second toggle undoes the first one still waiting.
    if (kind == CommandKind::Toggle && !waiting_.empty() && waiting_.back().kind == CommandKind::Toggle) {
        waiting_.pop_back();
        return;
    }
    if (waiting_.size() < kMostWaiting) waiting_.push_back({std::move(command), kind});
}

void PlayerController::drain() {
    // A command that starts a fade leaves the rest waiting for that one.
    while (!waiting_.empty() && !fader_.busy() && !quitting_) {
        Waiting next = std::move(waiting_.front());
        waiting_.pop_front();
        next.run();
    }
}

void PlayerController::pauseWithFade() {
    fader_.start(Fader::Kind::Pause, [] { engine::PausePlayback(); },
                 [this] {
                     ShowWindowCaption("暂停:", currentEntry());
                     drain();
                 });
}

void PlayerController::resumeWithFade() {
    fader_.start(Fader::Kind::Resume, [] { engine::ResumePlayback(); },
                 [this] {
                     ShowWindowCaption("播放:", currentEntry());
                     drain();
                 });
}

void PlayerController::endWithFade() {
    fader_.start(Fader::Kind::End, [] { StopPlayback(); }, [this] { drain(); });
}

std::function<void()> PlayerController::as(LogBy by, std::function<void()> run) {
    return [this, by, run = std::move(run)] {
        const LogBy before = asking_;
        asking_ = by;
        run();
        asking_ = before;
    };
}

void PlayerController::record(LogEvent event, LogBy by, std::string path, bool missed) {
    NoteTransport(event, by);
    if (log) log->record(LogEntry(event, by, std::move(path), missed));
}

void PlayerController::record(LogEvent event, LogBy by, std::string path, std::string message) {
    if (!log) return;
    LogEntry entry(event, by, std::move(path));
    entry.message = std::move(message);
    log->record(std::move(entry));
}

void PlayerController::togglePlayPause(LogBy by) { whenIdle(as(by, [] { PlayPauseToggle(); }), CommandKind::Toggle); }
void PlayerController::next(LogBy by) {
    whenIdle(as(by, [this, by] {
        record(LogEvent::Next, by);
        PlayNext();
    }));
}
void PlayerController::previous(LogBy by) {
    whenIdle(as(by, [this, by] {
        record(LogEvent::Previous, by);
        PlayPrevious();
    }));
}
void PlayerController::stop(LogBy by) {
    whenIdle(as(by, [this, by] {
        record(LogEvent::Stop, by);
        StopPlayback();
    }));
}
void PlayerController::seek(int percent) { whenIdle([percent] { SeekTo(percent); }); }
void PlayerController::playRow(int row, LogBy by) { whenIdle(as(by, [row] { PlayRow(row); })); }
void PlayerController::addByDialog() { whenIdle([] { AddFilesByDialog(); }); }
void PlayerController::removeSelected() { whenIdle([] { RemoveSelectedEntry(); }); }
void PlayerController::resetPlaylist() { whenIdle([] { ResetPlaylistAsked(); }); }
void PlayerController::append(const std::vector<std::string>& paths) { AppendTracks(paths); }
void PlayerController::switchSchedule() { SwitchSchedule(); }
void PlayerController::trackEnded() { TrackEnded(); }

void PlayerController::moveOnSoon() {
    QTimer::singleShot(0, &context_, [this, play = playsStarted] {
        if (play == playsStarted && !state.playRemoved && !quitting_) TrackEnded();
    });
}

void PlayerController::setPeriod(int index, const SchedulePeriod& period) {
    if (index < 0 || index >= ScheduleModel::kPeriods) return;
    schedule.periods[static_cast<std::size_t>(index)] = period;
    ShowPeriod(index);
    sessionChanged();
}

std::vector<std::string> PlayerController::openFileDialog(const desktop::OpenFileDialogArgs& args) {
    if (quitting_) return {};
    if (headless) {
        reportLine("the playlist is empty, and there is no window to choose files in");
        return {};
    }
    ++dialogsOpen_;
    std::vector<std::string> chosen = services.openFileDialog(args);
    --dialogsOpen_;
    if (quitting_) {
        finishQuitSoon();
        return {};
    }
    return chosen;
}

int PlayerController::messageBox(const std::string& text, std::int64_t flags, const std::string& caption) {
    if (quitting_ || headless) return desktop::kResultCancel;
    ++dialogsOpen_;
    const int answer = services.messageBox(text, flags, caption);
    --dialogsOpen_;
    if (quitting_) {
        finishQuitSoon();
        return desktop::kResultCancel;
    }
    return answer;
}

void PlayerController::requestQuit(LogBy by) {
    if (quitting_) return;
    quitting_ = true;
    quitBy_ = by;
    waiting_.clear();
    // The volume goes back at once, whatever step a fade was at.
    fader_.cut();
    // Open dialogs give up (as if cancelled); the window closes once the code that opened them
    // has gone on.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->reject();
    finishQuitSoon();
}

// Posted, so that the code that asked (or opened the dialog) has returned by then.
void PlayerController::finishQuitSoon() {
    QTimer::singleShot(0, &context_, [this] { finishQuit(); });
}

void PlayerController::finishQuit() {
    if (!quitting_ || finished_ || dialogsOpen_ > 0) return;
    finished_ = true;
    engine::StopPlaying();
    // The log's last line, on the disk before the program ends.
    record(LogEvent::Quit, quitBy_);
    if (log) log->flush();
    // The shut-down routine, raised as the window goes, releases the hot keys.
    if (form_ && form_->isLoaded()) form_->close();
    if (services.endProgram)
        services.endProgram();
    else
        QCoreApplication::exit(0);
}

}  // namespace vesperon::app
