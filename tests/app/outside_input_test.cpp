// What reaches the playlist from outside the window: the command line's arguments, and the
// paths a command line, a later start or an MPRIS client hands in.

#include <gtest/gtest.h>

#include <QDir>
#include <filesystem>

#include "app/command_line.h"
#include "app/mpris_link.h"
#include "tests/support/process.h"

namespace vesperon::app {
namespace {

TEST(CommandLine, SessionLogFilesOptionsAndRelativePaths) {
    const std::string here = QDir::currentPath().toStdString();
    const std::string gbk = "\xb8\xe8\xc7\xfa.mp3";  // a name in a legacy encoding, not UTF-8
    struct Case {
        std::vector<std::string> args;
        std::string session;
        std::vector<std::string> files;
        bool error;
        std::string log = "";
        bool noWindow = false;
    };
    const Case cases[] = {
        {{}, "", {}, false},
        {{"a.mp3", "/m/b.mp3"}, "", {here + "/a.mp3", "/m/b.mp3"}, false},
        {{"--session", "s.json", "x/../c.mp3"}, here + "/s.json", {here + "/c.mp3"}, false},
        {{"/m/a.mp3", "--session=/t/s.json"}, "/t/s.json", {"/m/a.mp3"}, false},
        {{"--", "--session", "-x.mp3"}, "", {here + "/--session", here + "/-x.mp3"}, false},
        {{"--session"}, "", {}, true},
        {{"--session="}, "", {}, true},
        {{"--session", "a", "--session", "b"}, "", {}, true},
        {{"--verbose"}, "", {}, true},
        {{"-x"}, "", {}, true},
        {{"-"}, "", {here + "/-"}, false},
        {{gbk, "//m//./" + gbk}, "", {here + "/" + gbk, "/m/" + gbk}, false},
        {{"../../../../../../../../x.mp3"}, "", {"/x.mp3"}, false},
        {{"--log", "p.log", "--no-window", "--session", "s"}, here + "/s", {}, false, here + "/p.log", true},
        {{"--log=/l/p.log", "a.mp3"}, "", {here + "/a.mp3"}, false, "/l/p.log"},
        {{"--log"}, "", {}, true},
        {{"--log=a", "--log=b"}, "", {}, true},
    };
    for (const Case& c : cases) {
        const Result<CommandLine> parsed = parseCommandLine(c.args);
        const std::string what = c.args.empty() ? std::string() : c.args[0];
        EXPECT_EQ(!parsed, c.error) << what << ": " << parsed.error;
        if (c.error) continue;
        const CommandLine& line = parsed.value;
        EXPECT_EQ(line.sessionFile, c.session) << what;
        EXPECT_EQ(line.files, c.files) << what;
        EXPECT_EQ(line.logFile, c.log) << what;
        EXPECT_EQ(line.noWindow, c.noWindow) << what;
    }
}

TEST(OutsidePaths, OnlyAbsolutePathsOfExistingMp3FilesAreTaken) {
    test::TempDir dir;
    test::writeFile(dir.file("a.mp3"), "x");
    test::writeFile(dir.file("a.wav"), "x");
    std::filesystem::create_directory(dir.file("folder.mp3"));
    test::writeFile(dir.file("line\nbreak.mp3"), "x");
    const std::pair<std::string, bool> cases[] = {
        {dir.file("a.mp3"), true},           {dir.file("a.wav"), false},
        {dir.file("missing.mp3"), false},    {dir.file("folder.mp3"), false},
        {dir.file("line\nbreak.mp3"), false}, {"a.mp3", false},
        {"", false},
    };
    for (const auto& [path, ok] : cases) {
        EXPECT_EQ(bool(AcceptableTrack(path)), ok) << path;
    }
}

}  // namespace
}  // namespace vesperon::app
