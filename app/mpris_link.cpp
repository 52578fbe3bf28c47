#include "app/mpris_link.h"

#include <QDBusConnection>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>
#include <cmath>
#include <sys/stat.h>

#include "app/logic.h"
#include "app/report.h"
#include "app/playlist_text.h"
#include "desktop/mpris.h"
#include "desktop/single_instance.h"
#include "engine/mpeg/duration.h"
#include "engine/player/commands.h"
#include "ui/check_box.h"
#include "volume/sys_volume_widget.h"

namespace vesperon::app {

namespace {

bool windowReady() { return hasMainForm() && mainForm().isLoaded() && !quitRequested(); }

void raiseWindow() {
    if (!windowReady()) return;
    QWidget* w = mainForm().windowWidget();
    if (!w) return;
    w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->show();
    w->raise();
    w->activateWindow();
}

std::vector<std::string> acceptable(const std::vector<std::string>& files, bool report) {
    std::vector<std::string> out;
    for (const std::string& path : files) {
        if (const Done taken = AcceptableTrack(path))
            out.push_back(path);
        else if (report)
            reportLine("skipped " + path + ": " + taken.error);
    }
    return out;
}

// Posted to the event loop, dropped if the window has gone (or a quit began) by then.
void later(std::function<void()> operation) {
    QTimer::singleShot(0, [operation = std::move(operation)] {
        if (windowReady()) operation();
    });
}

// The player logic behind MPRIS.
class LogicPlayer : public desktop::MediaPlayer {
public:
    desktop::MediaState state() override {
        desktop::MediaState s;
        if (!windowReady()) return s;
        const PlayerState& p = app::state();
        switch (engine::QueryPlayState()) {
            case 1:
                s.status = desktop::PlaybackStatus::Playing;
                break;
            case -1:
                s.status = desktop::PlaybackStatus::Paused;
                break;
            default:
                break;
        }
        s.trackCount = static_cast<int>(p.playlist.size());
        // The track heard: one started at the end of the one before shows once it sounds.
        const bool endHeard = p.shownTrack >= 1 && p.shownTrack <= s.trackCount;
        const int track = endHeard ? p.shownTrack : p.currentTrack;
        if (track >= 1 && track <= s.trackCount) {
            s.trackNumber = track;
            s.path = p.playlist[static_cast<std::size_t>(track - 1)];
            s.title = FileNameOf(s.path);
            if (s.path != lengthOf_) {
                lengthOf_ = s.path;
                lengthUs_ = mpeg::EstimateDurationMicroseconds(s.path);
            }
            s.lengthUs = lengthUs_;
            s.positionUs = endHeard ? std::max<std::int64_t>(lengthUs_, 0) : heardMicroseconds(p);
        }
        s.shuffle = p.randomOrder == 1;
        s.loopTrack = p.loopTrack == 1;
        int v = 0;
        sysVolume().GetVolume(v, v);
        const int max = sysVolume().GetMaxVolume();
        if (max > 0) s.volume = std::clamp(static_cast<double>(v) / max, 0.0, 1.0);
        return s;
    }
    void raise() override { raiseWindow(); }
    // After the reply has gone out: the same clean quit as closing the window.
    void quit() override {
        QTimer::singleShot(0, [] {
            if (PlayerController::exists()) RequestQuit(LogBy::Mpris);
        });
    }
    // Each runs once the reply has gone out: neither a fade nor a dialog (play with an empty
    // list asks for files) holds the caller.
    void playPause() override {
        later([] { controller().togglePlayPause(LogBy::Mpris); });
    }
    void stop() override {
        later([] { controller().stop(LogBy::Mpris); });
    }
    void next() override {
        later([] { controller().next(LogBy::Mpris); });
    }
    void previous() override {
        later([] { controller().previous(LogBy::Mpris); });
    }
    void restartAt(std::int64_t positionUs) override {
        later([this, positionUs] {
            controller().whenIdle([this, positionUs] {
                const int percent =
                    lengthUs_ > 0
                        ? static_cast<int>(std::clamp<std::int64_t>(positionUs * 100 / lengthUs_, 0, 99))
                        : 0;
                setSliderPosition(percent);
                SeekTo(percent, positionUs);
            });
        });
    }
    void setVolume(double volume) override {
        if (!windowReady()) return;
        const int max = sysVolume().GetMaxVolume();
        if (max <= 0) return;
        SetUserVolume(static_cast<int>(std::lround(volume * max)));
        SyncVolumeWidgets();
    }
    bool openFile(const std::string& path) override {
        if (!windowReady() || !AcceptableTrack(path)) return false;
        later([path] {
            controller().append({path});
            controller().playRow(rowCount() - 1, LogBy::Mpris);
        });
        return true;
    }

