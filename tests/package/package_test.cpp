// The Debian package as a user gets it: scripts/package.sh packs the built tree, lintian,
// appstreamcli and desktop-file-validate accept it, dpkg installs it, the installed program
// starts on an X server under the one application id, and a purge leaves nothing behind.
// Installing needs root (CI runs as root); elsewhere the test is skipped.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/servers.h"

namespace vesperon::test {
namespace {

const std::string kId = "org.vesperon.Vesperon";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (!l.empty()) out.push_back(l);
    return out;
}

bool installed() { return runCommand({"dpkg-query", "-W", "-f=${Status}", "vesperon"}).out == "install ok installed"; }

TEST(Package, PassesTheCheckersInstallsRunsAndPurgesCleanly) {
    if (geteuid() != 0) GTEST_SKIP() << "dpkg -i needs root";
    if (installed()) GTEST_SKIP() << "vesperon is installed on this machine; the test would replace it";
    for (const char* tool : {"cpack", "dpkg-shlibdeps", "lintian", "appstreamcli", "desktop-file-validate", "xdotool"})
        ASSERT_TRUE(haveProgram(tool)) << tool << " is missing (scripts/setup.sh installs it)";

    TempDir out;
    const CommandResult pack =
        runCommand({VESPERON_SOURCE_DIR "/scripts/package.sh", "--built", VESPERON_BINARY_DIR, out.path()}, 300);
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    const std::string deb = lines(pack.out).back();
    ASSERT_TRUE(deb.ends_with(".deb") && std::filesystem::exists(deb)) << pack.out;

    const CommandResult lint = runCommand({"lintian", "--fail-on", "error", deb}, 240);
    EXPECT_EQ(lint.exitCode, 0) << lint.out << lint.err;
    EXPECT_EQ(lint.out.find("E: "), std::string::npos) << lint.out;

    const CommandResult install = runCommand({"dpkg", "-i", deb}, 120);
    ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
    const std::vector<std::string> files = lines(runCommand({"dpkg", "-L", "vesperon"}).out);

    // Checked as installed, where desktops and software centres read them.
    const std::string entry = "/usr/share/applications/" + kId + ".desktop";
    const std::string metainfo = "/usr/share/metainfo/" + kId + ".metainfo.xml";
    std::vector<std::string> expected = {"/usr/bin/vesperon", entry, metainfo, "/usr/share/man/man1/vesperon.1.gz",
                                         "/usr/share/icons/hicolor/scalable/apps/" + kId + ".svg"};
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        expected.push_back("/usr/share/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) +
                           "/apps/" + kId + ".png");
    for (const std::string& f : expected) EXPECT_TRUE(std::filesystem::exists(f)) << f;
    const CommandResult entryCheck = runCommand({"desktop-file-validate", entry});
    EXPECT_TRUE(entryCheck.exitCode == 0 && entryCheck.out.empty()) << entryCheck.out << entryCheck.err;
    const CommandResult appstream = runCommand({"appstreamcli", "validate", "--no-net", metainfo}, 60);
    EXPECT_EQ(appstream.exitCode, 0) << appstream.out << appstream.err;
    // The user service names the program the package installed.
    const std::string unit = "/usr/share/systemd/user/vesperon.service";
    EXPECT_NE(readFile(unit).find("\nExecStart=/usr/bin/vesperon "), std::string::npos) << readFile(unit);
    if (haveProgram("systemd-analyze")) {  // as the system manager would: no user manager may run here
        const CommandResult verify = runCommand({"systemd-analyze", "verify", unit}, 60);
        EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
    }
    EXPECT_EQ(runCommand({"sh", "-c", "readelf -S /usr/bin/vesperon | grep -E '\\.(symtab|debug_)'"}).out, "")
        << "the installed program is not stripped";

    // The version is the package's; every option of the usage line is in the man page.
    const std::string version = runCommand({"dpkg-query", "-W", "-f=${Version}", "vesperon"}).out;
    const CommandResult v = runCommand({"/usr/bin/vesperon", "--version"});
    EXPECT_EQ(v.exitCode, 0);
    EXPECT_EQ(v.out, "vesperon " + version + "\n");
    const CommandResult help = runCommand({"/usr/bin/vesperon", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    ASSERT_TRUE(help.out.starts_with("usage: vesperon ")) << help.out;
    std::string man = runCommand({"sh", "-c", "zcat /usr/share/man/man1/vesperon.1.gz | sed 's/\\\\-/-/g'"}).out;
    std::istringstream usage(lines(help.out).front());
    for (std::string word; usage >> word;) {
        if (!word.starts_with("[--")) continue;
        const std::string option = word.substr(1, word.find_first_of(" ]") - 1);
        EXPECT_NE(man.find(option), std::string::npos) << option << " is not in the man page";
    }

    {
        // The installed program on an X server of its own and a bus of its own: the window
        // appears, and the bus knows it by the application id and as the MPRIS player.
        XServer x;
        SessionBus bus;
        ASSERT_TRUE(x.ok() && bus.ok());
        TempDir home;
        BackgroundProcess program({"/usr/bin/vesperon"},
                                  {"QT_QPA_PLATFORM=xcb", "VESPERON_AUDIO_OUTPUT=null", "HOME=" + home.path(),
                                   "XDG_CONFIG_HOME=" + home.file("config"), "XDG_STATE_HOME=" + home.file("state"),
                                   "XDG_CACHE_HOME=" + home.file("cache")});
        const CommandResult window =
            runCommand({"xdotool", "search", "--sync", "--onlyvisible", "--class", "vesperon"}, 60);
        EXPECT_EQ(window.exitCode, 0) << "no window appeared; the program "
                                      << (program.running() ? "runs" : "has exited");
        const std::string names = runCommand({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                                              "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames"})
                                      .out;
        for (const std::string& name : {kId, std::string("org.mpris.MediaPlayer2.vesperon")})
            EXPECT_NE(names.find('"' + name + '"'), std::string::npos) << name << " not on the bus:\n" << names;
        program.stop();
    }

    const CommandResult purge = runCommand({"dpkg", "--purge", "vesperon"}, 120);
    ASSERT_EQ(purge.exitCode, 0) << purge.out << purge.err;
    EXPECT_FALSE(installed());
    // Shared folders (/usr/share/icons/hicolor/...) may stay; nothing of ours does.
    for (const std::string& f : files) {
        if (!std::filesystem::is_directory(f) || f.find("vesperon") != std::string::npos) {
            EXPECT_FALSE(std::filesystem::exists(f)) << f << " is left behind";
        }
    }
}

}  // namespace
}  // namespace vesperon::test
