#include "engine/mpeg/rc4.h"

namespace vesperon::mpeg {

void Rc4::reset() {
    for (int k = 0; k < 256; ++k) s_[k] = static_cast<uint8_t>(k);
    i_ = 0;
    j_ = 0;
}

void Rc4::schedule(const uint8_t* key, std::size_t length) {
    reset();
    if (length == 0) return;
    uint8_t j = 0;
    for (int k = 0; k < 256; ++k) {
        j = static_cast<uint8_t>(j + s_[k] + key[static_cast<std::size_t>(k) % length]);
        const uint8_t t = s_[k];
        s_[k] = s_[j];
        s_[j] = t;
    }
}

}  // namespace vesperon::mpeg
