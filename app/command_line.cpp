#include "app/command_line.h"

#include <QDir>

namespace vesperon::app {

namespace {

QString absolute(const QString& path) { return QDir::cleanPath(QDir::current().absoluteFilePath(path)); }

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine line;
    bool optionsEnded = false, haveSession = false;
    for (qsizetype i = 0; i < arguments.size() && line.error.isEmpty(); ++i) {
        const QString& a = arguments[i];
        if (optionsEnded || !a.startsWith('-') || a == "-") {
            if (!a.isEmpty()) line.files << absolute(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            line.help = true;
        } else if (a == "--version") {
            line.version = true;
        } else if (a == "--session" || a.startsWith("--session=")) {
            QString file;
            if (a == "--session") {
                if (i + 1 >= arguments.size()) {
                    line.error = "--session needs a file name";
                    break;
                }
                file = arguments[++i];
            } else {
                file = a.mid(10);
            }
            if (file.isEmpty())
                line.error = "--session needs a file name";
            else if (haveSession)
                line.error = "--session is given twice";
            haveSession = true;
            line.sessionFile = absolute(file);
        } else {
            line.error = "unknown option " + a;
        }
    }
    return line;
}

}  // namespace vesperon::app
