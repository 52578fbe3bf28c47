// MPRIS and the one-instance hand-over on a private dbus-daemon, with a scripted player behind
// the service and Qt D-Bus as the client: what the protocol's rules make of each call (when
// Play and Pause act, seeks, positions for another track, hostile arguments), the properties'
// D-Bus types, the change signals, and who owns which name.

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QUrl>
#include <QFile>
#include <QtTest/QTest>
#include <limits>
#include <unistd.h>

#include "desktop/mpris.h"
#include "desktop/single_instance.h"
#include "tests/support/encoded_tone.h"
#include "tests/support/servers.h"

namespace vesperon::desktop {
namespace {

using test::SessionBus;

class ScriptedPlayer : public MediaPlayer {
public:
    MediaState s;
    std::vector<std::string> calls;
    MediaState state() override { return s; }
    void raise() override { calls.push_back("raise"); }
    void quit() override { calls.push_back("quit"); }
    void playPause() override { calls.push_back("playPause"); }
    void stop() override { calls.push_back("stop"); }
    void next() override { calls.push_back("next"); }
    void previous() override { calls.push_back("previous"); }
    void restartAt(std::int64_t us) override { calls.push_back("restartAt " + std::to_string(us)); }
    void setVolume(double v) override { calls.push_back("setVolume " + std::to_string(v)); }
    bool openFile(const std::string& path) override {
        calls.push_back("open " + path);
        return true;
    }
    void setShuffle(bool on) override {
        calls.push_back("shuffle " + std::to_string(on));
        s.shuffle = on;
    }
    void setLoopTrack(bool on) override {
        calls.push_back("loopTrack " + std::to_string(on));
        s.loopTrack = on;
    }
};

// Collects the service's PropertiesChanged signals.
class ChangeLog : public QObject {
    Q_OBJECT
public:
    std::vector<QVariantMap> changes;
public slots:
    void changed(const QString&, const QVariantMap& props, const QStringList&) { changes.push_back(props); }
};

class Mpris : public ::testing::Test {
protected:
    static void SetUpTestSuite() { bus_ = new SessionBus; }
    static void TearDownTestSuite() {
        delete bus_;
        bus_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(bus_->ok()) << "no dbus-daemon";
        static int n = 0;
        server_ = std::make_unique<QDBusConnection>(connect("server" + std::to_string(++n)));
        client_ = std::make_unique<QDBusConnection>(connect("client" + std::to_string(n)));
        player.s = {PlaybackStatus::Playing, 2, 1, "/music/a b.mp3", "a b.mp3", 200'000'000, 100'000'000, 0.5};
        service = MprisService::start(*server_, player);
        ASSERT_TRUE(service);
    }
    void TearDown() override {
        service.reset();
        QDBusConnection::disconnectFromBus(server_->name());
        QDBusConnection::disconnectFromBus(client_->name());
    }
    static QDBusConnection connect(const std::string& name) {
        return QDBusConnection::connectToBus(QString::fromStdString(bus_->address()), QString::fromStdString(name));
    }

    // A call from the client, served while it waits.
    QDBusMessage call(const QString& iface, const QString& method, const QVariantList& args = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall(service->busName(), MprisService::kObjectPath, iface, method);
        m.setArguments(args);
        return client_->call(m, QDBus::BlockWithGui, 5000);
    }
    QDBusMessage player_(const QString& method, const QVariantList& args = {}) {
        return call(QStringLiteral("org.mpris.MediaPlayer2.Player"), method, args);
    }
    QVariant get(const QString& iface, const QString& name) {
        const QDBusMessage r = call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"), {iface, name});
        return r.arguments().isEmpty() ? QVariant() : r.arguments()[0].value<QDBusVariant>().variant();
    }
    QDBusMessage set(const QString& name, const QVariant& v) {
        return call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                    {QStringLiteral("org.mpris.MediaPlayer2.Player"), name, QVariant::fromValue(QDBusVariant(v))});
    }
    QDBusMessage setVolume(const QVariant& v) { return set(QStringLiteral("Volume"), v); }
    QVariantMap metadata() {
        QVariantMap meta;
        get(QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("Metadata")).value<QDBusArgument>() >> meta;
        return meta;
    }

