// The program started as a service starts it (a session, no display to use, the null output, no
// session bus), looked at from outside: how it ends on SIGTERM, what it says on standard error
// and what reaches the play log.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/wait.h"

namespace vesperon::test {
namespace {

class HeadlessStart : public ::testing::Test {
protected:
    // `vesperon --session SESSION --log LOG ARGS`, standard error into a file; `wrap` goes before
    // the program (e.g. a command that makes a folder read-only first).
    std::unique_ptr<BackgroundProcess> start(const std::vector<std::string>& args,
                                             const std::vector<std::string>& env = {},
                                             const std::vector<std::string>& wrap = {}) {
        std::remove(log.c_str());
        std::vector<std::string> argv{"sh", "-c", "exec \"$@\" 2>\"$0\"", err};
        argv.insert(argv.end(), wrap.begin(), wrap.end());
        argv.insert(argv.end(), {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                                 "-u", "DBUS_SESSION_BUS_ADDRESS", "VESPERON_AUDIO_OUTPUT=null"});
        argv.insert(argv.end(), env.begin(), env.end());
        argv.insert(argv.end(), {std::string(VESPERON_BINARY_DIR) + "/app/vesperon", "--log", log});
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<BackgroundProcess>(argv);
    }
    std::string said() const { return "stderr:\n" + readFile(err) + "play log:\n" + readFile(log); }

    TempDir dir;
    const std::string session = dir.file("session.json"), log = dir.file("play.log"),
                      err = dir.file("stderr");
};

// A socket file with nobody listening: what a compositor that died leaves behind.
std::string staleSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    const bool made = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return made ? path : "";
}

// With no display to use, the session runs without a window and nothing waits for a click: what
// a box would show (the hot keys refused, a save that failed) is in the play log, Qt's notes that
// the offscreen platform cannot raise a window are not printed, and SIGTERM ends it with status 0.
TEST_F(HeadlessStart, WithoutADisplayTheSessionRunsTellsItsErrorsInThePlayLogAndEndsCleanly) {
    const std::string stale = staleSocket(dir.file("wayland-stale"));
    ASSERT_FALSE(stale.empty());
    const std::string readOnly = dir.file("read-only");
    ASSERT_EQ(mkdir(readOnly.c_str(), 0700), 0);
    // A private mount namespace in which the folder is mounted read-only (as root, or in a user
    // namespace of its own).
    const std::vector<std::string> mountReadOnly = {"unshare",
                                                    geteuid() == 0 ? "-m" : "-rm",
                                                    "sh",
                                                    "-c",
                                                    "mount --bind -o ro \"$0\" \"$0\" && exec \"$@\"",
                                                    readOnly};
    const struct {
        const char* what;
        std::vector<std::string> args, env, wrap;
        const char* toldOnStart;  // on standard error
        const char* logged;       // in the play log besides the hot keys
    } cases[] = {
        {"--no-window, as the service runs it", {"--session", session, "--no-window"}, {}, {}, "", nullptr},
        {"a stale Wayland socket",
         {"--session", session},
         {"WAYLAND_DISPLAY=" + stale},
         {},
         "running the session without a window",
         nullptr},
        {"a Wayland name with nothing behind it",
         {"--session", session},
         {"XDG_RUNTIME_DIR=" + dir.path(), "WAYLAND_DISPLAY=wayland-9"},
         {},
         "running the session without a window",
         nullptr},
        {"a session in a read-only folder",
         {"--session", readOnly + "/session.json", "--no-window"},
         {},
         mountReadOnly,
         "Read-only file system",
         "cannot save the session"},
    };
    const bool canMount = runCommand({mountReadOnly[0], mountReadOnly[1], "true"}).exitCode == 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.wrap.empty() && !canMount) {
            std::printf("%s: not tried, this machine lets no mount namespace be made\n", c.what);
            continue;
        }
        auto program = start(c.args, c.env, c.wrap);
        const bool up = waitFor(
            [&] { return readFile(log).find("hot keys") != std::string::npos || !program->running(); },
            20000);
        const int status = (program->signal(SIGTERM), program->wait(15));
        const std::string text = readFile(err), logged = readFile(log);
        std::printf("%s: exit status %d\n%s", c.what, status, said().c_str());
        EXPECT_TRUE(up) << "no word of the hot keys in the play log";
        EXPECT_EQ(status, 0);
        EXPECT_NE(text.find(c.toldOnStart), std::string::npos);
        EXPECT_EQ(text.find("This plugin does not support"), std::string::npos);
        EXPECT_NE(logged.find("\"event\":\"error\",\"message\":\"the hot keys"), std::string::npos);
        EXPECT_EQ(logged.find("another program"), std::string::npos) << "there is no other program";
        if (c.logged) {
            EXPECT_NE(logged.find(c.logged), std::string::npos);
        }
    }
}

// SIGTERM at any moment of the start-up ends the program cleanly. The signals are held blocked
// across the exec, so that one sent before the program runs its first line waits for it rather
// than killing it unhandled.
TEST_F(HeadlessStart, SigtermAtAnyMomentOfTheStartUpEndsWithStatusZero) {
    sigset_t quit, old;
    sigemptyset(&quit);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&quit, sig);
    for (int run = 0; run < 16; ++run) {
        const int afterMs = run * 10;
        pthread_sigmask(SIG_BLOCK, &quit, &old);
        auto program = start({"--session", session, "--no-window"});
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
        program->signal(SIGTERM);
        const int status = program->wait(10);
        EXPECT_EQ(status, 0) << "SIGTERM " << afterMs << " ms after the start: "
                             << (status < 0 ? "still running 10 s later"
                                            : "exit status " + std::to_string(status))
                             << "\n"
                             << said();
    }
}

}  // namespace
}  // namespace vesperon::test
