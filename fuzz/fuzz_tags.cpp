// Feeds arbitrary bytes to the ID3v2 and ID3v1 readers. Beyond not crashing: every text comes out
// as valid UTF-8 within its bound, and no picture is larger than the input.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "engine/tags/id3.h"

using namespace vesperon::tags;

namespace {

bool validUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int more = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : -1;
        if (more < 0 || c > 0xF4 || i + more >= s.size() + (more ? 0 : 1)) return false;
        for (int k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += more + 1;
    }
    return true;
}

void check(const Tags& t, std::size_t size) {
    auto ok = [](const std::string& s) { return s.size() <= kMaxTextBytes && validUtf8(s) && s.find('\0') == std::string::npos; };
    if (!ok(t.title) || !ok(t.album) || t.cover.data.size() > size) std::abort();
    for (const auto& a : t.artists)
        if (a.empty() || !ok(a)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    check(parseId3v2(bytes), size);
    check(parseId3v1(bytes), size);
    return 0;
}
