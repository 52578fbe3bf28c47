// The global shortcuts through the real portal: xdg-desktop-portal with KDE's backend and
// kglobalaccel, on a private session bus under Xvfb (all started by D-Bus activation), alone and
// with the whole program (whose X grabs another client holds), and a desktop without the
// interface. kglobalaccel's invokeShortcut stands in for a key press. A
// scripted portal sends what a held key sends: Activated again and again, then Deactivated.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest/QTest>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "desktop/portal_shortcuts.h"
#include "tests/support/encoded_tone.h"
#include "tests/support/servers.h"
#include "tests/support/wait.h"

// After Qt: Xlib's macros would break Qt's headers.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace vesperon::desktop {
namespace {

using test::runCommand;

const QList<PortalShortcuts::Shortcut> kKeys{{"play-pause", "Play or pause", "Pause"},
                                              {"next", "Next track", "Page_Down"}};

// A session bus whose activated services see this desktop, a home and a runtime folder of their own.
struct Desktop {
    explicit Desktop(const char* name) {
        setenv("XDG_CURRENT_DESKTOP", name, 1);
        setenv("HOME", home.path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", home.file("config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
        bus = std::make_unique<test::SessionBus>();
        connection = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(
            QString::fromStdString(bus->address()), QStringLiteral("portal%1").arg(++count)));
    }
    // The services the bus started outlive it (KDE's stay on): they end with it, by pid.
    ~Desktop() {
        QDBusConnectionInterface* names = connection->interface();
        for (const QString& name : names ? names->registeredServiceNames().value() : QStringList()) {
            const uint pid = name.startsWith(':') ? names->servicePid(name).value() : 0;
            if (pid > 1 && pid != uint(getpid())) kill(pid_t(pid), SIGTERM);
        }
        QDBusConnection::disconnectFromBus(connection->name());
        bus.reset();  // before the folders go
    }
    test::TempDir home, runtime;
    std::unique_ptr<test::SessionBus> bus;
    std::unique_ptr<QDBusConnection> connection;
    static inline int count = 0;
};

void press(const Desktop& d, const QString& component, const QString& id) {
    QDBusMessage m = QDBusMessage::createMethodCall("org.kde.kglobalaccel", "/component/" + component,
                                                    "org.kde.kglobalaccel.Component", "invokeShortcut");
    m << id << QString("default");
    const QDBusMessage r = d.connection->call(m, QDBus::Block, 10000);
    ASSERT_NE(r.type(), QDBusMessage::ErrorMessage) << r.errorMessage().toStdString();
}

TEST(PortalShortcuts, KdePortalBindsAndEachPressActsOnce) {
    for (const char* tool : {"/usr/libexec/xdg-desktop-portal", "/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde", "/usr/bin/kglobalaccel5"})
        ASSERT_TRUE(std::filesystem::exists(tool)) << tool << " is missing (scripts/setup.sh installs it)";
    test::XServer x;
    ASSERT_TRUE(x.ok());
    Desktop kde("KDE");
    ASSERT_TRUE(kde.bus->ok() && kde.connection->isConnected());
    PortalShortcuts keys(*kde.connection, kKeys);
    QSignalSpy bound(&keys, &PortalShortcuts::bound), failed(&keys, &PortalShortcuts::failed),
        activated(&keys, &PortalShortcuts::activated);
    keys.start();
    // The first call starts the portal, its backend and kglobalaccel.
    ASSERT_TRUE(bound.wait(60000) || !bound.isEmpty()) << (failed.isEmpty() ? "" : failed[0][0].toString().toStdString());
    QStringList ids = bound[0][0].toStringList();
    ids.sort();
    EXPECT_EQ(ids, (QStringList{"next", "play-pause"}));

    press(kde, keys.sessionToken(), "play-pause");
    QTRY_COMPARE_WITH_TIMEOUT(activated.size(), 1, 10000);
    press(kde, keys.sessionToken(), "next");
    QTRY_COMPARE_WITH_TIMEOUT(activated.size(), 2, 10000);
    EXPECT_EQ(activated[0][0].toString(), "play-pause");
    EXPECT_EQ(activated[1][0].toString(), "next");
    // Later presses act again.
    QTest::qWait(800);
    press(kde, keys.sessionToken(), "next");
    QTRY_COMPARE_WITH_TIMEOUT(activated.size(), 3, 10000);
    EXPECT_TRUE(failed.isEmpty());
}

TEST(PortalShortcuts, ADesktopWithoutTheInterfaceSaysSoAtOnce) {
    Desktop none("Vesperon-none");
    ASSERT_TRUE(none.bus->ok());
    PortalShortcuts keys(*none.connection, kKeys);
    QSignalSpy failed(&keys, &PortalShortcuts::failed);
    keys.start();
    ASSERT_TRUE(failed.wait(30000) || !failed.isEmpty());
    std::printf("refusal: %s\n", qPrintable(failed[0][0].toString()));
}

// Answers CreateSession and BindShortcuts at once, as a desktop that asks nobody would.
class ScriptedPortal : public QDBusVirtualObject {
public:
    explicit ScriptedPortal(QDBusConnection bus) : bus_(std::move(bus)) {}
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection&) override {
        QString sender = call.service().mid(1);
        sender.replace('.', '_');
        const QString request = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                    .arg(sender, qdbus_cast<QVariantMap>(call.arguments().last()).value("handle_token").toString());
        bus_.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusMessage response = QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
        response << 0u << QVariantMap{{"session_handle", session}};
        bus_.send(response);
        return true;
    }
    void send(const char* member, const QString& sessionPath, const QString& id) {
        QDBusMessage m = QDBusMessage::createSignal("/org/freedesktop/portal/desktop",
                                                    "org.freedesktop.portal.GlobalShortcuts", member);
        m << QVariant::fromValue(QDBusObjectPath(sessionPath)) << id << qulonglong(0) << QVariantMap();
        bus_.send(m);
    }
    const QString session = QStringLiteral("/org/freedesktop/portal/desktop/session/1_1/s");

private:
    QDBusConnection bus_;
};

