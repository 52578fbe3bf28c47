// GBK (code page 936) <-> UTF-8, through the C library's iconv.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesperon::layout {

// std::nullopt when the input is not valid in its encoding or has no form in the other one.
std::optional<std::string> gbkToUtf8(std::string_view gbk);
std::optional<std::string> utf8ToGbk(std::string_view utf8);

}  // namespace vesperon::layout
