#include "desktop/mpris.h"

#include <QCryptographicHash>
#include <QDBusAbstractAdaptor>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <cmath>
#include <limits>
#include <unistd.h>

#include "desktop/program_info.h"
#include "engine/tags/id3.h"

namespace vesperon::desktop {

namespace {

constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
// How often the player's state is looked at for changes to announce: often while it plays (the
// next track's title), once a second otherwise, so that a stopped player wakes seldom.
constexpr int kPollMs = 200;
constexpr int kIdlePollMs = 1000;

QString statusText(PlaybackStatus s) {
    switch (s) {
        case PlaybackStatus::Playing:
            return QStringLiteral("Playing");
        case PlaybackStatus::Paused:
            return QStringLiteral("Paused");
        default:
            return QStringLiteral("Stopped");
    }
}

// A paused play does not move on a restart of the slider (the window ignores it too); a
// stopped one starts where the slider was put.
bool canSeek(const MediaState& s) {
    return s.trackCount > 0 && s.lengthUs > 0 && s.status != PlaybackStatus::Paused;
}

QString loopText(const MediaState& s) { return s.loopTrack ? QStringLiteral("Track") : QStringLiteral("Playlist"); }

// The picture's kind from its first bytes (the tag's MIME type is not trusted); empty when it is
// not one an image viewer takes.
QString pictureSuffix(const std::vector<std::uint8_t>& d) {
    auto starts = [&](std::initializer_list<std::uint8_t> magic) {
        return d.size() >= magic.size() && std::equal(magic.begin(), magic.end(), d.begin());
    };
    if (starts({0xFF, 0xD8, 0xFF})) return QStringLiteral("jpg");
    if (starts({0x89, 'P', 'N', 'G'})) return QStringLiteral("png");
    if (starts({'G', 'I', 'F', '8'})) return QStringLiteral("gif");
    if (starts({'R', 'I', 'F', 'F'}) && d.size() >= 12 && std::equal(d.begin() + 8, d.begin() + 12, "WEBP"))
        return QStringLiteral("webp");
    return {};
}

// The cover as a file named by its content, so each picture is written once however many
// tracks carry it.
QString coverUrl(const std::vector<std::uint8_t>& picture) {
    const QString suffix = pictureSuffix(picture);
    if (suffix.isEmpty()) return {};
    const QByteArray bytes(reinterpret_cast<const char*>(picture.data()), static_cast<qsizetype>(picture.size()));
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/vesperon";
    const QString path = QStringLiteral("%1/cover-%2.%3")
                             .arg(dir, QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)
                                                               .toHex()
                                                               .left(32)),
                                  suffix);
    if (!QFileInfo::exists(path)) {
        QSaveFile file(path);
        if (!QDir().mkpath(dir) || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
            !file.commit())
            return {};
    }
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

}  // namespace

TrackTags readTrackTags(const std::string& path) {
    tags::Tags t = tags::readTags(path);
    return {std::move(t.title), std::move(t.artists), std::move(t.album), coverUrl(t.cover.data).toStdString()};
}

QString mprisTrackId(int trackNumber) { return QStringLiteral("/org/vesperon/Track/%1").arg(trackNumber); }

// org.mpris.MediaPlayer2: who the player is.
class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)
public:
    explicit MprisRootAdaptor(MprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}
    bool yes() const { return true; }
    bool no() const { return false; }
    QString identity() const { return QStringLiteral("Vesperon"); }
    QString desktopEntry() const { return QString::fromLatin1(applicationId()); }
    QStringList uriSchemes() const { return {QStringLiteral("file")}; }
    QStringList mimeTypes() const { return {QStringLiteral("audio/mpeg")}; }

public slots:
    void Raise() { service_->player().raise(); }
    void Quit() { service_->player().quit(); }

private:
    MprisService* service_;
};

// org.mpris.MediaPlayer2.Player: the transport, the current track and the volume.
class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ haveTracks)
    Q_PROPERTY(bool CanGoPrevious READ haveTracks)
    Q_PROPERTY(bool CanPlay READ haveTracks)
    Q_PROPERTY(bool CanPause READ haveTracks)
    Q_PROPERTY(bool CanSeek READ seekable)
    Q_PROPERTY(bool CanControl READ controllable)
    Q_PROPERTY(bool Shuffle READ shuffle WRITE setShuffle)
    Q_PROPERTY(QString LoopStatus READ loopStatus WRITE setLoopStatus)
