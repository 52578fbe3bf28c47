#pragma once
// The program's command line: vesperon [--session FILE] [--help] [--version] [FILE...]

#include <QString>
#include <QStringList>

namespace vesperon::app {

struct CommandLine {
    QString sessionFile;  // absolute; empty without --session
    QStringList files;    // absolute, in the order given
    QString error;        // one line; empty when the command line is good
    bool help = false, version = false;  // print that and exit
};

// `arguments` without argv[0]. Relative paths are made absolute against the current folder
// (the program later works from its own folder). "--" ends the options; "--session=FILE" works too.
CommandLine parseCommandLine(const QStringList& arguments);

}  // namespace vesperon::app
