#pragma once
// MPRIS 2 on the session bus: the media keys of a desktop, its sound menu and `playerctl`
// reach the player through the two interfaces at /org/mpris/MediaPlayer2. The player behind
// them is an interface of plain calls, so the protocol's rules (when Play, Pause and Seek act,
// which track a position belongs to, which arguments are refused) are kept here in one place.

#include <QDBusConnection>
#include <QObject>
#include <QTimer>
#include <QVariantMap>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vesperon::desktop {

enum class PlaybackStatus { Stopped, Playing, Paused };

// What the player shows right now.
struct MediaState {
    PlaybackStatus status = PlaybackStatus::Stopped;
    int trackCount = 0;
    int trackNumber = 0;         // 1-based; 0 when there is no current track
    std::string path;            // of the current track
    std::string title;           // as the window title shows it (MPRIS prefers the tag's)
    std::int64_t lengthUs = -1;  // -1 when unknown
    std::int64_t positionUs = 0;
    double volume = 0;  // 0.0 - 1.0
    bool shuffle = false;    // 随机播放
    bool loopTrack = false;  // 单曲循环; otherwise the list repeats
};

// What MPRIS drives: each call is one of the window's own commands.
class MediaPlayer {
public:
    virtual ~MediaPlayer() = default;
    virtual MediaState state() = 0;
    virtual void raise() = 0;
    virtual void quit() = 0;
    virtual void playPause() = 0;
    virtual void stop() = 0;
    virtual void next() = 0;
    virtual void previous() = 0;
    // A restart of the current track at this percentage, as the position slider makes. The
    // player announces every seek it makes, whoever asked, with MprisService::announceSeek.
    virtual void restartAt(std::int64_t positionUs) = 0;
    virtual void setVolume(double volume) = 0;
    // Adds a local file and plays it; false when it is not a file the player takes.
    virtual bool openFile(const std::string& path) = 0;
    // The window's 随机播放 and 单曲循环 switches, set to this.
    virtual void setShuffle(bool /*on*/) {}
    virtual void setLoopTrack(bool /*on*/) {}
};

// What MPRIS shows of a track beyond its path: from the file's ID3 tag, with the cover written
// once to $XDG_CACHE_HOME/vesperon/ for mpris:artUrl.
struct TrackTags {
    std::string title;
    std::vector<std::string> artists;
    std::string album;
    std::string artUrl;  // file:// URL; empty without a front cover
};
TrackTags readTrackTags(const std::string& path);

class MprisService : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kBusName = "org.mpris.MediaPlayer2.vesperon";
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";

    // Serves the player on the connection under kBusName, or under kBusName + ".instance<pid>"
    // when another player holds that. Null when the bus is not there or refuses.
    static std::unique_ptr<MprisService> start(QDBusConnection bus, MediaPlayer& player);
    ~MprisService() override;

    const QString& busName() const { return busName_; }
    MediaPlayer& player() { return player_; }
    const MediaState& lastState() const { return last_; }

    // Reads the player's state and signals what changed since the last look. Called after
    // every method and a few times a second.
    void refresh();
    // After a jump of the position, once it is made: Seeked with the new position.
    void announceSeek();
    // The Metadata property of this state (the tags of its track read once).
    QVariantMap metadata(const MediaState& s);
    // Tells clients the property's value again, after a refused change.
    void announce(const QString& property, const QVariant& value);

private:
    MprisService(QDBusConnection bus, MediaPlayer& player);
    void sendChanged(const QVariantMap& changed);

    QDBusConnection bus_;
    MediaPlayer& player_;
    QString busName_;
    MediaState last_;
    QTimer poll_;
    std::string taggedPath_;
    TrackTags tags_;
};

// The track identifier MPRIS gives the track at this row (1-based), a D-Bus object path.
QString mprisTrackId(int trackNumber);

}  // namespace vesperon::desktop
