// main() of the window tests: a QApplication on the offscreen platform (unless the test's
// environment names another), the engine on its null output, and waits that handle events.

#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <thread>

#include "tests/support/wait.h"
#include "ui/appearance.h"

int main(int argc, char** argv) {
    // Test discovery runs this without the test's environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("VESPERON_AUDIO_OUTPUT")) qputenv("VESPERON_AUDIO_OUTPUT", "null");
    QApplication app(argc, argv);
    vesperon::ui::installSystemFont();
    vesperon::test::setWaitStep([](int ms) {
        QApplication::processEvents(QEventLoop::AllEvents, ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
