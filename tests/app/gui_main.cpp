// The player logic's window tests: a widget application on Qt's offscreen platform, with the
// engine's messages reaching the window as they do in the program.
#include <gtest/gtest.h>

#include <QApplication>

#include "desktop/drop_target.h"
#include "engine/port/message_port.h"
#include "ui/appearance.h"
#include "ui/handle_registry.h"
#include "volume/sys_volume_widget.h"

int main(int argc, char** argv) {
    // Test discovery runs this without the test's environment; these tests are always offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("VESPERON_AUDIO_OUTPUT")) qputenv("VESPERON_AUDIO_OUTPUT", "null");
    QApplication app(argc, argv);
    vesperon::ui::installSystemFont();
    vesperon::engine::installMessagePort({&vesperon::ui::postMessage, &vesperon::ui::isWindow});
    vesperon::volume::registerSysVolumeType();
    vesperon::desktop::registerDropTargetType();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
