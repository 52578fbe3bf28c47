// The global shortcuts through the real portal: xdg-desktop-portal with KDE's backend and
// kglobalaccel, on a private session bus under Xvfb (all started by D-Bus activation), and a
// desktop without the interface. kglobalaccel's invokeShortcut stands in for a key press. A
// scripted portal sends what a held key sends: Activated again and again, then Deactivated.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QSignalSpy>
#include <QtTest/QTest>
#include <csignal>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>

#include "desktop/portal_shortcuts.h"
#include "tests/support/servers.h"

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

}  // namespace
}  // namespace vesperon::desktop
