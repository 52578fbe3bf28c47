#pragma once
// Running Debian's tools (encoders, peer decoders, servers) from tests.

#include <string>
#include <vector>

namespace vesperon::test {

struct CommandResult {
    int exitCode = -1;  // -1 when it could not be started or was killed by a signal
    std::string out;    // standard output
    std::string err;    // standard error
};

// Runs argv[0] (searched in PATH) with the arguments and waits for it; stdin is /dev/null.
CommandResult runCommand(const std::vector<std::string>& argv, int timeoutSeconds = 300);

// True when the program is on the PATH.
bool haveProgram(const std::string& name);

// A fresh directory under $TMPDIR, removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A child process that runs in the background until stop() or destruction (SIGTERM, then SIGKILL).
class BackgroundProcess {
public:
    explicit BackgroundProcess(const std::vector<std::string>& argv,
                               const std::vector<std::string>& extraEnv = {});
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;
    bool running() const;
    int pid() const { return pid_; }
    // Sends `sig` to the process (not its group).
    void signal(int sig) const;
    // Waits up to `timeoutSeconds` for it to end: its exit status, 128 + the signal that ended
    // it, or -1 when it still runs.
    int wait(double timeoutSeconds);
    void stop();

private:
    void reaped(int status) const;
    mutable int pid_ = -1;
    mutable int exitStatus_ = -1;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& data);

}  // namespace vesperon::test
