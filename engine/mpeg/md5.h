#pragma once
// MD5 message digest (RFC 1321).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vesperon::mpeg {

class Md5 {
public:
    Md5();
    void update(const uint8_t* data, std::size_t size);
    void update(std::string_view text) { update(reinterpret_cast<const uint8_t*>(text.data()), text.size()); }
    std::array<uint8_t, 16> finish();

private:
    void block(const uint8_t* p);
    uint32_t state_[4];
    uint64_t totalBytes_ = 0;
    uint8_t buffer_[64];
    std::size_t buffered_ = 0;
};

// The digest as 32 lower-case hexadecimal digits.
std::string md5Hex(std::string_view text);

}  // namespace vesperon::mpeg
