// The transport: play, pause and resume with fades, stop, next, previous, the chosen row, the
// seek slider, and the label's feedback (progress, end of file, hot keys). Commands from the
// buttons, keys, hot keys and list box go through the controller, which queues them behind a fade.


#include "app/logic.h"
#include "app/report.h"
#include "app/mpris_link.h"
#include "app/routines.h"
#include "engine/player/commands.h"
#include "ui/list_box.h"
#include "ui/window_widget.h"
#include "volume/sys_volume_widget.h"

namespace vesperon::app {

namespace {

void startCurrent(int percent) {
    controller().heardProgress = false;
    state().shownTrack = 0;
    state().startPercent = percent;
    state().playRemoved = false;
    engine::PlayMp3File(currentEntry(), percent, widgets().feedbackLabel.handle());
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

}  // namespace

void TrackEnded() {
    PlayerController& c = controller();
    // The round of failures: a whole playlist that cannot be played stops instead of cycling.
    if (!c.heardProgress) c.record(LogEvent::Failed, LogBy::None, currentEntry());
    if (c.heardProgress) {
        c.failedInARow = 0;
    } else if (++c.failedInARow >= static_cast<int>(state().playlist.size())) {
        reportLine("stopped: none of the " + std::to_string(state().playlist.size()) +
                   " tracks of the playlist could be played");
        StopPlayback();
        return;
    }
    // Only a track that was heard goes on sounding from the device's queue.
    playNext(!engine::CurrentHeardPosition().started);
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

void SeekTo(int position) {
    if (rowCount() == 0) return;
    if (engine::QueryPlayState() == -1) return;
    if (engine::QueryPlayState() == 0) return;
    startCurrent(position);
    if (controller().announceSeek) controller().announceSeek();
}

void dispatchNotice(const Notice& notice) {
    const bool ofThePlay = notice.kind == Notice::Kind::Progress || notice.kind == Notice::Kind::TrackEnded ||
                           notice.kind == Notice::Kind::FirstSoundHeard;
    if (ofThePlay && state().playRemoved) return;
    switch (notice.kind) {
        case Notice::Kind::Progress:
            setSliderPosition(notice.percent);
            controller().heardProgress = true;
            showHeardTrack();  // in case the first-sound notice was lost
            break;
        case Notice::Kind::FirstSoundHeard:
            showHeardTrack();
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