TEST(PortalShortcuts, AHeldKeyActsOnceAndOtherSessionsAreIgnored) {
    Desktop desktop("Vesperon-scripted");
    ASSERT_TRUE(desktop.bus->ok());
    QDBusConnection portalSide = QDBusConnection::connectToBus(QString::fromStdString(desktop.bus->address()), "scripted");
    ScriptedPortal portal(portalSide);
    ASSERT_TRUE(portalSide.registerVirtualObject("/org/freedesktop/portal/desktop", &portal));
    ASSERT_TRUE(portalSide.registerService("org.freedesktop.portal.Desktop"));
    PortalShortcuts keys(*desktop.connection, kKeys);
    QSignalSpy bound(&keys, &PortalShortcuts::bound), activated(&keys, &PortalShortcuts::activated);
    keys.start();
    ASSERT_TRUE(bound.wait(10000) || !bound.isEmpty());
    EXPECT_EQ(keys.sessionHandle(), portal.session);

    for (int i = 0; i < 5; ++i) portal.send("Activated", portal.session, "play-pause");  // held
    portal.send("Activated", portal.session + "other", "next");                         // not ours
    portal.send("Deactivated", portal.session, "play-pause");
    portal.send("Activated", portal.session, "play-pause");  // pressed again
    portal.send("Activated", portal.session, "next");
    QTRY_COMPARE_WITH_TIMEOUT(activated.size(), 3, 5000);
    QTest::qWait(200);
    QStringList ids;
    for (const auto& a : activated) ids << a[0].toString();
    EXPECT_EQ(ids, (QStringList{"play-pause", "play-pause", "next"}));
    portalSide.unregisterService("org.freedesktop.portal.Desktop");
    QDBusConnection::disconnectFromBus("scripted");
}

