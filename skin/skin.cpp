#include "skin/skin.h"

#include <QtCore/QPointer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QStyleFactory>

#include "skin/skin_scheme.h"
#include "skin/skin_style.h"

namespace vesperon::skin {
namespace {

int g_scheme = 0;
QPointer<SkinStyle> g_style;
// The style the application had before the skin, restored by name when the skin goes off.
QString g_plainStyleName;

bool haveApplication() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

QStyle* makePlainStyle() {
    QStyle* style = g_plainStyleName.isEmpty() ? nullptr : QStyleFactory::create(g_plainStyleName);
    if (!style) style = QStyleFactory::create(QStringLiteral("Fusion"));
    return style;
}

int switchOff() {
    // The application deletes its style when the style is replaced or the application ends, so
    // a live pointer means the skin is still installed.
    if (!haveApplication() || !g_style) return 0;
    QPointer<SkinStyle> old = g_style;
    g_style = nullptr;
    QApplication::setStyle(makePlainStyle());
    if (old) delete old.data();
    return 1;
}

int switchOn(const SkinScheme& scheme) {
    if (!haveApplication()) return 0;
    g_plainStyleName = QApplication::style()->name();
    auto* style = new SkinStyle(scheme, makePlainStyle());
    g_style = style;
    QApplication::setStyle(style);
    return 1;
}

}  // namespace

int SetSkin(int scheme) {
    g_scheme = scheme;
    const int off = switchOff();
    const SkinScheme* s = schemeByNumber(scheme);
    if (!s) return off;
    return switchOn(*s);
}

int CurrentSkinScheme() {
    return g_scheme;
}

bool SkinIsOn() {
    return haveApplication() && g_style;
}

}  // namespace vesperon::skin
