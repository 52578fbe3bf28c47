#include "desktop/portal_shortcuts.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRandomGenerator>

namespace {

// One entry of the portal's a(sa{sv}) shortcut lists.
struct PortalShortcut {
    QString id;
    QVariantMap options;
};

QDBusArgument& operator<<(QDBusArgument& a, const PortalShortcut& s) {
    a.beginStructure();
    a << s.id << s.options;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, PortalShortcut& s) {
    a.beginStructure();
    a >> s.id >> s.options;
    a.endStructure();
    return a;
}

}  // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace vesperon::desktop {

namespace {

constexpr const char* kService = "org.freedesktop.portal.Desktop";
constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";
// A repeat of a held key comes every few tens of milliseconds; a new press after a release the
// desktop did not report comes later than this.
constexpr qint64 kRepeatMs = 700;

QList<PortalShortcut> portalList(const QList<PortalShortcuts::Shortcut>& shortcuts) {
    QList<PortalShortcut> list;
    for (const auto& s : shortcuts)
        list << PortalShortcut{s.id, {{QStringLiteral("description"), s.description},
                                      {QStringLiteral("preferred_trigger"), s.trigger}}};
    return list;
}

}  // namespace

PortalShortcuts::PortalShortcuts(QDBusConnection bus, QList<Shortcut> shortcuts, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), shortcuts_(std::move(shortcuts)) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
}

PortalShortcuts::~PortalShortcuts() {
    if (session_.isEmpty() || !bus_.isConnected()) return;
    bus_.call(QDBusMessage::createMethodCall(kService, session_, QStringLiteral("org.freedesktop.portal.Session"),
                                             QStringLiteral("Close")),
              QDBus::NoBlock);
}

QString PortalShortcuts::nextToken() {
    return QStringLiteral("vesperon_%1_%2").arg(QRandomGenerator::global()->generate()).arg(++tokens_);
}

bool PortalShortcuts::request(const QString& method, QVariantList args, const char* slot) {
    // The Request's path is known before the call, so its Response cannot be missed.
    const QString token = nextToken();
    QString sender = bus_.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    if (!requestPath_.isEmpty())
        bus_.disconnect(kService, requestPath_, QStringLiteral("org.freedesktop.portal.Request"),
                        QStringLiteral("Response"), this, nullptr);
    requestPath_ = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    if (!bus_.connect(kService, requestPath_, QStringLiteral("org.freedesktop.portal.Request"),
                      QStringLiteral("Response"), this, slot))
        return false;
    QVariantMap options = args.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    args << options;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(args);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, method](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) emit failed(method + ": " + w->error().message());
    });
    return true;
}

void PortalShortcuts::start() {
    if (!bus_.isConnected()) {
        emit failed(QStringLiteral("no session bus"));
        return;
    }
    const QList<PortalShortcut> list = portalList(shortcuts_);
    sessionToken_ = nextToken();
    const QVariantMap options{{QStringLiteral("session_handle_token"), sessionToken_},
                              {QStringLiteral("shortcuts"), QVariant::fromValue(list)}};
    if (!request(QStringLiteral("CreateSession"), {options}, SLOT(createAnswered(uint, QVariantMap))))
        emit failed(QStringLiteral("cannot listen for the portal's answer"));
}

void PortalShortcuts::createAnswered(uint response, const QVariantMap& results) {
    if (response != 0) {
        emit failed(QStringLiteral("the desktop refused a shortcut session (%1)").arg(response));
        return;
    }
    // A string in the interface's description; some desktops send an object path.
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    session_ = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path() : handle.toString();
    if (session_.isEmpty()) {
        emit failed(QStringLiteral("the portal named no session"));
        return;
    }
    for (const char* member : {"Activated", "Deactivated"}) {
        const char* slot = member[0] == 'A' ? SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap))
                                            : SLOT(onDeactivated(QDBusObjectPath, QString, qulonglong, QVariantMap));
        bus_.connect(kService, kPath, kInterface, QLatin1String(member), this, slot);
    }
    const QList<PortalShortcut> list = portalList(shortcuts_);
    if (!request(QStringLiteral("BindShortcuts"),
                 {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(list), QString(), QVariantMap()},
                 SLOT(bindAnswered(uint, QVariantMap))))
        emit failed(QStringLiteral("cannot listen for the portal's answer"));
}

void PortalShortcuts::bindAnswered(uint response, const QVariantMap& results) {
    if (response != 0) {
        emit failed(QStringLiteral("the desktop refused the shortcuts (%1)").arg(response));
        return;
    }
    // What the desktop bound, as it says; a desktop that says nothing bound what was asked.
    QList<PortalShortcut> list = portalList(shortcuts_);
    const QVariant given = results.value(QStringLiteral("shortcuts"));
    if (given.metaType() == QMetaType::fromType<QDBusArgument>()) {
        list.clear();
        given.value<QDBusArgument>() >> list;
    }
    QStringList ids;
    for (const PortalShortcut& s : list) ids << s.id;
    emit bound(ids);
}

void PortalShortcuts::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong, const QVariantMap&) {
    if (session.path() != session_) return;
    auto held = held_.find(id);
    const bool repeat = held != held_.end() && held->elapsed() < kRepeatMs;
    held_[id].start();
    if (!repeat) emit activated(id);
}

void PortalShortcuts::onDeactivated(const QDBusObjectPath& session, const QString& id, qulonglong, const QVariantMap&) {
    if (session.path() == session_) held_.remove(id);
}

}  // namespace vesperon::desktop
