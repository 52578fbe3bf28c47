#include "ui/layout/gbk.h"

#include <iconv.h>

#include <algorithm>
#include <vector>

namespace vesperon::layout {
namespace {

// One open conversion per direction and thread: opening one costs far more than converting the
// short texts of a layout record.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    std::optional<std::string> operator()(std::string_view in) {
        // ASCII reads the same in both encodings.
        if (std::all_of(in.begin(), in.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            return std::string(in);
        if (!ok()) return std::nullopt;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // a clean start after an earlier failure
        // A GBK character is at most 2 bytes and becomes at most 4 in UTF-8, and the other way round
        // a character never grows.
        std::vector<char> out(in.size() * 2 + 4);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char* dst = out.data();
        std::size_t dstLeft = out.size();
        std::size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
        // A non-zero count means characters were only approximated: a failure too.
        if (rc != 0 || srcLeft != 0) return std::nullopt;
        if (iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
        return std::string(out.data(), static_cast<std::size_t>(dst - out.data()));
    }

private:
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t cd_;
};

}  // namespace

std::optional<std::string> gbkToUtf8(std::string_view gbk) {
    thread_local Converter convert("UTF-8", "GBK");
    return convert(gbk);
}

std::optional<std::string> utf8ToGbk(std::string_view utf8) {
    thread_local Converter convert("GBK", "UTF-8");
    return convert(utf8);
}

}  // namespace vesperon::layout
