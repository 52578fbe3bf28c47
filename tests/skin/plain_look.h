#pragma once
// The skin's pixel figures are measured against Qt's Fusion style and these system colours, so
// they do not depend on the platform theme. Each skin test calls this before it builds widgets.

#include <QtGui/QPalette>
#include <QtWidgets/QApplication>

inline void pinPlainLook() {
    QApplication::setStyle(QStringLiteral("Fusion"));
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Button, QColor(240, 240, 240));
    palette.setColor(QPalette::Window, QColor(240, 240, 240));
    palette.setColor(QPalette::Base, QColor(255, 255, 255));
    palette.setColor(QPalette::WindowText, QColor(0, 0, 0));
    QApplication::setPalette(palette);
}
