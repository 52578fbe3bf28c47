#include <gtest/gtest.h>

#include <QtGui/QPalette>
#include <QtWidgets/QApplication>

int main(int argc, char** argv) {
    // Test discovery runs this without the test's environment; these tests are always offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    // Pin the system colours so the figures do not depend on the platform theme.
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Button, QColor(240, 240, 240));
    palette.setColor(QPalette::Window, QColor(240, 240, 240));
    palette.setColor(QPalette::Base, QColor(255, 255, 255));
    palette.setColor(QPalette::WindowText, QColor(0, 0, 0));
    QApplication::setPalette(palette);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
