// main() of the window tests: a QApplication on the offscreen platform (unless the test's
// environment names another; on xcb a private Xvfb comes up first for Qt to connect to), the
// engine on its null output, and waits that handle events.

#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "tests/support/servers.h"
#include "tests/support/wait.h"
#include "ui/appearance.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Test discovery runs this without the test's environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("VESPERON_AUDIO_OUTPUT")) qputenv("VESPERON_AUDIO_OUTPUT", "null");
    std::unique_ptr<vesperon::test::XServer> x;
    if (qgetenv("QT_QPA_PLATFORM") == "xcb") {
        x = std::make_unique<vesperon::test::XServer>();
        if (!x->ok()) {
            std::fprintf(stderr, "Xvfb did not start\n");
            return 1;
        }
    }
    QApplication app(argc, argv);
    vesperon::ui::installSystemFont();
    vesperon::test::setWaitStep([](int ms) {
        QApplication::processEvents(QEventLoop::AllEvents, ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
