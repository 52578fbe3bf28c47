#pragma once
// Who the program is to the desktop and to its user: the version, the application id (the
// desktop entry's name, the Wayland app id, the AppStream id, the one-instance bus name) and the
// text of --help.

#include <string>

namespace vesperon::desktop {

const char* programVersion();
const char* applicationId();  // reverse-DNS, e.g. org.vesperon.Vesperon
// "usage: vesperon [--session FILE] ..." with its newline.
std::string usageText();
// The usage line and a line for each option, as --help prints them.
std::string helpText();

}  // namespace vesperon::desktop
