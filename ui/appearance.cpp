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

Qt::Alignment captionAlignment(int horizontal, int vertical) {
    Qt::Alignment a = horizontal == 1 ? Qt::AlignHCenter : horizontal == 2 ? Qt::AlignRight : Qt::AlignLeft;
    return a | (vertical == 0 ? Qt::AlignTop : vertical == 2 ? Qt::AlignBottom : Qt::AlignVCenter);
}

void installSystemFont() {
    QFont f(QStringLiteral("WenQuanYi Micro Hei"));
    f.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                   QStringLiteral("Droid Sans Fallback")});
    f.setPixelSize(12);
    QApplication::setFont(f);
}

}  // namespace vesperon::ui
