// The transport: play, pause and resume with fades, stop, next, previous, the chosen row, the
// seek slider, and the label's feedback (progress, end of file, hot keys).

#include "app/logic.h"
#include "app/routines.h"
#include "engine/player/commands.h"
#include "ui/list_box.h"
#include "ui/window_widget.h"
#include "volume/sys_volume_widget.h"

namespace vesperon::app {

namespace {

const std::string& currentEntry() {
    static const std::string none;
    const PlayerState& s = state();
    if (s.currentTrack < 1 || s.currentTrack > static_cast<int>(s.playlist.size())) return none;
    return s.playlist[static_cast<std::size_t>(s.currentTrack - 1)];
}

void startCurrent(int percent) {
    engine::PlayMp3File(currentEntry(), percent, widget("标签1").handle());
}

void selectCurrentRow() { playlistBox().setSelectedIndex(state().currentTrack - 1); }

}  // namespace

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
    setButtonCaption("按钮_播放", "暂停");
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
    setButtonCaption("按钮_播放", "暂停");
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
    switch (engine::QueryPlayState()) {
        case 1:
            setButtonCaption("按钮_播放", "继续");
            FadeOut();
            engine::PausePlayback();
            sysVolume().SetVolume(s.savedVolume, s.savedVolume);
            ShowWindowCaption("暂停:", currentEntry());
            break;
        case -1:
            setButtonCaption("按钮_播放", "暂停");
            sysVolume().SetVolume(0, 0);
            engine::ResumePlayback();
            FadeIn();
            ShowWindowCaption("播放:", currentEntry());
            break;
        default:
            startCurrent(sliderPosition());
            setButtonCaption("按钮_播放", "暂停");
            ShowWindowCaption("播放:", currentEntry());
            break;
    }
    selectCurrentRow();
}

void StopPlayback() {
    engine::StopPlaying();
    setSliderPosition(0);
    setButtonCaption("按钮_播放", "播放");
    if (state().playlist.empty())
        mainForm().window().setProperty(ui::kWindowCaption, std::string("Vesperon"));
    else
        ShowWindowCaption("停止:", currentEntry());
}

void PlaySelected() {
    const int selected = playlistBox().selectedIndex();
    // With no row chosen there is nothing to play.
    if (selected < 0 || selected >= static_cast<int>(state().playlist.size())) return;
    state().currentTrack = selected + 1;
    startCurrent(0);
    setButtonCaption("按钮_播放", "暂停");
    ShowWindowCaption("播放:", currentEntry());
}

void SeekToSlider() {
    if (rowCount() == 0) return;
    if (engine::QueryPlayState() == -1) return;
    if (engine::QueryPlayState() == 0) return;
    startCurrent(sliderPosition());
}

void FeedbackDispatch(std::int64_t value) {
    const PlayerState& s = state();
    if (value < 100) setSliderPosition(static_cast<int>(value));
    // An identifier of 0 is a key that did not register: progress 0 must not count as its press.
    if (value == 100)
        PlayNext();
    else if (s.hotkeyIds[0] != 0 && value == s.hotkeyIds[0])
        PlayPauseToggle();
    else if (s.hotkeyIds[1] != 0 && value == s.hotkeyIds[1])
        PlayNext();
}

RoutineResult PlayPauseToggle(const ui::EventCall&) {
    PlayPauseToggle();
    return std::nullopt;
}
RoutineResult PlayNext(const ui::EventCall&) {
    PlayNext();
    return std::nullopt;
}
RoutineResult PlayPrevious(const ui::EventCall&) {
    PlayPrevious();
    return std::nullopt;
}
RoutineResult StopPlayback(const ui::EventCall&) {
    StopPlayback();
    return std::nullopt;
}
RoutineResult SeekToSlider(const ui::EventCall&) {
    SeekToSlider();
    return std::nullopt;
}
RoutineResult PlaySelected(const ui::EventCall&) {
    PlaySelected();
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
    FeedbackDispatch(v);
    return std::nullopt;
}

}  // namespace vesperon::app
