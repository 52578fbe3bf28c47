#pragma once
// The RC4 stream cipher: key schedule and keystream.

#include <cstddef>
#include <cstdint>

namespace vesperon::mpeg {

class Rc4 {
public:
    Rc4() { reset(); }
    // Identity permutation, both indexes 0.
    void reset();
    // Resets, then runs the key schedule with the key (an empty key leaves the identity).
    void schedule(const uint8_t* key, std::size_t length);
    uint8_t next() {
        i_ = static_cast<uint8_t>(i_ + 1);
        j_ = static_cast<uint8_t>(j_ + s_[i_]);
        const uint8_t t = s_[i_];
        s_[i_] = s_[j_];
        s_[j_] = t;
        return s_[static_cast<uint8_t>(s_[i_] + s_[j_])];
    }
    void discard(std::size_t count) {
        while (count-- > 0) next();
    }
    void apply(uint8_t* data, std::size_t size) {
        for (std::size_t k = 0; k < size; ++k) data[k] ^= next();
    }

private:
    uint8_t s_[256];
    uint8_t i_ = 0;
    uint8_t j_ = 0;
};

}  // namespace vesperon::mpeg
