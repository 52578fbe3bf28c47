#pragma once
// The tests' one way to wait for a state: poll a condition until it holds or the time is up.
// In a test with a Qt application the events are handled meanwhile (its main installs that),
// so that timers, posted messages and the window go on while the test waits.

#include <functional>

namespace vesperon::test {

// True once `done` holds; false when `ms` passed first. It looks every `stepMs`.
bool waitFor(const std::function<bool()>& done, int ms = 5000, int stepMs = 10);
// Lets `ms` pass (handling events where there are any): for checking that nothing happens.
void pump(int ms);
// What waitFor does between two looks: handle events for up to `ms` (sleep without a hook).
void setWaitStep(std::function<void(int ms)> step);

}  // namespace vesperon::test
