// SysVolume on a machine where ALSA reaches no mixer at all (its configuration is empty, so
// `default` names nothing): every command fails the documented way.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "volume/sys_volume.h"

namespace vesperon::volume {
namespace {

TEST(NoMixer, EveryCommandFails) {
    SysVolume vol;
    EXPECT_EQ(vol.SelectLine(4), 0);
    int left = 123, right = 456;
    EXPECT_EQ(vol.GetVolume(left, right), -1);
    EXPECT_EQ(left, 123);
    EXPECT_EQ(right, 456);
    EXPECT_EQ(vol.SetVolume(1000, 1000), 0);
    EXPECT_EQ(vol.GetMaxVolume(), 0);
    EXPECT_EQ(vol.GetMute(), -1);
    EXPECT_EQ(vol.SetMute(1), 0);
    EXPECT_EQ(vol.SelectLine(0x1008), 0);
}

}  // namespace
}  // namespace vesperon::volume

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
