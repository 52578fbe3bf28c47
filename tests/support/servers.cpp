#include "tests/support/servers.h"
#include "tests/support/wait.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace vesperon::test {

namespace {

std::string getEnv(const char* name, bool* had = nullptr) {
    const char* v = std::getenv(name);
    if (had) *had = v != nullptr;
    return v ? v : "";
}

void restoreEnv(const char* name, const std::string& value, bool had) {
    if (had)
        setenv(name, value.c_str(), 1);
    else
        unsetenv(name);
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string e2eAudioOutput() {
    static const std::string chosen = [] {
        const std::string v = getEnv("VESPERON_AUDIO_OUTPUT");
        return v.empty() ? std::string("pulse") : v;
    }();
    return chosen;
}

XServer::XServer() {
    if (!haveProgram("Xvfb")) return;
    // Displays from 90 up, skipping any that another server (or a stale lock) holds.
    for (int n = 90 + static_cast<int>(getpid() % 50); n < 300; ++n) {
        std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
        std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
        if (exists(lock) || exists(sock)) continue;
        display_ = ":" + std::to_string(n);
        proc_ = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{"Xvfb", display_, "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                                     // Without it the server resets whenever its last client leaves
                                     // (a probe, xdotool) and refuses the next one for a moment.
                                     "-noreset"});
        // Another test may have taken the same display between the check above and the start:
        // the display is ours only when its lock names our server.
        const int pid = proc_->pid();
        auto ours = [&] { return std::atoi(readFile(lock).c_str()) == pid; };
        bool up = waitFor([&] { return (exists(sock) && ours()) || !proc_->running(); }, 10000) &&
                  proc_->running() && ours();
        if (up) {
            up = waitFor([&] { return runCommand({"xdpyinfo", "-display", display_}, 5).exitCode == 0; }, 10000);
        }
        if (!up) {
            proc_.reset();
            continue;
        }
        oldDisplay_ = getEnv("DISPLAY", &hadDisplay_);
        setenv("DISPLAY", display_.c_str(), 1);
        ok_ = true;
        return;
    }
}

WaylandServer::WaylandServer() {
    if (!haveProgram("weston")) return;
    chmod(dir_.path().c_str(), 0700);  // as XDG_RUNTIME_DIR must be
    socket_ = dir_.file("wayland-test");
    proc_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{"weston", "--backend=headless-backend.so", "--socket=wayland-test", "--idle-time=0",
                                 "--log=" + dir_.file("weston.log")},
        std::vector<std::string>{"XDG_RUNTIME_DIR=" + dir_.path()});
    ok_ = waitFor([&] { return exists(socket_) || !proc_->running(); }, 15000) && proc_->running();
}

XServer::~XServer() {
    if (ok_) restoreEnv("DISPLAY", oldDisplay_, hadDisplay_);
    proc_.reset();
}

namespace {
bool hadRuntime = false, hadServer = false;
}

PulseServer::PulseServer(const std::string& sinkName, bool deviceRestore)
    : sink_(sinkName), deviceRestore_(deviceRestore) {
    if (!haveProgram("pulseaudio") || !haveProgram("pactl")) return;
    oldRuntime_ = getEnv("XDG_RUNTIME_DIR", &hadRuntime);
    oldServer_ = getEnv("PULSE_SERVER", &hadServer);
    const std::string& d = dir_.path();
    setenv("XDG_RUNTIME_DIR", d.c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + d + "/native").c_str(), 1);
    ok_ = start();
}

bool PulseServer::start() {
    const std::string& d = dir_.path();
    std::string socket = d + "/native";
    std::vector<std::string> argv{
        "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--disallow-exit"};
    // Loaded before the sink, so that it sets the sink's volume from its record as it appears.
    if (deviceRestore_) argv.push_back("--load=module-device-restore");
    argv.push_back("--load=module-null-sink norewinds=1 sink_name=" + sink_);
    argv.push_back("--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket);
    proc_ = std::make_unique<BackgroundProcess>(
        argv,
        std::vector<std::string>{"XDG_RUNTIME_DIR=" + d, "HOME=" + d, "PULSE_RUNTIME_PATH=" + d + "/pulse",
                                 "PULSE_STATE_PATH=" + d + "/state", "DISPLAY="});
    bool up = waitFor([&] { return pactl({"info"}).exitCode == 0 || !proc_->running(); }, 15000) &&
              proc_->running();
    if (up) pactl({"set-default-sink", sink_});
    return up;
}

void PulseServer::kill() {
    if (proc_ && proc_->pid() > 0) ::kill(proc_->pid(), SIGKILL);
    waitFor([&] { return !proc_->running(); }, 5000);
    proc_.reset();
    // A killed server leaves its socket behind; the new one must bind it afresh.
    unlink((dir_.path() + "/native").c_str());
}

bool PulseServer::restart() {
    ok_ = start();
    return ok_;
}

PulseServer::~PulseServer() {
    proc_.reset();
    restoreEnv("XDG_RUNTIME_DIR", oldRuntime_, hadRuntime);
    restoreEnv("PULSE_SERVER", oldServer_, hadServer);
}

CommandResult PulseServer::pactl(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{"pactl"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv, 10);
}

SessionBus::SessionBus() {
    if (!haveProgram("dbus-daemon")) return;
    // The daemon forks once it listens, after printing its address and its pid.
    const CommandResult r = runCommand({"dbus-daemon", "--session", "--address=unix:path=" + dir_.file("bus"),
                                        "--fork", "--print-address=1", "--print-pid=1"},
                                       20);
    const auto newline = r.out.find('\n');
    if (r.exitCode != 0 || newline == std::string::npos) return;
    address_ = r.out.substr(0, newline);
    pid_ = std::atoi(r.out.c_str() + newline + 1);
    if (pid_ <= 0) return;
    oldAddress_ = getEnv("DBUS_SESSION_BUS_ADDRESS", &hadAddress_);
    setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

SessionBus::~SessionBus() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    restoreEnv("DBUS_SESSION_BUS_ADDRESS", oldAddress_, hadAddress_);
}

MonitorRecording::MonitorRecording(const PulseServer& server, const std::string& rawPath, int rate,
                                   int channels, int latencyMs) {
    std::vector<std::string> argv{"parec", "-d", server.sink() + ".monitor", "--format=s16le",
                                  "--rate=" + std::to_string(rate), "--channels=" + std::to_string(channels),
                                  "--file-format=raw", rawPath};
    if (latencyMs > 0) argv.push_back("--latency-msec=" + std::to_string(latencyMs));
    proc_ = std::make_unique<BackgroundProcess>(argv);
    // Recording has begun once the first (silent) samples of the running sink reach the file.
    waitFor([&] { struct stat st; return (stat(rawPath.c_str(), &st) == 0 && st.st_size > 0) || !proc_->running(); },
            10000);
}

MonitorRecording::~MonitorRecording() { stop(); }

void MonitorRecording::stop() {
    if (proc_) proc_.reset();
}

}  // namespace vesperon::test
