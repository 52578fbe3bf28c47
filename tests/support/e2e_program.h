#pragma once
// What the whole-program e2e test files share: their main starts one Xvfb and one PulseAudio
// null sink (and a session bus when asked) for all the file's tests, after checking that the
// programs the tests drive are installed; and the helpers that look at the program from outside.

#include <chrono>
#include <functional>
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
// Polls the sink's volume until it is `want` or `timeout` seconds passed; what was read last.
long settledSinkVolume(long want, double timeout);
// True once a raw recording holds a loud sample (above 1000).
bool heard(const std::string& raw);

// The program as built.
std::string vesperonPath();
// Polls `done` every 50 ms (each look may run a program); the seconds until it held, or -1 when
// `timeout` seconds passed first.
double secondsUntil(const std::function<bool()>& done, double timeout);
// Polls `read` until it gives `want`, the same way; *seen is what it read last.
double secondsUntil(const std::function<std::string()>& read, const std::string& want, double timeout,
                    std::string* seen);

// Runs xdotool; true when it succeeded, its output trimmed into *out.
bool xdotool(const std::vector<std::string>& args, std::string* out = nullptr, int timeout = 10);
// The first visible window whose title matches, waiting up to `timeout` seconds; "" when none.
std::string findWindow(const std::string& pattern, int timeout);
bool windowShown(const std::string& pattern);
std::string windowTitle(const std::string& window);
// WIDTHxHEIGHT as xdotool reports it; "" when unreadable.
std::string windowSize(const std::string& window);
// A click at client coordinates, then the pointer leaves the window so no button shows hover.
void click(const std::string& window, int x, int y);
// `playerctl -p vesperon ARGS`: its output trimmed.
std::string playerctl(const std::vector<std::string>& args);

double secondsSince(std::chrono::steady_clock::time_point t);
void sleepMs(int ms);
std::string trimmed(std::string s);

// The file's main: exits 1 naming the first missing program or a server that did not start.
// deviceRestore: the sound server restores device volumes itself (PulseServer's option).
int runProgramE2eMain(int argc, char** argv, const std::vector<std::string>& programs,
                      bool sessionBus = false, bool deviceRestore = false);

}  // namespace vesperon::test
