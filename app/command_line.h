#pragma once
// The program's command line: `vesperon [--session FILE] [FILE...]`.

#include <QString>
#include <QStringList>

namespace vesperon::app {

struct CommandLine {
    QString sessionFile;  // absolute; empty without --session
    QStringList files;    // absolute, in the order given
    QString error;        // non-empty: the arguments are unusable (say it and exit)
};

// arguments without argv[0]. Relative paths are taken from the current directory at the time
// of the call, so call it before the program changes directory. "--" ends the options.
CommandLine parseCommandLine(const QStringList& arguments);

}  // namespace vesperon::app
