#pragma once
// The program's command line:
//   vesperon [--session FILE] [--log FILE] [--no-window] [--help] [--version] [FILE...]
// Arguments stay the bytes the system gave: a file named in a legacy encoding (not UTF-8) is
// still the same file when it reaches the playlist.

#include <string>
#include <vector>

#include "ui/result.h"

namespace vesperon::app {

struct CommandLine {
    std::string sessionFile;         // absolute; empty without --session
    std::string logFile;             // absolute; empty without --log (the default place)
    bool noWindow = false;           // --no-window: Qt's offscreen platform
    std::vector<std::string> files;  // absolute, in the order given
    bool help = false, version = false;  // print that and exit
};

// `arguments` without argv[0]. Relative paths are made absolute against the current folder
// (the program later works from its own folder). "--" ends the options; "--session=FILE" and
// "--log=FILE" work too. A bad command line gives one line saying what is wrong.
Result<CommandLine> parseCommandLine(const std::vector<std::string>& arguments);

// `path` made absolute against `base` (an absolute folder), with "." and ".." steps and doubled
// separators taken out, byte by byte.
std::string absolutePath(const std::string& path, const std::string& base);

}  // namespace vesperon::app
