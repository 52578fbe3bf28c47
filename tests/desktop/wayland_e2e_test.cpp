// The program natively on Wayland: Qt's wayland platform on a headless Weston, with files on the
// command line. Nothing may hold up the start-up there (no X11 hot keys to grab, no portal on
// this bus): the files are in the list at once, as MPRIS shows.

#include <gtest/gtest.h>

#include "tests/support/e2e_program.h"
#include "tests/support/encoded_tone.h"
#include "tests/support/servers.h"

namespace vesperon::test {
namespace {

TEST(Wayland, StartsOnHeadlessWestonWithTheCommandLinesFiles) {
    WaylandServer weston;
    ASSERT_TRUE(weston.ok()) << "weston did not start (scripts/setup.sh installs it)";
    SessionBus bus;
    ASSERT_TRUE(bus.ok());
    TempDir home;
    const ToneRecipe tone(1.0, 44100, 1);
    const std::string a = encodedTone(tone, kLame128, home.file("a.mp3")), b = encodedTone(tone, kLame128, home.file("b.mp3"));
    ASSERT_FALSE(a.empty() || b.empty());
    BackgroundProcess program({VESPERON_BINARY_DIR "/app/vesperon", a, b},
                              {"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=" + weston.display(), "DISPLAY=",
                               "VESPERON_AUDIO_OUTPUT=null", "HOME=" + home.path(),
                               "XDG_CONFIG_HOME=" + home.file("config"), "XDG_CACHE_HOME=" + home.file("cache")});
    // The first track is the current one once the list holds the files.
    std::string url;
    const double seconds = secondsUntil(
        [&] {
            url = playerctl({"metadata", "xesam:url"});
            return url.find("a.mp3") != std::string::npos || !program.running();
        },
        30);
    std::printf("files over MPRIS after %.1f s: %s\n", seconds, url.c_str());
    EXPECT_NE(url.find("file://" + a), std::string::npos)
        << "after " << seconds << " s the program " << (program.running() ? "runs" : "has exited")
        << "; MPRIS says: " << url;
    EXPECT_EQ(runCommand({"playerctl", "-p", "vesperon", "next"}).exitCode, 0);
}

}  // namespace
}  // namespace vesperon::test
