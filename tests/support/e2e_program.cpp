#include "tests/support/e2e_program.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

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

double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

int runProgramE2eMain(int argc, char** argv, const std::vector<std::string>& programs, bool sessionBus) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    for (const std::string& program : programs)
        if (!haveProgram(program)) {
            std::fprintf(stderr, "missing %s\n", program.c_str());
            return 1;
        }
    XServer x;
    PulseServer pulse;
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
