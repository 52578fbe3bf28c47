// vesperon-play: prints the notifications as they come, ends with the player, stops on Ctrl+C.

#include <gtest/gtest.h>

#include <sstream>

#include "tests/player/engine_fixtures.h"
#include "tests/support/process.h"

using namespace vesperon::test;

TEST(PlayTool, PrintsProgressThenEndForEachFileAndStopsOnInterrupt) {
    TempDir dir;
    std::string a = makeMp3(dir, "a", Mp3Recipe{1});
    std::string b = makeMp3(dir, "b", Mp3Recipe{6});
    ASSERT_FALSE(a.empty() || b.empty());
    std::string wav = "VESPERON_AUDIO_OUTPUT=wav:" + dir.file("out-%d.wav");
    CommandResult r = runCommand({"env", wav, toolPath("vesperon-play"), "--count", "2", a, a}, 60);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    int ends = 0, lastProgress = -1;
    bool firstOfFile = true;
    while (std::getline(lines, line)) {
        if (line == "end") {
            ++ends;
            firstOfFile = true;
            continue;
        }
        ASSERT_EQ(line.rfind("progress ", 0), 0u) << line;
        int p = std::stoi(line.substr(9));
        if (firstOfFile) {
            EXPECT_EQ(p, 0);
        } else {
            EXPECT_GT(p, lastProgress);
        }
        EXPECT_LE(p, 99);
        lastProgress = p;
        firstOfFile = false;
    }
    EXPECT_EQ(ends, 4) << "two files, twice";
    EXPECT_EQ(wavData(dir.file("out-4.wav")), referencePcm(dir, a));

    // Start, password and a missing file.
    std::string secret = dir.file("secret.mp3");
    ASSERT_EQ(runCommand({toolPath("vesperon-cipher"), "--password", "pw", b, secret}).exitCode, 0);
    r = runCommand({"env", "VESPERON_AUDIO_OUTPUT=wav:" + dir.file("start.wav"), toolPath("vesperon-play"),
                    "--start", "90", "--password", "pw", secret},
                   60);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(wavData(dir.file("start.wav")), referencePcm(dir, b, 90));
    r = runCommand({toolPath("vesperon-play"), dir.file("missing.mp3")}, 30);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.out.empty());

    // Ctrl+C while playing in real time ends it cleanly.
    r = runCommand({"timeout", "--preserve-status", "-s", "INT", "1", "env", "VESPERON_AUDIO_OUTPUT=null",
                    toolPath("vesperon-play"), b},
                   30);
    EXPECT_EQ(r.exitCode, 130) << r.err;
    EXPECT_EQ(r.out.rfind("progress 0", 0), 0u) << r.out;
    EXPECT_EQ(r.out.find("end"), std::string::npos);
}
