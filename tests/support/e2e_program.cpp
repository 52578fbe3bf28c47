#include "tests/support/e2e_program.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "tests/support/audio_compare.h"
#include "tests/support/wait.h"

namespace vesperon::test {

namespace {
PulseServer* gPulse = nullptr;
}  // namespace

PulseServer& e2ePulse() { return *gPulse; }

long sinkVolume() {
    CommandResult r = gPulse->pactl({"get-sink-volume", gPulse->sink()});
    auto p = r.out.find(':', r.out.find("front-left"));
    if (r.exitCode != 0 || p == std::string::npos) return -1;
    return std::strtol(r.out.c_str() + p + 1, nullptr, 10);
}

void setSinkVolume(const std::string& value) { gPulse->pactl({"set-sink-volume", gPulse->sink(), value}); }

long settledSinkVolume(long want, double timeout) {
    long v = -1;
    secondsUntil([&] { return (v = sinkVolume()) == want; }, timeout);
    return v;
}

bool heard(const std::string& raw) {
    for (int16_t s : readPcm16(raw))
        if (std::abs(s) > 1000) return true;
    return false;
}

std::string vesperonPath() {
    return std::string(VESPERON_BINARY_DIR) + "/app/vesperon";
}

double secondsUntil(const std::function<bool()>& done, double timeout) {
    const auto t0 = std::chrono::steady_clock::now();
    return waitFor(done, static_cast<int>(timeout * 1000), 50) ? secondsSince(t0) : -1;
}

double secondsUntil(const std::function<std::string()>& read, const std::string& want, double timeout,
                    std::string* seen) {
    return secondsUntil([&] { return (*seen = read()) == want; }, timeout);
}

bool xdotool(const std::vector<std::string>& args, std::string* out, int timeout) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    const CommandResult r = runCommand(argv, timeout);
    if (out) *out = trimmed(r.out);
    return r.exitCode == 0;
}

std::string findWindow(const std::string& pattern, int timeout) {
    std::string out;
    if (!xdotool({"search", "--sync", "--onlyvisible", "--name", pattern}, &out, timeout)) return "";
    return out.substr(0, out.find('\n'));
}

bool windowShown(const std::string& pattern) {
    return xdotool({"search", "--onlyvisible", "--name", pattern});
}

std::string windowTitle(const std::string& window) {
    std::string out;
    xdotool({"getwindowname", window}, &out);
    return out;
}

std::string windowSize(const std::string& window) {
    std::string out;
    xdotool({"getwindowgeometry", window}, &out);
    const auto at = out.find("Geometry: ");
    return at == std::string::npos ? "" : trimmed(out.substr(at + 10));
}

void click(const std::string& window, int x, int y) {
    xdotool({"mousemove", "--sync", "--window", window, std::to_string(x), std::to_string(y)});
    xdotool({"click", "1"});
    sleepMs(150);
    xdotool({"mousemove", "--sync", "1270", "1010"});
}

std::string playerctl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"playerctl", "-p", "vesperon"};
    argv.insert(argv.end(), args.begin(), args.end());
    return trimmed(runCommand(argv, 30).out);
}

double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

int runProgramE2eMain(int argc, char** argv, const std::vector<std::string>& programs, bool sessionBus,
                      bool deviceRestore) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    for (const std::string& program : programs)
        if (!haveProgram(program)) {
            std::fprintf(stderr, "missing %s\n", program.c_str());
            return 1;
        }
    XServer x;
    PulseServer pulse("vesperon_test", deviceRestore);
    std::unique_ptr<SessionBus> bus;
    if (sessionBus) bus = std::make_unique<SessionBus>();
    if (!x.ok() || !pulse.ok() || (bus && !bus->ok())) {
        std::fprintf(stderr, "no Xvfb, PulseAudio or session bus\n");
        return 1;
    }
    gPulse = &pulse;
    const int result = RUN_ALL_TESTS();
    gPulse = nullptr;
    return result;
}

}  // namespace vesperon::test
