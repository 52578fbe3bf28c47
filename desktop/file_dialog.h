#pragma once
// The open-file dialog: several existing files, a filter list written as "description|pattern"
// pairs, an optional preselected pair and start directory. Modal; the full paths come back in the
// order the dialog gives them, none when the user cancels.

#include <optional>
#include <string>
#include <vector>

namespace vesperon::desktop {

struct FilterPair {
    std::string description;
    std::string patterns;  // ";"-separated
    bool operator==(const FilterPair&) const = default;
};

// Trailing white space removed, "||" appended unless already there, then split at every "|";
// the list ends at the first empty part, and a description without a pattern is dropped.
std::vector<FilterPair> parseFilter(const std::string& filter);

// The 0-based pair to preselect: none without a filter or an index, a negative index counts as 0,
// an index beyond the list as the first pair.
std::optional<int> initialFilterPair(size_t pairCount, std::optional<int> index);

// The name filter the Qt dialog shows for a pair: the description itself when it already ends in
// its patterns in parentheses, else the description followed by them.
std::string qtNameFilter(const FilterPair& pair);

struct OpenFileDialogArgs {
    std::optional<std::string> title;
    std::optional<std::string> filter;
    std::optional<int> initialFilter;
    std::optional<std::string> initialDirectory;
    std::optional<bool> keepDirectory;  // true: the process's current directory stays as it was
};

inline constexpr const char* kDefaultOpenTitle = "请输入欲打开的文件：";

std::vector<std::string> OpenFileDialog(const OpenFileDialogArgs& args = {});

}  // namespace vesperon::desktop
