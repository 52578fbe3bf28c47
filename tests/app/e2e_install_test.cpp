// The program as a package: `cmake --install` puts the program, its desktop entry, its icon and
// its user service where desktops and systemd look for them, the entry names what was installed,
// and the installed program without a display says so in one line instead of crashing.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/support/process.h"

namespace vesperon::test {
namespace {

std::string entryValue(const std::string& entry, const std::string& key) {
    const auto at = entry.find("\n" + key + "=");
    if (at == std::string::npos) return "";
    const auto from = at + key.size() + 2;
    return entry.substr(from, entry.find('\n', from) - from);
}

TEST(Install, ProgramEntryAndIconLandWhereDesktopsLook) {
    TempDir prefix;
    const CommandResult install =
        runCommand({"cmake", "--install", VESPERON_BINARY_DIR, "--prefix", prefix.path()}, 120);
    ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
    const std::string program = prefix.file("bin/vesperon");
    const std::string entryPath = prefix.file("share/applications/org.vesperon.Vesperon.desktop");
    ASSERT_TRUE(std::filesystem::exists(program));
    EXPECT_NE(std::filesystem::status(program).permissions() & std::filesystem::perms::owner_exec,
              std::filesystem::perms::none);
    ASSERT_TRUE(std::filesystem::exists(entryPath));

    const std::string entry = readFile(entryPath);
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_EQ(entryValue(entry, "Type"), "Application");
    EXPECT_EQ(entryValue(entry, "Exec"), "vesperon %F");
    EXPECT_EQ(entryValue(entry, "MimeType"), "audio/mpeg;");
    const std::string icon = entryValue(entry, "Icon");
    EXPECT_TRUE(std::filesystem::exists(prefix.file("share/icons/hicolor/scalable/apps/" + icon + ".svg")))
        << "no icon named " << icon;
    if (haveProgram("desktop-file-validate")) {
        const CommandResult valid = runCommand({"desktop-file-validate", entryPath});
        EXPECT_EQ(valid.exitCode, 0) << valid.out << valid.err;
    }

    // The user service runs the program installed beside it, with the session and no window, and
    // comes back if it fails.
    const std::string unit = readFile(prefix.file("share/systemd/user/vesperon.service"));
    EXPECT_EQ(entryValue(unit, "ExecStart"),
              program + " --session %h/.config/vesperon/session.json --no-window");
    EXPECT_EQ(entryValue(unit, "Restart"), "on-failure");
    EXPECT_EQ(entryValue(unit, "WantedBy"), "default.target");

    // No display: one clear line and a failure code, not Qt's abort.
    const CommandResult run =
        runCommand({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb", program}, 30);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("vesperon: no display"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

}  // namespace
}  // namespace vesperon::test
