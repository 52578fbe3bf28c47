// main() of the window framework's GUI tests: a QApplication on the offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>

#include "ui/appearance.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vesperon::ui::installSystemFont();
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