public:
    explicit MprisPlayerAdaptor(MprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}

    QString playbackStatus() const { return statusText(now().status); }
    double rate() const { return 1.0; }
    // One speed only; a rate of 0 is a pause, as the protocol has it.
    void setRate(double r) {
        if (r == 0 && now().status == PlaybackStatus::Playing) player().playPause();
        service_->refresh();
    }
    QVariantMap metadata() const { return service_->metadata(now()); }
    double volume() const { return now().volume; }
    void setVolume(double v) {
        if (std::isnan(v)) return;
        player().setVolume(std::clamp(v, 0.0, 1.0));
        service_->refresh();
    }
    qlonglong position() const { return now().positionUs; }
    bool haveTracks() const { return now().trackCount > 0; }
    bool seekable() const { return canSeek(now()); }
    bool controllable() const { return true; }
    bool shuffle() const { return now().shuffle; }
    void setShuffle(bool on) {
        if (on != now().shuffle) player().setShuffle(on);
        service_->refresh();
    }
    QString loopStatus() const { return loopText(now()); }
    // The list always repeats: "None" is not offered, and is answered with what stays.
    void setLoopStatus(const QString& status) {
        const bool track = status == QLatin1String("Track");
        if (track || status == QLatin1String("Playlist")) {
            if (track != now().loopTrack) player().setLoopTrack(track);
            service_->refresh();
        } else {
            service_->announce(QStringLiteral("LoopStatus"), loopText(now()));
        }
    }

public slots:
    void PlayPause() {
        if (now().trackCount > 0) player().playPause();
        service_->refresh();
    }
    void Play() {
        const MediaState s = now();
        if (s.trackCount > 0 && s.status != PlaybackStatus::Playing) player().playPause();
        service_->refresh();
    }
    void Pause() {
        if (now().status == PlaybackStatus::Playing) player().playPause();
        service_->refresh();
    }
    void Stop() {
        player().stop();
        service_->refresh();
    }
    // With an empty list the window's buttons open the file dialog; a remote call must not.
    void Next() {
        if (now().trackCount > 0) player().next();
        service_->refresh();
    }
    void Previous() {
        if (now().trackCount > 0) player().previous();
        service_->refresh();
    }
    void Seek(qlonglong offset) {
        const MediaState s = now();
        if (!canSeek(s)) return;
        qlonglong target = 0;
        if (__builtin_add_overflow(s.positionUs, offset, &target))
            target = offset < 0 ? 0 : std::numeric_limits<qlonglong>::max();
        if (target > s.lengthUs) {
            player().next();  // past the end: on to the next track
        } else {
            player().restartAt(std::max<qlonglong>(target, 0));
        }
        service_->refresh();
    }
    void SetPosition(const QDBusObjectPath& track, qlonglong position) {
        const MediaState s = now();
        // A position for another track than the current one, or outside it, is ignored.
        if (!canSeek(s) || track.path() != mprisTrackId(s.trackNumber)) return;
        if (position < 0 || position > s.lengthUs) return;
        player().restartAt(position);
        service_->refresh();
    }
    void OpenUri(const QString& uri) {
        QUrl url(uri, QUrl::StrictMode);
        if (!url.isValid() || !url.isLocalFile()) return;
        if (!url.host().isEmpty() && url.host() != QLatin1String("localhost")) return;
        url.setHost(QString());  // file://localhost/x is /x, not //localhost/x
        // The path's bytes as the url encodes them, not through UTF-8: a legacy name stays its file.
        const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (!path.startsWith('/')) return;
        player().openFile(path.toStdString());
        service_->refresh();
    }

signals:
    void Seeked(qlonglong Position);

private:
    MediaPlayer& player() const { return service_->player(); }
    MediaState now() const { return service_->player().state(); }
    MprisService* service_;
};

MprisService::MprisService(QDBusConnection bus, MediaPlayer& player) : bus_(std::move(bus)), player_(player) {
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
}

