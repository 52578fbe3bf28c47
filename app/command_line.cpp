#include "app/command_line.h"

#include <climits>
#include <unistd.h>

namespace vesperon::app {

namespace {

std::string currentFolder() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string("/");
}

// "session" or "log" for --session, --session=..., --log, --log=...; null for anything else.
const char* valueOption(const std::string& a) {
    for (const char* name : {"session", "log"}) {
        const std::string option = std::string("--") + name;
        if (a == option || a.rfind(option + "=", 0) == 0) return name;
    }
    return nullptr;
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

Result<CommandLine> parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    const std::string here = currentFolder();
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
            if (!a.empty()) line.files.push_back(absolutePath(a, here));
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            line.help = true;
        } else if (a == "--version") {
            line.version = true;
        } else if (a == "--no-window") {
            line.noWindow = true;
        } else if (const char* name = valueOption(a)) {
            const std::string option = std::string("--") + name;
            std::string file;
            if (a == option) {
                if (i + 1 >= arguments.size())
                    return Result<CommandLine>::failed(option + " needs a file name");
                file = arguments[++i];
            } else {
                file = a.substr(option.size() + 1);
            }
            std::string& into = option == "--session" ? line.sessionFile : line.logFile;
            if (file.empty()) return Result<CommandLine>::failed(option + " needs a file name");
            if (!into.empty()) return Result<CommandLine>::failed(option + " is given twice");
            into = absolutePath(file, here);
        } else {
            return Result<CommandLine>::failed("unknown option " + a);
        }
    }
    return line;
}

}  // namespace vesperon::app
