#pragma once
// MSB-first bit reader over a bounded byte buffer. Reads past the end yield zero bits and set
// the overrun flag instead of touching memory beyond the buffer.

#include <cstddef>
#include <cstdint>

namespace vesperon::mpeg {

class BitReader {
public:
    BitReader() = default;
    BitReader(const uint8_t* data, std::size_t size) : data_(data), sizeBits_(size * 8) {}

    // n from 0 to 32.
    uint32_t read(int n) {
        // Common case: four whole bytes from the current one lie inside the buffer.
        if (n <= 24 && sizeBits_ >= 32 && pos_ <= sizeBits_ - 32) {
            const uint8_t* p = data_ + (pos_ >> 3);
            uint32_t w = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
            w <<= (pos_ & 7);
            pos_ += static_cast<std::size_t>(n);
            return (w >> 1) >> (31 - n);  // two shifts: n = 0 gives 0 without a 32-bit shift
        }
        uint32_t v = 0;
        while (n > 0) {
            if (pos_ >= sizeBits_) {
                overrun_ = true;
                v = n >= 32 ? 0 : v << n;  // a 32-bit shift would be undefined
                pos_ += static_cast<std::size_t>(n);
                return v;
            }
            std::size_t byte = pos_ >> 3;
            int bitInByte = static_cast<int>(pos_ & 7);
            int take = 8 - bitInByte;
            if (take > n) take = n;
            uint32_t bits = (static_cast<uint32_t>(data_[byte]) >> (8 - bitInByte - take)) & ((1u << take) - 1u);
            v = (v << take) | bits;
            pos_ += static_cast<std::size_t>(take);
            n -= take;
        }
        return v;
    }
    uint32_t bit() { return read(1); }
    void skip(std::size_t n) {
        pos_ += n;
        if (pos_ > sizeBits_) overrun_ = true;
    }
    void seek(std::size_t bitPos) {
        pos_ = bitPos;
        if (pos_ > sizeBits_) overrun_ = true;
    }
    const uint8_t* data() const { return data_; }
    std::size_t position() const { return pos_; }
    std::size_t sizeBits() const { return sizeBits_; }
    std::size_t remaining() const { return pos_ >= sizeBits_ ? 0 : sizeBits_ - pos_; }
    bool overrun() const { return overrun_; }

private:
    const uint8_t* data_ = nullptr;
    std::size_t sizeBits_ = 0;
    std::size_t pos_ = 0;
    bool overrun_ = false;
};

}  // namespace vesperon::mpeg
