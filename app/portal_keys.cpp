#include "app/portal_keys.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

#include "app/logic.h"
#include "app/report.h"
#include "desktop/portal_shortcuts.h"
#include "desktop/tool_tips.h"

namespace vesperon::app {

namespace {

const desktop::PortalShortcuts::Shortcut kShortcuts[2] = {{"play-pause", "Play or pause", "Pause"},
                                                          {"next", "Next track", "Page_Down"}};

void showToolTips() {
    desktop::AddToolTip(widgets().playButton.handle(), "快捷键:Pause", false, false);
    desktop::AddToolTip(widgets().nextButton.handle(), "快捷键:Page Down", false, false);
}

void reportRefused(std::string why) {
    // Without a window there is no display whose keys could be taken.
    if (why.empty() && controller().headless)
        why = "there is no display to take them on (running without a window)";
    reportInBoxLater(why.empty() ? "the hot keys Pause and Page Down could not be registered (another program "
                                   "holds them, or the session does not allow it)"
                                 : "the hot keys Pause and Page Down could not be registered: " + why,
                     "快捷键注册失败,您可能无法正常使用快捷键！");
}

// A desktop session has a portal to ask: Wayland always, X11 when another client holds the keys
// (KDE's kglobalaccel does). Not the offscreen platform of tests and tools.
bool portalMayHelp() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("wayland") || platform == QLatin1String("xcb");
}

void startPortal(const std::vector<HotKey>& keys) {
    if (!hasMainForm() || quitRequested()) return;
    QList<desktop::PortalShortcuts::Shortcut> asked;
    for (HotKey k : keys) asked << kShortcuts[static_cast<int>(k)];
    QPointer<desktop::PortalShortcuts>& portal = controller().portal;
    delete portal;
    portal = new desktop::PortalShortcuts(QDBusConnection::sessionBus(), asked, mainForm().windowWidget());
    QObject::connect(portal, &desktop::PortalShortcuts::activated, [](const QString& id) {
        if (!hasMainForm() || quitRequested()) return;
        Notice n;
        n.kind = Notice::Kind::HotKey;
        n.key = id == kShortcuts[0].id ? Notice::Key::Pause : Notice::Key::PageDown;
        dispatchNotice(n);
    });
    QObject::connect(portal, &desktop::PortalShortcuts::bound, [asked](const QStringList& ids) {
        if (!hasMainForm()) return;
        for (const auto& s : asked)
            if (!ids.contains(s.id)) return reportRefused("the desktop did not bind " + s.id.toStdString());
        showToolTips();
    });
    QObject::connect(portal, &desktop::PortalShortcuts::failed,
                     [](const QString& why) { reportRefused(why.toStdString()); });
    portal->start();
}

}  // namespace

void SettleHotKeys(const std::vector<HotKey>& refused) {
    if (refused.empty()) {
        showToolTips();
    } else if (portalMayHelp()) {
        // After the start-up, once MPRIS serves: the portal answers when it will.
        QTimer::singleShot(0, mainForm().windowWidget(), [refused] { startPortal(refused); });
    } else {
        reportRefused("");
    }
}

}  // namespace vesperon::app
