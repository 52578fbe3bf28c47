// vesperon-cipher --password TEXT IN OUT
// Enciphers IN with the player's password cipher; applied to an enciphered file it gives the
// original back.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/mpeg/block_cipher.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: vesperon-cipher --password TEXT IN OUT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string password;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--password") == 0 && i + 1 < argc) {
            password = argv[++i];
        } else if (std::strncmp(argv[i], "--", 2) == 0 && std::strlen(argv[i]) > 2) {
            return usage();
        } else {
            files.emplace_back(argv[i]);
        }
    }
    if (files.size() != 2 || password.empty()) return usage();
    if (password.size() >= vesperon::mpeg::kPasswordLimit) {
        std::fprintf(stderr, "vesperon-cipher: the password is too long (%zu bytes; the player refuses %zu or more)\n",
                     password.size(), vesperon::mpeg::kPasswordLimit);
        return 2;
    }

    FILE* in = std::fopen(files[0].c_str(), "rb");
    if (!in) {
        std::fprintf(stderr, "vesperon-cipher: cannot open %s: %s\n", files[0].c_str(), std::strerror(errno));
        return 1;
    }
    FILE* out = files[1] == "-" ? stdout : std::fopen(files[1].c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "vesperon-cipher: cannot create %s: %s\n", files[1].c_str(),
                     std::strerror(errno));
        std::fclose(in);
        return 1;
    }
    vesperon::mpeg::BlockCipher cipher;
    cipher.setPassword(password);
    std::vector<uint8_t> block(1 << 16);
    uint64_t offset = 0;
    bool ok = true;
    while (true) {
        const std::size_t n = std::fread(block.data(), 1, block.size(), in);
        if (n == 0) break;
        cipher.apply(block.data(), n, offset);
        offset += n;
        if (std::fwrite(block.data(), 1, n, out) != n) {
            ok = false;
            break;
        }
    }
    if (std::ferror(in)) ok = false;
    std::fclose(in);
    if (out != stdout) {
        if (std::fclose(out) != 0) ok = false;
    } else if (std::fflush(out) != 0) {
        ok = false;
    }
    if (!ok) {
        std::fprintf(stderr, "vesperon-cipher: write or read failed\n");
        return 1;
    }
    return 0;
}
