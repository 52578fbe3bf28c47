#include "app/command_line.h"

#include <climits>
#include <unistd.h>

namespace vesperon::app {

namespace {

std::string currentFolder() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string("/");
}

}  // namespace

std::string absolutePath(const std::string& path, const std::string& base) {
    const std::string whole = !path.empty() && path[0] == '/' ? path : base + "/" + path;
    std::vector<std::string> steps;
    size_t begin = 0;
    while (begin <= whole.size()) {
        size_t end = whole.find('/', begin);
        if (end == std::string::npos) end = whole.size();
        const std::string step = whole.substr(begin, end - begin);
        if (step == "..") {
            if (!steps.empty()) steps.pop_back();
        } else if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
        begin = end + 1;
    }
    std::string out;
    for (const std::string& s : steps) out += "/" + s;
    return out.empty() ? "/" : out;
}

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    const std::string here = currentFolder();
    bool optionsEnded = false, haveSession = false;
    for (size_t i = 0; i < arguments.size() && line.error.empty(); ++i) {
        const std::string& a = arguments[i];
        if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
            if (!a.empty()) line.files.push_back(absolutePath(a, here));
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            line.help = true;
        } else if (a == "--version") {
            line.version = true;
        } else if (a == "--session" || a.rfind("--session=", 0) == 0) {
            std::string file;
            if (a == "--session") {
                if (i + 1 >= arguments.size()) {
                    line.error = "--session needs a file name";
                    break;
                }
                file = arguments[++i];
            } else {
                file = a.substr(10);
            }
            if (file.empty())
                line.error = "--session needs a file name";
            else if (haveSession)
                line.error = "--session is given twice";
            haveSession = true;
            line.sessionFile = absolutePath(file, here);
        } else {
            line.error = "unknown option " + a;
        }
    }
    return line;
}

}  // namespace vesperon::app
