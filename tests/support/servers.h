#pragma once
// The real servers the e2e tests run against, each private to the test that starts it.

#include <memory>
#include <string>

#include "tests/support/process.h"

namespace vesperon::test {

// Xvfb on a free display. While it lives, DISPLAY in this process names it.
class XServer {
public:
    XServer();  // check ok() afterwards
    ~XServer();
    bool ok() const { return ok_; }
    const std::string& display() const { return display_; }

private:
    std::unique_ptr<BackgroundProcess> proc_;
    std::string display_;
    std::string oldDisplay_;
    bool hadDisplay_ = false;
    bool ok_ = false;
};

// A headless Weston on a socket in a folder of its own. Clients reach it with
// WAYLAND_DISPLAY=display() (an absolute path); this process's environment is left alone.
class WaylandServer {
public:
    WaylandServer();  // check ok() afterwards
    bool ok() const { return ok_; }
    const std::string& display() const { return socket_; }

private:
    TempDir dir_;
    std::unique_ptr<BackgroundProcess> proc_;
    std::string socket_;
    bool ok_ = false;
};

// PulseAudio with one null sink, on a private XDG_RUNTIME_DIR. The sink never rewinds: a rewind
// (a stream starting, corked, uncorked or leaving while the sink has mixed ahead) takes back
// sound its monitor has already recorded, so the recording would lose or repeat 8-20 ms there
// that a device would have played. While it lives, this process's
// environment (XDG_RUNTIME_DIR, PULSE_SERVER) points at it, so ALSA's `default` device and
// mixer, pactl and parec all reach it, and so do child processes. ALSA decides once per process
// whether `default` is PulseAudio (when its configuration is first loaded): start the server
// before the first ALSA call, or call snd_config_update_free_global() after starting it.
class PulseServer {
public:
    // With deviceRestore the server keeps the sink's volume across restarts (module-device-restore,
    // as desktops load it), in a state folder that outlives restart().
    explicit PulseServer(const std::string& sinkName = "vesperon_test", bool deviceRestore = false);
    ~PulseServer();
    bool ok() const { return ok_; }
    const std::string& sink() const { return sink_; }
    const std::string& runtimeDir() const { return dir_.path(); }
    // Runs pactl against this server.
    CommandResult pactl(const std::vector<std::string>& args) const;
    // SIGKILL, as a crash would; restart() starts it again on the same socket. True when up.
    void kill();
    bool restart();
    int pid() const { return proc_ ? proc_->pid() : -1; }

private:
    bool start();
    TempDir dir_;
    std::unique_ptr<BackgroundProcess> proc_;
    std::string sink_;
    bool deviceRestore_ = false;
    std::string oldRuntime_, oldServer_;
    bool ok_ = false;
};

// A private session bus: dbus-daemon on a socket in its own directory. While it lives,
// DBUS_SESSION_BUS_ADDRESS in this process names it, so child processes reach it.
class SessionBus {
public:
    SessionBus();
    ~SessionBus();
    bool ok() const { return pid_ > 0; }
    const std::string& address() const { return address_; }

private:
    TempDir dir_;
    std::string address_;
    int pid_ = -1;
    std::string oldAddress_;
    bool hadAddress_ = false;
};

// The output the e2e tests play through: what VESPERON_AUDIO_OUTPUT said when the test program
// first asked (so `VESPERON_AUDIO_OUTPUT=alsa ctest -L e2e` runs them all on ALSA), else pulse.
std::string e2eAudioOutput();

// Records the sink's monitor (s16le, the sink's rate and channels) into a raw file with parec
// until stop() or destruction, asking for latencyMs (0: the server's default).
class MonitorRecording {
public:
    MonitorRecording(const PulseServer& server, const std::string& rawPath, int rate, int channels,
                     int latencyMs = 20);
    ~MonitorRecording();
    void stop();

private:
    std::unique_ptr<BackgroundProcess> proc_;
};

}  // namespace vesperon::test
