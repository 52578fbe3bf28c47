// The transport: play, pause and resume with fades, stop, next, previous, the chosen row, the
// seek slider, and the label's feedback (progress, end of file, hot keys). Commands from the
// buttons, keys, hot keys and list box go through the controller, which queues them behind a fade.

#include <string>

#include "app/logic.h"
#include "app/mpris_link.h"
#include "app/report.h"
#include "app/routines.h"
#include "engine/player/commands.h"
#include "ui/list_box.h"
#include "ui/window_widget.h"
#include "volume/sys_volume_widget.h"

namespace vesperon::app {

namespace {

// percent of the track, or atMicroseconds from its beginning when that is positive.
void startCurrent(int percent, std::int64_t atMicroseconds = 0) {
    PlayerController& c = controller();
    ++c.playsStarted;
    state().shownTrack = 0;
    state().startPercent = percent;
    state().startMicroseconds = atMicroseconds;
    state().playRemoved = false;
    engine::PlayMp3File(currentEntry(), percent, widgets().feedbackLabel.handle(), nullptr, atMicroseconds);
    // A file that does not open leaves the engine stopped: the list moves on from it as from a
    // track that ended, once the event loop comes round.
    if (engine::QueryPlayState() == 0) c.moveOnSoon();
}

// A track began (not a restart of the same one at the slider).
void startTrack(int percent) {
    controller().record(LogEvent::Track, controller().asking(), currentEntry());
    startCurrent(percent);
}

void selectCurrentRow() { playlistBox().setSelectedIndex(state().currentTrack - 1); }

void playNext(bool showNow) {
    if (rowCount() == 0) {
        AddFilesByDialog();
        return;
    }
    const int heard = state().currentTrack;
    RebuildPlaylistView();
    ChooseNextTrack();
    startTrack(0);
    setButtonCaption(widgets().playButton, "暂停");
    if (!showNow && heard >= 1 && heard <= rowCount()) {
        // The track before still sounds from the device's queue: it stays shown until this one is heard.
        state().shownTrack = heard;
        playlistBox().setSelectedIndex(heard - 1);
        return;
    }
    ShowWindowCaption("播放:", currentEntry());
    selectCurrentRow();
}

// The play's first sound is heard: the track started at the end of the one before is shown now.
void showHeardTrack() {
    if (state().shownTrack == 0 || !engine::CurrentHeardPosition().started) return;
    state().shownTrack = 0;
    ShowWindowCaption(engine::QueryPlayState() == -1 ? "暂停:" : "播放:", currentEntry());
    selectCurrentRow();
}

// Why a track played no sound, for the play log.
std::string failureText(engine::Status why) {
    using engine::Status;
    switch (why) {
        case Status::FileNotFound:
            return "no such file";
        case Status::AccessDenied:
            return "may not be read (or is a folder)";
        case Status::NotAFile:
            return "not a file (a pipe or a device)";
        case Status::TooManyFiles:
            return "too many open files";
        case Status::CannotOpen:
            return "cannot be opened";
        case Status::NoStreamFound:
        case Status::EndOfData:
            return "no MPEG audio in it";
        case Status::DeviceFailed:
            return "the sound device failed";
        case Status::Ok:
            return "ended before any sound";
        default:
            return engine::statusName(why);
    }
}

}  // namespace

void TrackEnded() {
    PlayerController& c = controller();
    // A track that played any sound was played, however short; one that played none failed, and
    // a whole playlist of those in a row stops instead of cycling.
    const engine::PlayEnd end = engine::CurrentPlayEnd();
    // The end of a play replaced meanwhile (a skip in its last moment): the one now playing goes on.
    if (end.why == engine::Status::Ok && engine::QueryPlayState() != 0) return;
    if (end.soundPlayed) {
        c.failedInARow = 0;
    } else {
        c.record(LogEvent::Failed, LogBy::None, currentEntry(), failureText(end.why));
        if (++c.failedInARow >= static_cast<int>(state().playlist.size())) {
            reportLine("stopped: none of the " + std::to_string(state().playlist.size()) +
                       " tracks of the playlist could be played");
            StopPlayback();
            return;
        }
    }
    // A track that sounded goes on sounding from the device's queue: the next is shown once heard.
    playNext(!end.soundPlayed);
}

void PlayNext() { playNext(true); }

void PlayPrevious() {
    if (rowCount() == 0) {
        AddFilesByDialog();
        return;
    }
    RebuildPlaylistView();
    PlayerState& s = state();
    s.currentTrack -= 1;
    if (s.currentTrack <= 0) s.currentTrack = static_cast<int>(s.playlist.size());
    startTrack(0);
    setButtonCaption(widgets().playButton, "暂停");
    ShowWindowCaption("播放:", currentEntry());
    selectCurrentRow();
}

void PlayPauseToggle() {
    if (rowCount() == 0) {
        AddFilesByDialog();
        return;
    }
    RebuildPlaylistView();
    // The fades run on after this returns; commands meanwhile wait for them (whenIdle).
    switch (engine::QueryPlayState()) {
        case 1:
            controller().record(LogEvent::Pause, controller().asking());
            setButtonCaption(widgets().playButton, "继续");
            controller().pauseWithFade();
            break;
        case -1:
            controller().record(LogEvent::Resume, controller().asking());
            setButtonCaption(widgets().playButton, "暂停");
            controller().resumeWithFade();
            break;
        default:
            startTrack(sliderPosition());
            setButtonCaption(widgets().playButton, "暂停");
            ShowWindowCaption("播放:", currentEntry());
            break;
    }
    selectCurrentRow();
}

void StopPlayback() {
    controller().failedInARow = 0;
    engine::StopPlaying();
    state().shownTrack = 0;
    state().startPercent = 0;
    state().playRemoved = true;
    setSliderPosition(0);
    setButtonCaption(widgets().playButton, "播放");
    if (state().playlist.empty())
        mainForm().window().setProperty(ui::kWindowCaption, std::string("Vesperon"));
    else
        ShowWindowCaption("停止:", currentEntry());
}

void PlayRow(int selected) {
    // With no row chosen there is nothing to play.
    if (selected < 0 || selected >= static_cast<int>(state().playlist.size())) return;
    state().currentTrack = selected + 1;
    startTrack(0);
    setButtonCaption(widgets().playButton, "暂停");
    ShowWindowCaption("播放:", currentEntry());
}

void SeekTo(int position, std::int64_t atMicroseconds) {
    if (rowCount() == 0) return;
    if (engine::QueryPlayState() == -1) return;
    if (engine::QueryPlayState() == 0) return;
    startCurrent(position, atMicroseconds);
    if (controller().announceSeek) controller().announceSeek();
}

void dispatchNotice(const Notice& notice) {
    const bool ofThePlay = notice.kind == Notice::Kind::Progress || notice.kind == Notice::Kind::TrackEnded;
    if (ofThePlay && state().playRemoved) return;
    switch (notice.kind) {
        case Notice::Kind::Progress:
            setSliderPosition(notice.percent);
            showHeardTrack();  // a play's first progress notice comes with its first sound heard
            break;
        // The end of a track moves on at once, also during a fade (the fade then pauses or stops
        // the next track); the hot keys are the user's commands and wait for it.
        case Notice::Kind::TrackEnded:
            controller().trackEnded();
            break;
        case Notice::Kind::HotKey:
            if (notice.key == Notice::Key::Pause)
                controller().togglePlayPause(LogBy::Hotkey);
            else
                controller().next(LogBy::Hotkey);
            break;
        case Notice::Kind::FirstSoundHeard:  // never on the label's message
        case Notice::Kind::Unknown:
            break;
    }
}

RoutineResult PlayPauseToggle(const ui::EventCall&) {
    controller().togglePlayPause(LogBy::Window);
    return std::nullopt;
}
RoutineResult PlayNext(const ui::EventCall&) {
    controller().next(LogBy::Window);
    return std::nullopt;
}
RoutineResult PlayPrevious(const ui::EventCall&) {
    controller().previous(LogBy::Window);
    return std::nullopt;
}
RoutineResult StopPlayback(const ui::EventCall&) {
    controller().stop(LogBy::Window);
    return std::nullopt;
}
RoutineResult SeekToSlider(const ui::EventCall&) {
    // Where the user let the slider go; progress reports move it on meanwhile.
    controller().seek(sliderPosition());
    return std::nullopt;
}
RoutineResult PlaySelected(const ui::EventCall&) {
    controller().playRow(playlistBox().selectedIndex(), LogBy::Window);
    return std::nullopt;
}
RoutineResult FeedbackDispatch(const ui::EventCall& call) {
    // The one place the label's number is read: from here on the logic sees a typed notice.
    dispatchNotice(decodeNotice(intArg(call, 0), state().hotkeyIds));
    return std::nullopt;
}

}  // namespace vesperon::app
