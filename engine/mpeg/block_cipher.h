#pragma once
// Password enciphering of audio files: every 4096-byte block of the file is XORed with an RC4
// keystream whose key depends on the password and the block's index, so any byte range can be
// deciphered on its own. Applying it twice gives the original bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/mpeg/rc4.h"

namespace vesperon::mpeg {

inline constexpr std::size_t kCipherBlockSize = 4096;
// Passwords of this many bytes or more are refused: the player's password buffer holds fewer,
// and the tools agree with it about what plays.
inline constexpr std::size_t kPasswordLimit = 512;

class BlockCipher {
public:
    // An empty password switches enciphering off.
    void setPassword(std::string_view password);
    bool active() const { return active_; }
    // The password's MD5 digest in hex, with adjacent digits swapped and the whole reversed.
    const std::string& keyDigest() const { return digest_; }
    // Deciphers (or enciphers) bytes that start at this file offset, in place.
    void apply(uint8_t* data, std::size_t size, uint64_t fileOffset);

private:
    uint32_t blockWord(uint64_t block);

    bool active_ = false;
    std::string digest_;
    Rc4 passwordStream_;           // keystream the block words come from, advanced lazily
    std::vector<uint32_t> words_;  // block words produced so far
};

}  // namespace vesperon::mpeg
