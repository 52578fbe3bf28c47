// The playlist: rows, adding by dialog or drop, removal, reset, the order switches and the
// choice of the next and previous track.

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <sys/stat.h>

#include "app/logic.h"
#include "app/playlist_text.h"
#include "app/routines.h"
#include "app/session.h"
#include "desktop/message_box.h"
#include "engine/player/commands.h"
#include "ui/check_box.h"
#include "ui/list_box.h"

namespace vesperon::app {

namespace {

constexpr int kDeleteKey = 0x2E, kSpaceKey = 0x20, kEnterKey = 0x0D;

bool isChecked(ui::Widget& box) { return box.intProperty(ui::kCheckChecked) != 0; }

}  // namespace

void RebuildPlaylistView() {
    ui::ListBox& list = playlistBox();
    list.clear();
    const auto& playlist = state().playlist;
    for (std::size_t i = 0; i < playlist.size(); ++i)
        list.addItem(TrackLabel(static_cast<int>(i + 1), playlist[i]));
}

void AddFilesByDialog() {
    desktop::OpenFileDialogArgs args;
    args.title = "请选择要加入播放列表的MP3文件";
    args.filter = "mp3文件(*.mp3)|*.mp3";
    args.initialDirectory = DialogStartFolder(state().dialogFolder);
    args.keepDirectory = true;
    std::vector<std::string> chosen = controller().openFileDialog(args);
    if (!chosen.empty()) {
        const std::string& first = chosen.front();
        const auto slash = first.rfind('/');
        if (slash != std::string::npos) state().dialogFolder = slash == 0 ? "/" : first.substr(0, slash);
    }
    auto& playlist = state().playlist;
    const int before = static_cast<int>(playlist.size());
    for (std::size_t k = 0; k < chosen.size(); ++k)
        playlistBox().addItem(TrackLabel(before + static_cast<int>(k) + 1, chosen[k]));
    playlist.insert(playlist.end(), chosen.begin(), chosen.end());
    sessionChanged();
}

std::string DialogStartFolder(const std::string& lastUsed) {
    const auto isFolder = [](const std::string& path) {
        struct stat st {};
        return !path.empty() && path[0] == '/' && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    };
    if (isFolder(lastUsed)) return lastUsed;
    // Unset in user-dirs.dirs, Qt names $HOME/Music, which may not be there.
    const std::string music =
        QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::MusicLocation)).toStdString();
    if (isFolder(music)) return music;
    return QFile::encodeName(QDir::homePath()).toStdString();
}

void ChooseNextTrack() {
    PlayerState& s = state();
    const int count = static_cast<int>(s.playlist.size());
    if (count == 0) return;
    if (s.randomOrder == 1) {
        s.currentTrack = 1 + controller().random.next() % count;
    } else if (s.loopTrack == 1) {
        // the same track again
    } else {
        s.currentTrack = s.currentTrack + 1 > count ? 1 : s.currentTrack + 1;
    }
}

void RemoveSelectedEntry() {
    PlayerState& s = state();
    const int index = playlistBox().selectedIndex();
    if (index < 0 || index >= static_cast<int>(s.playlist.size())) return;
    const int k = index + 1;
    s.playlist.erase(s.playlist.begin() + index);
    const int c = static_cast<int>(s.playlist.size());
    if (c == 0) {
        StopPlayback();
        AddFilesByDialog();
        RebuildPlaylistView();
        return;
    }
    if (k < s.currentTrack) {
        s.currentTrack -= 1;
        RebuildPlaylistView();
    } else if (k == s.currentTrack) {
        const bool playing = engine::QueryPlayState() == 1;
        if (c == s.currentTrack - 1) s.currentTrack = c;
        StopPlayback();
        RebuildPlaylistView();
        if (playing) PlayPauseToggle();
    } else {
        RebuildPlaylistView();
    }
    playlistBox().setSelectedIndex(k - 1);
    sessionChanged();
}

RoutineResult AddFilesByDialog(const ui::EventCall&) {
    controller().addByDialog();
    return std::nullopt;
}

void AppendTracks(const std::vector<std::string>& paths) {
    auto& playlist = state().playlist;
    playlist.insert(playlist.end(), paths.begin(), paths.end());
    RebuildPlaylistView();
    playlistBox().setSelectedIndex(static_cast<int>(playlist.size()) - 1);
    sessionChanged();
}

RoutineResult FilesDropped(const ui::EventCall& call) {
    std::vector<std::string> tracks;
    for (std::string& part : SplitDroppedText(textArg(call, 0)))
        if (HasMp3Extension(part)) tracks.push_back(std::move(part));
    AppendTracks(tracks);
    return std::nullopt;
}

RoutineResult RemoveSelected(const ui::EventCall&) {
    controller().removeSelected();
    return std::nullopt;
}

void ResetPlaylistAsked() {
    if (rowCount() > 0) {
        const int answer = controller().messageBox("真的要重置播放列表吗?\r\n这将清空现有播放列表!",
                                                   desktop::kMbOkCancel | desktop::kMbIconQuestion, "重置播放列表");
        // A quit closed the question: nothing was decided.
        if (answer == desktop::kResultCancel || quitRequested()) return;
    }
    engine::StopPlaying();
    state().playRemoved = true;
    playlistBox().clear();
    setButtonCaption(widgets().playButton, "播放");
    setSliderPosition(0);
    state().currentTrack = 1;
    state().playlist.clear();
    AddFilesByDialog();
}

RoutineResult ResetPlaylist(const ui::EventCall&) {
    controller().resetPlaylist();
    return std::nullopt;
}

RoutineResult PlaylistMouseDown(const ui::EventCall&) {
    if (rowCount() == 0) controller().addByDialog();
    return std::nullopt;
}

RoutineResult PlaylistKeyDown(const ui::EventCall& call) {
    switch (intArg(call, 0)) {
        case kDeleteKey:
            controller().removeSelected();
            break;
        case kSpaceKey:
            controller().togglePlayPause(LogBy::Window);
            break;
        case kEnterKey:
            controller().playRow(playlistBox().selectedIndex(), LogBy::Window);
            break;
        default:
            break;
    }
    return std::nullopt;
}

RoutineResult RandomOrderSwitch(const ui::EventCall&) {
    PlayerState& s = state();
    if (isChecked(widgets().loopTrackBox)) {
        widgets().loopTrackBox.setProperty(ui::kCheckChecked, 0);
        toggle(s.loopTrack);
    }
    toggle(s.randomOrder);
    sessionChanged();
    return std::nullopt;
}

RoutineResult LoopTrackSwitch(const ui::EventCall&) {
    PlayerState& s = state();
    if (isChecked(widgets().randomOrderBox)) {
        widgets().randomOrderBox.setProperty(ui::kCheckChecked, 0);
        toggle(s.randomOrder);
    }
    toggle(s.loopTrack);
    sessionChanged();
    return std::nullopt;
}

}  // namespace vesperon::app
