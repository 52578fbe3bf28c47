#include "app/command_line.h"

#include <QDir>

namespace vesperon::app {

namespace {

QString absolute(const QString& path) { return QDir::cleanPath(QDir::current().absoluteFilePath(path)); }

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine line;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (optionsEnded || !a.startsWith(QLatin1String("--"))) {
            if (!a.isEmpty()) line.files << absolute(a);
            continue;
        }
        if (a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (a == QLatin1String("--session") || a.startsWith(QLatin1String("--session="))) {
            QString file;
            if (a.size() > 9) {
                file = a.mid(10);
            } else if (i + 1 < arguments.size()) {
                file = arguments[++i];
            }
            if (file.isEmpty()) {
                line.error = QStringLiteral("--session needs a file name");
                return line;
            }
            if (!line.sessionFile.isEmpty()) {
                line.error = QStringLiteral("--session is given more than once");
                return line;
            }
            line.sessionFile = absolute(file);
        } else {
            line.error = QStringLiteral("unknown option %1 (usage: vesperon [--session FILE] [FILE...])").arg(a);
            return line;
        }
    }
    return line;
}

}  // namespace vesperon::app