// The whole program with the keys held by another X client, as on a KDE session: it registers
// them through the portal, and a press of either acts as the key does (pause with the fade,
// next), with no refusal box.
TEST(PortalShortcuts, TheProgramTakesTheKeysFromThePortalWhenTheXServerRefusesThem) {
    test::XServer x;
    ASSERT_TRUE(x.ok());
    Desktop kde("KDE");
    ASSERT_TRUE(kde.bus->ok() && kde.connection->isConnected());
    test::PulseServer pulse;
    ASSERT_TRUE(pulse.ok());
    ASSERT_EQ(pulse.pactl({"set-sink-volume", pulse.sink(), "60%"}).exitCode, 0);
    const std::unique_ptr<Display, int (*)(Display*)> holder(XOpenDisplay(nullptr), XCloseDisplay);
    ASSERT_TRUE(holder);
    for (KeySym key : {XK_Pause, XK_Page_Down})
        XGrabKey(holder.get(), XKeysymToKeycode(holder.get(), key), AnyModifier, DefaultRootWindow(holder.get()),
                 True, GrabModeAsync, GrabModeAsync);
    XSync(holder.get(), False);
    test::TempDir dir;
    const test::ToneRecipe tone(20, 44100, 2, {"sine", "440", "vol", "0.5"});
    const std::string a = test::encodedTone(tone, test::kLame128, dir.file("a.mp3")),
                      b = test::encodedTone(tone, test::kLame128, dir.file("b.mp3"));
    ASSERT_FALSE(a.empty() || b.empty());
    test::BackgroundProcess program({VESPERON_BINARY_DIR "/app/vesperon", a, b},
                                    {"QT_QPA_PLATFORM=xcb", "VESPERON_AUDIO_OUTPUT=" + test::e2eAudioOutput()});
    const auto playerctl = [](const std::string& what) {
        std::string out = runCommand({"playerctl", "-p", "vesperon", "metadata", "--format", what}, 10).out;
        return out.substr(0, out.find('\n'));
    };
    QElapsedTimer clock;
    const auto waitUntil = [&](const std::function<bool()>& done, int ms) {
        clock.start();
        return test::waitFor(done, ms, 50) ? clock.elapsed() : -1;
    };
    // The program's portal session is a component of kglobalaccel's, named by its token.
    QString component;
    const auto registered = [&] {
        const QDBusMessage r = kde.connection->call(
            QDBusMessage::createMethodCall("org.kde.kglobalaccel", "/kglobalaccel", "org.kde.KGlobalAccel",
                                           "allComponents"), QDBus::Block, 5000);
        QList<QDBusObjectPath> paths;
        if (!r.arguments().isEmpty()) r.arguments()[0].value<QDBusArgument>() >> paths;
        for (const QDBusObjectPath& p : paths)
            if (p.path().contains("/component/vesperon_")) component = p.path().section('/', -1);
        return !component.isEmpty();
    };
    const qint64 bound = waitUntil(registered, 60000);
    ASSERT_GE(bound, 0) << "the program's shortcuts never reached kglobalaccel";
    runCommand({"playerctl", "-p", "vesperon", "play"}, 10);
    ASSERT_GE(waitUntil([&] { return playerctl("{{status}}") == "Playing"; }, 10000), 0);
    EXPECT_EQ(playerctl("{{xesam:title}}"), "a.mp3");

    press(kde, component, "next");
    const qint64 skipped = waitUntil([&] { return playerctl("{{xesam:title}}") == "b.mp3"; }, 10000);
    EXPECT_GE(skipped, 0) << playerctl("{{xesam:title}}");
    QTest::qWait(1000);
    press(kde, component, "play-pause");
    const qint64 paused = waitUntil([&] { return playerctl("{{status}}") == "Paused"; }, 10000);
    // The volume comes back once the pause is heard, just after the state says Paused.
    std::string volume;
    const qint64 restored = waitUntil(
        [&] {
            volume = pulse.pactl({"get-sink-volume", pulse.sink()}).out;
            return volume.find(" 60%") != std::string::npos;
        },
        3000);
    const bool box = runCommand({"xdotool", "search", "--onlyvisible", "--name", "^错误$"}, 10).exitCode == 0;
    std::printf(
        "portal keys: bound after %lld ms; next took %lld ms; pause done %lld ms after the press, the "
        "volume back %lld ms later; refusal box %s\n",
        (long long)bound, (long long)skipped, (long long)paused, (long long)restored, box ? "shown" : "none");
    ASSERT_GE(paused, 0) << playerctl("{{status}}");
    EXPECT_GT(paused, 500) << "paused without a fade";
    EXPECT_NE(volume.find(" 60%"), std::string::npos) << "the volume did not come back: " << volume;
    EXPECT_FALSE(box) << "the refusal box showed although the portal gave the keys";
    EXPECT_TRUE(program.running());
}

}  // namespace
}  // namespace vesperon::desktop
