#include "tests/support/wait.h"

#include <chrono>
#include <thread>

namespace vesperon::test {

namespace {

std::function<void(int)>& waitStep() {
    static std::function<void(int)> step;
    return step;
}

}  // namespace

void setWaitStep(std::function<void(int ms)> step) { waitStep() = std::move(step); }

bool waitFor(const std::function<bool()>& done, int ms, int stepMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return done();
        if (waitStep())
            waitStep()(stepMs);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
    return true;
}

void pump(int ms) { waitFor([] { return false; }, ms); }

}  // namespace vesperon::test
