// The painters draw text, which needs a GUI application (offscreen: no display).
#include <gtest/gtest.h>

#include <QtGui/QGuiApplication>

int main(int argc, char** argv) {
    // Test discovery runs this without the test's environment; these tests are always offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
