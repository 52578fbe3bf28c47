#include "engine/mpeg/block_cipher.h"

#include <algorithm>

#include "engine/mpeg/md5.h"

namespace vesperon::mpeg {

void BlockCipher::setPassword(std::string_view password) {
    words_.clear();
    digest_.clear();
    active_ = !password.empty();
    passwordStream_.schedule(reinterpret_cast<const uint8_t*>(password.data()), password.size());
    if (!active_) return;
    std::string hex = md5Hex(password);
    for (std::size_t k = 0; k + 1 < hex.size(); k += 2) std::swap(hex[k], hex[k + 1]);
    std::reverse(hex.begin(), hex.end());
    digest_ = hex;
}

uint32_t BlockCipher::blockWord(uint64_t block) {
    // The words come from one running keystream, so they are produced in order and kept.
    while (words_.size() <= block) {
        uint32_t w = 0;
        for (int b = 0; b < 4; ++b) w |= static_cast<uint32_t>(passwordStream_.next()) << (8 * b);
        words_.push_back(w);
    }
    return words_[block];
}

void BlockCipher::apply(uint8_t* data, std::size_t size, uint64_t fileOffset) {
    if (!active_) return;
    while (size > 0) {
        const uint64_t block = fileOffset / kCipherBlockSize;
        const std::size_t within = static_cast<std::size_t>(fileOffset % kCipherBlockSize);
        const std::size_t take = std::min(size, kCipherBlockSize - within);
        const uint32_t w = blockWord(block);
        const uint32_t tail = static_cast<uint32_t>(block) ^ w;
        uint8_t key[40];
        for (int b = 0; b < 4; ++b) key[b] = static_cast<uint8_t>(w >> (8 * b));
        std::copy(digest_.begin(), digest_.end(), key + 4);
        for (int b = 0; b < 4; ++b) key[36 + b] = static_cast<uint8_t>(tail >> (8 * b));
        Rc4 stream;
        stream.schedule(key, sizeof key);
        stream.discard(36 + within);
        stream.apply(data, take);
        data += take;
        size -= take;
        fileOffset += take;
    }
}

}  // namespace vesperon::mpeg