std::unique_ptr<MprisService> MprisService::start(QDBusConnection bus, MediaPlayer& player) {
    if (!bus.isConnected()) return nullptr;
    std::unique_ptr<MprisService> service(new MprisService(bus, player));
    if (!bus.registerObject(kObjectPath, service.get(), QDBusConnection::ExportAdaptors)) return nullptr;
    // Another player (a second session's) may hold the name: the protocol's per-instance name.
    const QString names[2] = {QString::fromLatin1(kBusName),
                              QStringLiteral("%1.instance%2").arg(QLatin1String(kBusName)).arg(getpid())};
    for (const QString& name : names) {
        if (bus.registerService(name)) {
            service->busName_ = name;
            break;
        }
    }
    if (service->busName_.isEmpty()) {
        bus.unregisterObject(kObjectPath);
        return nullptr;
    }
    service->last_ = player.state();
    service->poll_.setInterval(service->last_.status == PlaybackStatus::Playing ? kPollMs : kIdlePollMs);
    QObject::connect(&service->poll_, &QTimer::timeout, service.get(), &MprisService::refresh);
    service->poll_.start();
    return service;
}

MprisService::~MprisService() {
    bus_.unregisterService(busName_);
    bus_.unregisterObject(kObjectPath);
}

void MprisService::refresh() {
    const MediaState s = player_.state();
    const MediaState& o = last_;
    QVariantMap changed;
    if (s.status != o.status) changed.insert(QStringLiteral("PlaybackStatus"), statusText(s.status));
    if (s.trackNumber != o.trackNumber || s.path != o.path || s.title != o.title || s.lengthUs != o.lengthUs)
        changed.insert(QStringLiteral("Metadata"), metadata(s));
    if (s.shuffle != o.shuffle) changed.insert(QStringLiteral("Shuffle"), s.shuffle);
    if (s.loopTrack != o.loopTrack) changed.insert(QStringLiteral("LoopStatus"), loopText(s));
    if (s.volume != o.volume) changed.insert(QStringLiteral("Volume"), s.volume);
    if ((s.trackCount > 0) != (o.trackCount > 0))
        for (const char* name : {"CanGoNext", "CanGoPrevious", "CanPlay", "CanPause"})
            changed.insert(QLatin1String(name), s.trackCount > 0);
    if (canSeek(s) != canSeek(o)) changed.insert(QStringLiteral("CanSeek"), canSeek(s));
    if (s.status != o.status) poll_.setInterval(s.status == PlaybackStatus::Playing ? kPollMs : kIdlePollMs);
    last_ = s;
    if (changed.isEmpty()) return;
    sendChanged(changed);
}

void MprisService::announce(const QString& property, const QVariant& value) { sendChanged({{property, value}}); }

void MprisService::sendChanged(const QVariantMap& changed) {
    QDBusMessage signal = QDBusMessage::createSignal(QLatin1String(kObjectPath),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
    bus_.send(signal);
}

QVariantMap MprisService::metadata(const MediaState& s) {
    QVariantMap m;
    if (s.trackNumber <= 0 || s.path.empty()) {
        m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(kNoTrack)));
        return m;
    }
    if (s.path != taggedPath_) {
        tags_ = readTrackTags(s.path);
        taggedPath_ = s.path;
    }
    m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(mprisTrackId(s.trackNumber))));
    m.insert(QStringLiteral("xesam:title"), QString::fromStdString(tags_.title.empty() ? s.title : tags_.title));
    if (!tags_.artists.empty()) {
        QStringList artists;
        for (const std::string& a : tags_.artists) artists << QString::fromStdString(a);
        m.insert(QStringLiteral("xesam:artist"), artists);
    }
    if (!tags_.album.empty()) m.insert(QStringLiteral("xesam:album"), QString::fromStdString(tags_.album));
    if (!tags_.artUrl.empty()) m.insert(QStringLiteral("mpris:artUrl"), QString::fromStdString(tags_.artUrl));
    // The url percent-encodes the path's own bytes, so a name that is not UTF-8 still names its
    // file; the title shows such bytes as U+FFFD.
    m.insert(QStringLiteral("xesam:url"),
             QString::fromLatin1("file://" + QByteArray::fromStdString(s.path).toPercentEncoding("/")));
    if (s.lengthUs > 0) m.insert(QStringLiteral("mpris:length"), qlonglong(s.lengthUs));
    return m;
}

void MprisService::announceSeek() {
    if (auto* adaptor = findChild<MprisPlayerAdaptor*>()) emit adaptor->Seeked(player_.state().positionUs);
}

}  // namespace vesperon::desktop

#include "mpris.moc"
