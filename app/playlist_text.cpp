#include "app/playlist_text.h"

namespace vesperon::app {

std::string FileNameOf(std::string_view path) {
    // UTF-8 continuation bytes are never '/', so a plain byte search cannot split a character.
    auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string TrackLabel(int number, std::string_view path) {
    std::string label = std::to_string(number) + ": ";
    if (label.size() < 5) label.append(5 - label.size(), ' ');
    return label + FileNameOf(path);
}

std::vector<std::string> SplitDroppedText(std::string_view text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < text.size()) {
        auto sep = text.find("\r\n", start);
        if (sep == std::string_view::npos) {
            parts.emplace_back(text.substr(start));
            break;
        }
        parts.emplace_back(text.substr(start, sep - start));
        start = sep + 2;
    }
    return parts;
}

bool HasMp3Extension(std::string_view path) {
    if (path.size() < 4) return path == ".mp3";
    return path.substr(path.size() - 4) == ".mp3";
}

}  // namespace vesperon::app
