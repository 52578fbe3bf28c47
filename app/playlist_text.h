#pragma once
// Texts of the playlist: file names, row labels and dropped-file lists.

#include <string>
#include <string_view>
#include <vector>

namespace vesperon::app {

// What follows the last "/" of the path (the whole path when it has none).
std::string FileNameOf(std::string_view path);

// "n: " padded with spaces to 5 characters, then the file name.
std::string TrackLabel(int number, std::string_view path);

// Splits a dropped-files text at every "\r\n": an empty part between two separators stays, a
// trailing separator adds no empty part.
std::vector<std::string> SplitDroppedText(std::string_view text);

// True when the last four bytes are exactly ".mp3" (a shorter text is compared whole).
bool HasMp3Extension(std::string_view path);

}  // namespace vesperon::app
