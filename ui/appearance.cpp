#include "ui/appearance.h"

#include <QApplication>
#include <QFont>
#include <QWidget>

#include "ui/value.h"

namespace vesperon::ui {

void setRoleColour(QWidget* w, QPalette::ColorRole role, std::uint32_t colour) {
    QPalette pal = w->palette();
    const QColor c = toQColor(colour, QApplication::palette());
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, role, c);
    w->setPalette(pal);
}

void applyFont(QWidget* w, const std::optional<layout::Font>& font) {
    if (!font) {
        w->setFont(QFont());  // nothing resolved: everything inherited from the parent
        return;
    }
    w->setFont(toQFont(font, QApplication::font()));
}

void installSystemFont() {
    QFont f(QStringLiteral("WenQuanYi Micro Hei"));
    f.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                   QStringLiteral("Droid Sans Fallback")});
    f.setPixelSize(12);
    QApplication::setFont(f);
}

}  // namespace vesperon::ui