    // As a click on the switch: it flips, and its routine clears the other one and saves.
    void setShuffle(bool on) override {
        later([on] { clickSwitch(widgets().randomOrderBox, on); });
    }
    void setLoopTrack(bool on) override {
        later([on] { clickSwitch(widgets().loopTrackBox, on); });
    }

private:
    // Where the sound heard stands; before the play's format is known, where it was started.
    std::int64_t heardMicroseconds(const PlayerState& p) const {
        const engine::HeardPosition heard = engine::CurrentHeardPosition();
        std::int64_t us = heard.sampleRate > 0      ? heard.microseconds()
                          : p.startMicroseconds > 0 ? p.startMicroseconds
                                                    : (lengthUs_ > 0 ? lengthUs_ / 100 * p.startPercent : 0);
        // The length is an estimate from the file; the position never passes it.
        if (lengthUs_ > 0) us = std::min(us, lengthUs_);
        return std::max<std::int64_t>(us, 0);
    }

    static void clickSwitch(ui::Widget& box, bool on) {
        if ((box.intProperty(ui::kCheckChecked) != 0) == on) return;
        box.setProperty(ui::kCheckChecked, on ? 1 : 0);
        box.raiseEvent(ui::kCheckClicked);
    }

    std::string lengthOf_;
    std::int64_t lengthUs_ = -1;
};

}  // namespace

Done AcceptableTrack(const std::string& path) {
    if (path.empty() || path[0] != '/') return Done::failed("not an absolute path");
    // The playlist's text form separates entries by line breaks.
    if (path.find_first_of("\r\n") != std::string::npos) return Done::failed("a line break in the name");
    if (!HasMp3Extension(path)) return Done::failed("not an .mp3 file");
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return Done::failed("no such file");
    if (!S_ISREG(st.st_mode)) return Done::failed("not a regular file");
    return {};
}

OutsideControl::OutsideControl() = default;
OutsideControl::~OutsideControl() {
    if (mpris_ && PlayerController::exists()) controller().announceSeek = nullptr;
}

OutsideControl::HandOver OutsideControl::handOver(const CommandLine& line) {
    tracks_ = acceptable(line.files, true);
    QString sessionKey;
    if (!line.sessionFile.empty()) {
        const QFileInfo info(QFile::decodeName(QByteArray::fromStdString(line.sessionFile)));
        sessionKey = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    }
    const auto outcome =
        desktop::InstanceChannel::claim(QDBusConnection::sessionBus(), sessionKey, tracks_, &channel_);
    haveBus_ = outcome != desktop::InstanceChannel::Outcome::NoBus;
    switch (outcome) {
        case desktop::InstanceChannel::Outcome::HandedOver:
            return HandOver::Done;
        case desktop::InstanceChannel::Outcome::Alone:
            return HandOver::OwnerSilent;
        default:
            return HandOver::RunOn;
    }
}

void OutsideControl::start() {
    if (!windowReady()) return;
    if (!tracks_.empty()) controller().append(tracks_);
    tracks_.clear();
    if (channel_)
        channel_->setReceiver([](const desktop::InstanceChannel::Files& files) {
            if (!windowReady()) return;
            const auto tracks = acceptable(files, false);
            if (!tracks.empty()) controller().append(tracks);
            raiseWindow();
        });
    if (!haveBus_) return;
    player_ = std::make_unique<LogicPlayer>();
    mpris_ = desktop::MprisService::start(QDBusConnection::sessionBus(), *player_);
    if (mpris_) controller().announceSeek = [service = mpris_.get()] { service->announceSeek(); };
}

}  // namespace vesperon::app
