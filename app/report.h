#pragma once
// The one place where a failure is told to the user: a line on standard error, and where the
// window must say it too, an error box (through the controller, so that a quit cancels it).
// With no one to see the window (headless), nothing waits for a click: the box's news goes to
// standard error and the play log instead.

#include <cstdint>
#include <string>

namespace vesperon::app {

// "vesperon: " and the reason, on one line.
void reportLine(const std::string& reason);
// The same reason in the window's error box, whose text is in the window's language (an empty
// reason: the box's text stands for it where there is no box).
void reportInBox(const std::string& reason, const std::string& boxText);
// The same, the box shown once the running code (the start-up, a click or key that saved) has
// returned: it holds up nothing.
void reportInBoxLater(const std::string& reason, const std::string& boxText);
// A box of any kind shown that way; dropped when the window goes first or the player quits.
void showBoxLater(const std::string& text, std::int64_t flags, const std::string& caption);

}  // namespace vesperon::app
