#pragma once
// The one place where a failure is told to the user: a line on standard error, and where the
// window must say it too, an error box (through the controller, so that a quit cancels it).

#include <string>

namespace vesperon::app {

// "vesperon: " and the reason, on one line.
void reportLine(const std::string& reason);
// The same reason in the window's error box, whose text is in the window's language.
void reportInBox(const std::string& reason, const std::string& boxText);
// The same, the box shown once the running code (the start-up) has returned: it holds up nothing,
// and it is dropped when the window goes first.
void reportInBoxLater(const std::string& reason, const std::string& boxText);

}  // namespace vesperon::app
