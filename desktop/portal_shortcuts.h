#pragma once
// Global shortcuts through the XDG desktop portal's GlobalShortcuts interface: how a Wayland
// client gets keys while other windows have the focus (KDE Plasma 5.27+, GNOME 48+, Hyprland).
// Everything is asynchronous, so a desktop that does not offer the interface answers with
// failed() and never holds up the start-up.

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QDBusObjectPath;

namespace vesperon::desktop {

class PortalShortcuts : public QObject {
    Q_OBJECT
public:
    struct Shortcut {
        QString id;
        QString description;
        QString trigger;  // the preferred key, as the XDG shortcut format names it: "Pause"
    };

    PortalShortcuts(QDBusConnection bus, QList<Shortcut> shortcuts, QObject* parent = nullptr);
    ~PortalShortcuts() override;  // closes the session

    // Creates the session (with the shortcuts in its options too: KDE 5.27 registers only
    // those) and binds the shortcuts. Then bound() or failed().
    void start();
    const QString& sessionHandle() const { return session_; }
    // The token that names the session; KDE's global shortcuts know it as their component.
    const QString& sessionToken() const { return sessionToken_; }

signals:
    void bound(const QStringList& ids);
    void failed(const QString& why);
    // Once per press: while a key is held the desktop may repeat it; those repeats are dropped.
    void activated(const QString& id);

private slots:
    void createAnswered(uint response, const QVariantMap& results);
    void bindAnswered(uint response, const QVariantMap& results);
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp, const QVariantMap& options);
    void onDeactivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp, const QVariantMap& options);

private:
    // Calls a portal method that answers through a Request object, whose Response goes to slot.
    bool request(const QString& method, QVariantList args, const char* slot);
    QString nextToken();

    QDBusConnection bus_;
    QList<Shortcut> shortcuts_;
    QString session_, sessionToken_, requestPath_;
    QHash<QString, QElapsedTimer> held_;  // id -> since its last Activated, until Deactivated
    int tokens_ = 0;
};

}  // namespace vesperon::desktop
