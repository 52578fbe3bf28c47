#include "ui/layout/gbk.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace vesperon::layout {
namespace {

std::optional<std::string> convert(const char* to, const char* from, std::string_view in) {
    if (in.empty()) return std::string();
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    // Every GBK character is at most 2 bytes and every UTF-8 one it maps to at most 3 (or 4).
    std::vector<char> out(in.size() * 4 + 4);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    bool ok = rc != static_cast<std::size_t>(-1) && srcLeft == 0;
    // iconv counts characters it could only approximate; those are failures too.
    if (ok && rc != 0) ok = false;
    if (ok) {
        // Flush any shift state (none for these encodings, but harmless).
        ok = iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<std::size_t>(-1);
    }
    iconv_close(cd);
    if (!ok) return std::nullopt;
    return std::string(out.data(), static_cast<std::size_t>(dst - out.data()));
}

}  // namespace

std::optional<std::string> gbkToUtf8(std::string_view gbk) {
    return convert("UTF-8", "GBK", gbk);
}

std::optional<std::string> utf8ToGbk(std::string_view utf8) {
    return convert("GBK", "UTF-8", utf8);
}

}  // namespace vesperon::layout