    static SessionBus* bus_;
    std::unique_ptr<QDBusConnection> server_, client_;
    ScriptedPlayer player;
    std::unique_ptr<MprisService> service;
};
SessionBus* Mpris::bus_ = nullptr;

TEST_F(Mpris, PropertiesCarryTheProtocolsTypesAndValues) {
    EXPECT_EQ(service->busName(), "org.mpris.MediaPlayer2.vesperon");
    const QString root = QStringLiteral("org.mpris.MediaPlayer2");
    EXPECT_EQ(get(root, "Identity").toString(), "Vesperon");
    // The desktop entry it names is the one the package installs.
    const QString entry = get(root, "DesktopEntry").toString();
    EXPECT_TRUE(QFile::exists(QStringLiteral(VESPERON_SOURCE_DIR "/desktop/share/%1.desktop").arg(entry))) << entry.toStdString();
    EXPECT_EQ(get(root, "SupportedMimeTypes").toStringList(), QStringList{"audio/mpeg"});
    EXPECT_EQ(get(root, "SupportedUriSchemes").toStringList(), QStringList{"file"});
    EXPECT_TRUE(get(root, "CanQuit").toBool());
    EXPECT_FALSE(get(root, "HasTrackList").toBool());

    const QString p = QStringLiteral("org.mpris.MediaPlayer2.Player");
    EXPECT_EQ(get(p, "PlaybackStatus").toString(), "Playing");
    EXPECT_EQ(get(p, "Position").toLongLong(), 100'000'000);
    EXPECT_EQ(get(p, "Volume").toDouble(), 0.5);
    EXPECT_TRUE(get(p, "CanSeek").toBool());
    // Metadata arrives as a{sv}: its object path and 64-bit length must keep their D-Bus types.
    QVariantMap meta;
    get(p, "Metadata").value<QDBusArgument>() >> meta;
    EXPECT_EQ(meta.value("mpris:trackid").value<QDBusObjectPath>().path(), mprisTrackId(1));
    EXPECT_EQ(meta.value("mpris:length").metaType(), QMetaType::fromType<qlonglong>());
    EXPECT_EQ(meta.value("mpris:length").toLongLong(), 200'000'000);
    EXPECT_EQ(meta.value("xesam:title").toString(), "a b.mp3");
    EXPECT_EQ(meta.value("xesam:url").toString(), "file:///music/a%20b.mp3");
    // A name in a legacy encoding: a valid UTF-8 title, a url that keeps the real bytes.
    player.s.path = "/music/\xb8\xe8.mp3";
    player.s.title = "\xb8\xe8.mp3";
    get(p, "Metadata").value<QDBusArgument>() >> meta;
    EXPECT_EQ(meta.value("xesam:title").toString(), QString::fromUtf8("\uFFFD\uFFFD.mp3"));
    EXPECT_EQ(meta.value("xesam:url").toString(), "file:///music/%B8%E8.mp3");

    player.s = {};  // an empty list: nothing to play, no track
    EXPECT_FALSE(get(p, "CanPlay").toBool());
    get(p, "Metadata").value<QDBusArgument>() >> meta;
    EXPECT_EQ(meta.value("mpris:trackid").value<QDBusObjectPath>().path(), "/org/mpris/MediaPlayer2/TrackList/NoTrack");
    EXPECT_EQ(meta.size(), 1);
}

TEST_F(Mpris, EachCallActsOnlyWhereTheProtocolSaysAndHostileArgumentsAreRefused) {
    struct Case {
        PlaybackStatus status;
        int tracks;
        const char* method;
        QVariantList args;
        std::vector<std::string> calls;
    };
    const QDBusObjectPath current(mprisTrackId(1)), other(mprisTrackId(2));
    const qlonglong big = std::numeric_limits<qlonglong>::max(), small = std::numeric_limits<qlonglong>::min();
    const Case cases[] = {
        {PlaybackStatus::Stopped, 2, "Play", {}, {"playPause"}},
        {PlaybackStatus::Paused, 2, "Play", {}, {"playPause"}},
        {PlaybackStatus::Playing, 2, "Play", {}, {}},
        {PlaybackStatus::Playing, 2, "Pause", {}, {"playPause"}},
        {PlaybackStatus::Paused, 2, "Pause", {}, {}},
        {PlaybackStatus::Stopped, 2, "Pause", {}, {}},
        {PlaybackStatus::Playing, 2, "Stop", {}, {"stop"}},
        // With an empty list the window's buttons would open the file dialog: not from outside.
        {PlaybackStatus::Stopped, 0, "PlayPause", {}, {}},
        {PlaybackStatus::Stopped, 0, "Next", {}, {}},
        {PlaybackStatus::Stopped, 0, "Previous", {}, {}},
        {PlaybackStatus::Stopped, 2, "Previous", {}, {"previous"}},
        // At 100 s of 200 s.
        {PlaybackStatus::Playing, 2, "Seek", {qlonglong(50'000'000)}, {"restartAt 150000000"}},
        {PlaybackStatus::Playing, 2, "Seek", {qlonglong(-150'000'000)}, {"restartAt 0"}},
        {PlaybackStatus::Playing, 2, "Seek", {qlonglong(100'000'001)}, {"next"}},
        {PlaybackStatus::Playing, 2, "Seek", {big}, {"next"}},
        {PlaybackStatus::Playing, 2, "Seek", {small}, {"restartAt 0"}},
        {PlaybackStatus::Paused, 2, "Seek", {qlonglong(1)}, {}},
        {PlaybackStatus::Playing, 2, "SetPosition", {QVariant::fromValue(current), qlonglong(50'123'456)}, {"restartAt 50123456"}},
        {PlaybackStatus::Playing, 2, "SetPosition", {QVariant::fromValue(other), qlonglong(50'000'000)}, {}},
        {PlaybackStatus::Playing, 2, "SetPosition", {QVariant::fromValue(current), qlonglong(-1)}, {}},
        {PlaybackStatus::Playing, 2, "SetPosition", {QVariant::fromValue(current), qlonglong(200'000'001)}, {}},
        {PlaybackStatus::Stopped, 2, "OpenUri", {QString("file:///tmp/x%20y.mp3")}, {"open /tmp/x y.mp3"}},
        {PlaybackStatus::Stopped, 2, "OpenUri", {QString("file://localhost/tmp/z.mp3")}, {"open /tmp/z.mp3"}},
        {PlaybackStatus::Stopped, 2, "OpenUri", {QString("file:///tmp/%B8%E8.mp3")}, {"open /tmp/\xb8\xe8.mp3"}},
        {PlaybackStatus::Stopped, 2, "OpenUri", {QString("file://elsewhere/tmp/z.mp3")}, {}},
        {PlaybackStatus::Stopped, 2, "OpenUri", {QString("http://example.org/a.mp3")}, {}},
        {PlaybackStatus::Stopped, 2, "OpenUri", {QString("not a uri \x01 at all")}, {}},
        {PlaybackStatus::Stopped, 2, "OpenUri", {QString("")}, {}},
    };
    for (const Case& c : cases) {
        player.s.status = c.status;
        player.s.trackCount = c.tracks;
        player.calls.clear();
        const QDBusMessage r = player_(QString::fromLatin1(c.method), c.args);
        const std::string what = std::string(c.method) + " " + (c.args.isEmpty() ? "" : c.args[0].toString().toStdString());
        EXPECT_EQ(r.type(), QDBusMessage::ReplyMessage) << what << ": " << r.errorMessage().toStdString();
        EXPECT_EQ(player.calls, c.calls) << what;
    }

    // The volume is clamped to 0..1; a value that is not a number changes nothing.
    for (auto [given, want] : std::vector<std::pair<double, std::string>>{
             {0.25, "setVolume 0.250000"}, {7.0, "setVolume 1.000000"}, {-3.0, "setVolume 0.000000"},
             {std::numeric_limits<double>::quiet_NaN(), ""}}) {
        player.calls.clear();
        setVolume(given);
        EXPECT_EQ(player.calls, want.empty() ? std::vector<std::string>{} : std::vector<std::string>{want}) << given;
    }
    player.calls.clear();
    EXPECT_EQ(setVolume(QString("loud")).type(), QDBusMessage::ErrorMessage);
    call(QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("Raise"));
    call(QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("Quit"));
    EXPECT_EQ(player.calls, (std::vector<std::string>{"raise", "quit"}));
}

TEST_F(Mpris, ChangesOfStateTrackAndVolumeAreSignalled) {
    ChangeLog log;
    ASSERT_TRUE(client_->connect(service->busName(), MprisService::kObjectPath,
                                 QStringLiteral("org.freedesktop.DBus.Properties"),
                                 QStringLiteral("PropertiesChanged"), &log,
                                 SLOT(changed(QString, QVariantMap, QStringList))));
    QTest::qWait(100);
    player.s.status = PlaybackStatus::Paused;
    player.s.trackNumber = 2;
    player.s.path = "/music/c.mp3";
    player.s.volume = 0.75;
    player.s.positionUs = 5;  // the position alone is never signalled
    QTRY_VERIFY_WITH_TIMEOUT(!log.changes.empty(), 5000);
    QTest::qWait(500);
    QVariantMap all;
    for (const auto& c : log.changes) all.insert(c);
    EXPECT_EQ(all.value("PlaybackStatus").toString(), "Paused");
    EXPECT_EQ(all.value("Volume").toDouble(), 0.75);
    EXPECT_FALSE(all.value("CanSeek").toBool());
    EXPECT_FALSE(all.contains("Position"));
    QVariantMap meta;
    all.value("Metadata").value<QDBusArgument>() >> meta;
    EXPECT_EQ(meta.value("mpris:trackid").value<QDBusObjectPath>().path(), mprisTrackId(2));
    const std::size_t seen = log.changes.size();
    QTest::qWait(600);
    EXPECT_EQ(log.changes.size(), seen) << "signals without a change";
}

// Files tagged by lame (ID3v2.3, UTF-16 text, a JPEG front cover) and one without a tag.
TEST_F(Mpris, MetadataComesFromTheTagAndTheCoverIsCachedOnce) {
    test::TempDir dir;
    ASSERT_EQ(setenv("XDG_CACHE_HOME", dir.file("cache").c_str(), 1), 0);
    const std::string jpeg("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xFF\xD9", 22);
    test::writeFile(dir.file("cover.jpg"), jpeg);
    const test::ToneRecipe tone(0.2, 44100, 1);
    auto tagged = [&](const std::string& title, const std::string& name) {
        return test::encodedTone(tone, {"lame", "--quiet", "--id3v2-only", "--tt", title, "--ta", "Ann", "--tl", "Dusk",
                                        "--ti", dir.file("cover.jpg")}, dir.file(name));
    };
    const std::string first = tagged("\xE6\x99\x9A\xE9\x92\x9F", "1.mp3"), second = tagged("Two", "2.mp3");
    const std::string plain = test::encodedTone(tone, test::kLame128, dir.file("plain.mp3"));
    ASSERT_FALSE(first.empty() || second.empty() || plain.empty());

    player.s.path = first;
    QVariantMap meta = metadata();
    EXPECT_EQ(meta.value("xesam:title").toString(), QString::fromUtf8("\xE6\x99\x9A\xE9\x92\x9F"));
    EXPECT_EQ(meta.value("xesam:artist").toStringList(), QStringList{"Ann"});
    EXPECT_EQ(meta.value("xesam:album").toString(), "Dusk");
    const QUrl art(meta.value("mpris:artUrl").toString());
    ASSERT_TRUE(art.isLocalFile()) << art.toString().toStdString();
    EXPECT_TRUE(art.toLocalFile().startsWith(QString::fromStdString(dir.file("cache/vesperon/"))));
    EXPECT_EQ(test::readFile(art.toLocalFile().toStdString()), jpeg);

    player.s.path = second;
    player.s.trackNumber = 2;
    meta = metadata();
    EXPECT_EQ(meta.value("xesam:title").toString(), "Two");
    EXPECT_EQ(meta.value("mpris:artUrl").toString(), art.toString()) << "the same cover twice";
    EXPECT_EQ(QDir(QString::fromStdString(dir.file("cache/vesperon"))).entryList(QDir::Files).size(), 1);

    player.s.path = plain;
    player.s.title = "plain.mp3";
    meta = metadata();
    EXPECT_EQ(meta.value("xesam:title").toString(), "plain.mp3");
    EXPECT_FALSE(meta.contains("xesam:artist") || meta.contains("xesam:album") || meta.contains("mpris:artUrl"));
    unsetenv("XDG_CACHE_HOME");
}

TEST_F(Mpris, ShuffleAndLoopStatusFollowTheSwitchesBothWays) {
    ChangeLog log;
    ASSERT_TRUE(client_->connect(service->busName(), MprisService::kObjectPath,
                                 QStringLiteral("org.freedesktop.DBus.Properties"),
                                 QStringLiteral("PropertiesChanged"), &log,
                                 SLOT(changed(QString, QVariantMap, QStringList))));
    const QString p = QStringLiteral("org.mpris.MediaPlayer2.Player");
    EXPECT_EQ(get(p, "Shuffle").toBool(), false);
    EXPECT_EQ(get(p, "LoopStatus").toString(), "Playlist");
    set("Shuffle", true);
    set("LoopStatus", "Track");
    set("LoopStatus", "Track");  // already so: no second switch
    EXPECT_EQ(get(p, "Shuffle").toBool(), true);
    EXPECT_EQ(get(p, "LoopStatus").toString(), "Track");
    // Not offered, since the list always repeats: the status that stays is signalled again
    // (Qt answers a property write with no error).
    for (const char* refused : {"None", "Bogus"}) {
        log.changes.clear();
        set("LoopStatus", refused);
        QTRY_VERIFY_WITH_TIMEOUT(!log.changes.empty(), 5000);
        EXPECT_EQ(log.changes.back().value("LoopStatus"), QVariant("Track")) << refused;
    }
    EXPECT_EQ(get(p, "LoopStatus").toString(), "Track");
    set("LoopStatus", "Playlist");
    EXPECT_EQ(player.calls, (std::vector<std::string>{"shuffle 1", "loopTrack 1", "loopTrack 0"}));

    // The window's switches, clicked: signalled.
    log.changes.clear();
    player.s.shuffle = false;
    player.s.loopTrack = true;
    QTRY_VERIFY_WITH_TIMEOUT(log.changes.size() >= 1, 5000);
    QTest::qWait(300);
    QVariantMap all;
    for (const auto& c : log.changes) all.insert(c);
    EXPECT_EQ(all.value("Shuffle"), QVariant(false));
    EXPECT_EQ(all.value("LoopStatus"), QVariant("Track"));
}

TEST_F(Mpris, ASecondPlayerTakesItsOwnInstanceName) {
    ScriptedPlayer other;
    QDBusConnection third = connect("third");
    auto second = MprisService::start(third, other);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->busName(), QStringLiteral("org.mpris.MediaPlayer2.vesperon.instance%1").arg(getpid()));
    second.reset();
    QDBusConnection::disconnectFromBus("third");
}

