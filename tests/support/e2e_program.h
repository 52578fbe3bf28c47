#pragma once
// What the whole-program e2e test files share: their main starts one Xvfb and one PulseAudio
// null sink (and a session bus when asked) for all the file's tests, after checking that the
// programs the tests drive are installed; and the few helpers every such file uses.

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/servers.h"

namespace vesperon::test {

// The file's sound server, while its tests run.
PulseServer& e2ePulse();
// The left channel of the sink's volume as pactl reports it, -1 when unreadable.
long sinkVolume();
// value as pactl takes it: "60%" or a raw volume.
void setSinkVolume(const std::string& value);

double secondsSince(std::chrono::steady_clock::time_point t);
void sleepMs(int ms);
std::string trimmed(std::string s);

// The file's main: exits 1 naming the first missing program or a server that did not start.
int runProgramE2eMain(int argc, char** argv, const std::vector<std::string>& programs, bool sessionBus = false);

}  // namespace vesperon::test
