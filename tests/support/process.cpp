#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/wait.h"

extern char** environ;

namespace vesperon::test {

namespace {

std::vector<char*> toArgv(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    for (const auto& a : argv) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

}  // namespace

CommandResult runCommand(const std::vector<std::string>& argv, int timeoutSeconds) {
    CommandResult result;
    if (argv.empty()) return result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    auto args = toArgv(argv);
    pid_t pid = fork();
    if (pid == 0) {
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        setpgid(0, 0);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    bool killed = false;
    char buf[65536];
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(-pid, SIGKILL);
            killed = true;
            break;
        }
        int n = poll(fds, 2, static_cast<int>(std::min<long>(left.count(), 1000)));
        if (n < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t r = read(fds[i].fd, buf, sizeof buf);
            if (r > 0) {
                (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(r));
            } else if (r == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!killed && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

bool haveProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream ss(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(ss, dir, ':')) {
        if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    }
    return false;
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vesperon-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& extraEnv) {
    if (argv.empty()) return;
    auto args = toArgv(argv);
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
    for (const auto& kv : extraEnv) {
        auto eq = kv.find('=');
        std::string key = kv.substr(0, eq + 1);
        std::erase_if(envStore, [&](const std::string& s) { return s.rfind(key, 0) == 0; });
        envStore.push_back(kv);
    }
    auto env = toArgv(envStore);
    pid_t pid = fork();
    if (pid == 0) {
        int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 0);
        if (!std::getenv("VESPERON_TEST_VERBOSE")) {
            dup2(devNull, 1);
            dup2(devNull, 2);
        }
        setpgid(0, 0);
        execvpe(args[0], args.data(), env.data());
        _exit(127);
    }
    pid_ = pid;
}

BackgroundProcess::~BackgroundProcess() { stop(); }

void BackgroundProcess::reaped(int status) const {
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    pid_ = -1;  // never signal a pid the system may hand out again
}

bool BackgroundProcess::running() const {
    if (pid_ <= 0) return false;
    int status;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == 0) return true;
    if (r == pid_)
        reaped(status);
    else
        pid_ = -1;
    return false;
}

void BackgroundProcess::signal(int sig) const {
    if (pid_ > 0) kill(pid_, sig);
}

int BackgroundProcess::wait(double timeoutSeconds) {
    return waitFor([&] { return !running(); }, static_cast<int>(timeoutSeconds * 1000)) ? exitStatus_ : -1;
}

void BackgroundProcess::stop() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    kill(pid_, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        int status;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || r < 0) {
            pid_ = -1;
            return;
        }
        usleep(20000);
    }
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

}  // namespace vesperon::test
