// The transport: play, pause and resume with fades, stop, next, previous, the chosen row, the
// seek slider, and the label's feedback (progress, end of file, hot keys). Commands from the
// buttons, keys, hot keys and list box wait while a fade runs (see FadeScope).

#include <cstdio>

#include "app/logic.h"
#include "app/notice.h"
#include "app/routines.h"
#include "engine/player/commands.h"
#include "ui/list_box.h"
#include "ui/window_widget.h"
#include "volume/sys_volume_widget.h"

namespace vesperon::app {

namespace {

// The round of failures: tracks that ended in a row without a single progress report (they
// could not be opened or decoded). A whole playlist of them stops instead of cycling for ever.
int failedInARow = 0;
bool heardProgress = false;

const std::string& currentEntry() {
    static const std::string none;
    const PlayerState& s = state();
    if (s.currentTrack < 1 || s.currentTrack > static_cast<int>(s.playlist.size())) return none;
    return s.playlist[static_cast<std::size_t>(s.currentTrack - 1)];
}

void startCurrent(int percent) {
    heardProgress = false;
    engine::PlayMp3File(currentEntry(), percent, widgets().feedbackLabel.handle());
}

void selectCurrentRow() { playlistBox().setSelectedIndex(state().currentTrack - 1); }

void trackEnded() {
    if (heardProgress) {
        failedInARow = 0;
    } else if (++failedInARow >= static_cast<int>(state().playlist.size())) {
        std::fprintf(stderr, "vesperon: stopped: none of the %zu tracks of the playlist could be played\n",
                     state().playlist.size());
        StopPlayback();
        return;
    }
    PlayNext();
}

}  // namespace

void resetTransport() {
    failedInARow = 0;
    heardProgress = false;
}

void PlayNext() {
    if (rowCount() == 0) {
        AddFilesByDialog();
        return;
    }
    RebuildPlaylistView();
    ChooseNextTrack();
    startCurrent(0);
    ShowWindowCaption("播放:", currentEntry());
    selectCurrentRow();
    setButtonCaption(widgets().playButton, "暂停");
}

void PlayPrevious() {
    if (rowCount() == 0) {
        AddFilesByDialog();
        return;
    }
    RebuildPlaylistView();
    PlayerState& s = state();
    s.currentTrack -= 1;
    if (s.currentTrack <= 0) s.currentTrack = static_cast<int>(s.playlist.size());
    startCurrent(0);
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
    PlayerState& s = state();
    // Commands that come in during the fade wait until the toggle is complete.
    FadeScope fading;
    switch (engine::QueryPlayState()) {
        case 1:
            setButtonCaption(widgets().playButton, "继续");
            FadeOut();
            engine::PausePlayback();
            WaitUntilPauseHeard();
            sysVolume().SetVolume(s.savedVolume, s.savedVolume);
            ShowWindowCaption("暂停:", currentEntry());
            break;
        case -1:
            setButtonCaption(widgets().playButton, "暂停");
            sysVolume().SetVolume(0, 0);
            engine::ResumePlayback();
            FadeIn();
            ShowWindowCaption("播放:", currentEntry());
            break;
        default:
            startCurrent(sliderPosition());
            setButtonCaption(widgets().playButton, "暂停");
            ShowWindowCaption("播放:", currentEntry());
            break;
    }
    selectCurrentRow();
}

void StopPlayback() {
    failedInARow = 0;
    engine::StopPlaying();
    setSliderPosition(0);
    setButtonCaption(widgets().playButton, "播放");
    if (state().playlist.empty())
        mainForm().window().setProperty(ui::kWindowCaption, std::string("Vesperon"));
    else
        ShowWindowCaption("停止:", currentEntry());
}

void PlaySelected() { PlayRow(playlistBox().selectedIndex()); }

void PlayRow(int selected) {
    // With no row chosen there is nothing to play.
    if (selected < 0 || selected >= static_cast<int>(state().playlist.size())) return;
    state().currentTrack = selected + 1;
    startCurrent(0);
    setButtonCaption(widgets().playButton, "暂停");
    ShowWindowCaption("播放:", currentEntry());
}

void SeekToSlider() { SeekTo(sliderPosition()); }

void SeekTo(int position) {
    if (rowCount() == 0) return;
    if (engine::QueryPlayState() == -1) return;
    if (engine::QueryPlayState() == 0) return;
    startCurrent(position);
}

void ScheduleStart() {
    whenIdle([] {
        // A new period tries the playlist again, whatever failed before.
        failedInARow = 0;
        PlayNext();
    });
}

void ScheduleEnd() {
    whenIdle([] {
        FadeScope fading;
        FadeOut();
        StopPlayback();
        sysVolume().SetVolume(state().savedVolume, state().savedVolume);
    });
}

void dispatchNotice(const Notice& notice) {
    switch (notice.kind) {
        case Notice::Kind::Progress:
            setSliderPosition(notice.percent);
            heardProgress = true;
            break;
        // The end of a track moves on at once, also during a fade (the fade then pauses or stops
        // the next track); the hot keys are the user's commands and wait for it.
        case Notice::Kind::TrackEnded:
            trackEnded();
            break;
        case Notice::Kind::HotKey:
            if (notice.key == Notice::Key::Pause)
                whenIdle([] { PlayPauseToggle(); }, CommandKind::Toggle);
            else
                whenIdle([] { PlayNext(); });
            break;
        case Notice::Kind::Unknown:
            break;
    }
}

RoutineResult PlayPauseToggle(const ui::EventCall&) {
    whenIdle([] { PlayPauseToggle(); }, CommandKind::Toggle);
    return std::nullopt;
}
RoutineResult PlayNext(const ui::EventCall&) {
    whenIdle([] { PlayNext(); });
    return std::nullopt;
}
RoutineResult PlayPrevious(const ui::EventCall&) {
    whenIdle([] { PlayPrevious(); });
    return std::nullopt;
}
RoutineResult StopPlayback(const ui::EventCall&) {
    whenIdle([] { StopPlayback(); });
    return std::nullopt;
}
RoutineResult SeekToSlider(const ui::EventCall&) {
    // Where the user let the slider go; progress reports move it on meanwhile.
    whenIdle([position = sliderPosition()] { SeekTo(position); });
    return std::nullopt;
}
RoutineResult PlaySelected(const ui::EventCall&) {
    whenIdle([row = playlistBox().selectedIndex()] { PlayRow(row); });
    return std::nullopt;
}
RoutineResult FeedbackDispatch(const ui::EventCall& call) {
    std::int64_t v = 0;
    if (!call.args.empty())
        std::visit(
            [&](auto&& a) {
                if constexpr (!std::is_same_v<std::decay_t<decltype(a)>, std::string>) v = static_cast<std::int64_t>(a);
            },
            call.args[0]);
    // The one place the label's number is read: from here on the logic sees a typed notice.
    dispatchNotice(decodeNotice(v, state().hotkeyIds));
    return std::nullopt;
}

}  // namespace vesperon::app