// Each start on its own connection, as separate processes would be.
TEST_F(Mpris, OneInstancePerSessionTakesTheFilesOfLaterStarts) {
    using Outcome = InstanceChannel::Outcome;
    std::unique_ptr<InstanceChannel> first, again, otherSession, none;
    ASSERT_EQ(InstanceChannel::claim(connect("i1"), "", {}, &first), Outcome::First);
    std::vector<InstanceChannel::Files> received;
    first->setReceiver([&](const InstanceChannel::Files& files) { received.push_back(files); });

    // A name in a legacy encoding (GBK bytes) crosses the bus unchanged.
    const std::string gbk = "/m/\xb8\xe8.mp3";
    EXPECT_EQ(InstanceChannel::claim(connect("i2"), "", {"/m/c.mp3", gbk}, &again), Outcome::HandedOver);
    EXPECT_FALSE(again);
    EXPECT_EQ(received, (std::vector<InstanceChannel::Files>{{"/m/c.mp3", gbk}}));
    // A hand-over that arrives again under the same id (a retry after a late answer) is applied once.
    first->Open({"/m/x.mp3"}, "id-1");
    first->Open({"/m/x.mp3"}, "id-1");
    EXPECT_EQ(received.size(), 2u);
    // Another session file is another instance.
    EXPECT_EQ(InstanceChannel::claim(connect("i3"), "/home/u/other.json", {}, &otherSession), Outcome::First);
    EXPECT_NE(InstanceChannel::busNameFor("/home/u/other.json"), InstanceChannel::busNameFor(""));
    // Without a bus every start runs on its own.
    EXPECT_EQ(InstanceChannel::claim(QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "i4"), "", {}, &none),
              Outcome::NoBus);

    // Once the first has gone, the next start is the first again.
    first.reset();
    QDBusConnection::disconnectFromBus("i1");
    EXPECT_EQ(InstanceChannel::claim(connect("i5"), "", {"/m/e.mp3"}, &again), Outcome::First);
    for (const char* n : {"i2", "i3", "i4", "i5"}) QDBusConnection::disconnectFromBus(n);
}

}  // namespace
}  // namespace vesperon::desktop

#include "mpris_test.moc"
