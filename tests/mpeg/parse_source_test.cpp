// Opening files: error codes, the "TAG" length, ID3v2 skipping; MD5, RC4 and the password
// cipher; the file-backed byte source.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/mpeg/block_cipher.h"
#include "engine/mpeg/byte_source.h"
#include "engine/mpeg/md5.h"
#include "engine/mpeg/rc4.h"
#include "engine/mpeg/source_file.h"
#include "tests/support/process.h"

using namespace vesperon::mpeg;
using vesperon::test::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

void writeBytes(const std::string& path, const Bytes& b) {
    vesperon::test::writeFile(path, std::string(b.begin(), b.end()));
}

Bytes pattern(std::size_t n, uint32_t seed = 1) {
    Bytes b(n);
    for (auto& v : b) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<uint8_t>(seed >> 16);
    }
    return b;
}

std::string hexOf(const uint8_t* p, std::size_t n) {
    static const char* k = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s.push_back(k[p[i] >> 4]);
        s.push_back(k[p[i] & 15]);
    }
    return s;
}

Bytes id3Header(int major, uint32_t size, uint8_t flags = 0) {
    return {'I',
            'D',
            '3',
            static_cast<uint8_t>(major),
            0,
            flags,
            static_cast<uint8_t>((size >> 21) & 0x7F),
            static_cast<uint8_t>((size >> 14) & 0x7F),
            static_cast<uint8_t>((size >> 7) & 0x7F),
            static_cast<uint8_t>(size & 0x7F)};
}

}  // namespace

TEST(Md5, Rfc1321Vectors) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
    // Fed in pieces across block boundaries, the same digest.
    Md5 m;
    const std::string text =
        "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    for (std::size_t i = 0; i < text.size(); i += 7) m.update(std::string_view(text).substr(i, 7));
    const auto d = m.finish();
    EXPECT_EQ(hexOf(d.data(), d.size()), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Rc4, PublishedVectors) {
    struct Case {
        const char* key;
        const char* plain;
        const char* cipher;
    } cases[] = {
        {"Key", "Plaintext", "bbf316e8d940af0ad3"},
        {"Wiki", "pedia", "1021bf0420"},
        {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
    };
    for (const Case& c : cases) {
        Rc4 rc4;
        rc4.schedule(reinterpret_cast<const uint8_t*>(c.key), std::strlen(c.key));
        Bytes b(c.plain, c.plain + std::strlen(c.plain));
        rc4.apply(b.data(), b.size());
        EXPECT_EQ(hexOf(b.data(), b.size()), c.cipher) << c.key;
    }
    // RFC 6229: 40-bit key 0102030405, keystream bytes 0-15 and 256-271.
    const uint8_t key[5] = {1, 2, 3, 4, 5};
    Rc4 rc4;
    rc4.schedule(key, 5);
    Bytes ks(16);
    for (auto& v : ks) v = rc4.next();
    EXPECT_EQ(hexOf(ks.data(), 16), "b2396305f03dc027ccc3524a0a1118a8");
    rc4.discard(240);
    for (auto& v : ks) v = rc4.next();
    EXPECT_EQ(hexOf(ks.data(), 16), "1cfcf62b03eddb641d77dfcf7f8d8c93");
}

TEST(BlockCipher, KeyDigestIsSwappedAndReversed) {
    BlockCipher c;
    c.setPassword("abc");
    // md5("abc") = 900150983cd24fb0d6963f7d28e17f72, pairs swapped, then reversed: the bytes in
    // reverse order.
    EXPECT_EQ(c.keyDigest(), "727fe1287d3f96d6b04fd23c98500190");
    EXPECT_TRUE(c.active());
    c.setPassword("");
    EXPECT_FALSE(c.active());
    Bytes b = pattern(100);
    Bytes orig = b;
    c.apply(b.data(), b.size(), 0);
    EXPECT_EQ(b, orig);
}

TEST(BlockCipher, AnyRangeDeciphersLikeTheWholeBlock) {
    BlockCipher c;
    c.setPassword("secret password");
    const Bytes plain = pattern(5 * kCipherBlockSize + 123);
    Bytes whole = plain;
    c.apply(whole.data(), whole.size(), 0);
    EXPECT_NE(whole, plain);
    // Block-sized pieces, pieces from the middle of blocks and across block ends, in any order.
    struct Range {
        std::size_t from, size;
    } ranges[] = {{3 * 4096 + 1000, 50}, {4096 - 7, 20}, {0, 4096},
                  {2 * 4096 + 4095, 1},  {12345, 8192},  {1, 1}};
    for (const Range& r : ranges) {
        BlockCipher fresh;
        fresh.setPassword("secret password");
        Bytes part(plain.begin() + static_cast<std::ptrdiff_t>(r.from),
                   plain.begin() + static_cast<std::ptrdiff_t>(r.from + r.size));
        fresh.apply(part.data(), part.size(), r.from);
        EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin() + static_cast<std::ptrdiff_t>(r.from)))
            << r.from << "+" << r.size;
        // The same object, reused out of order, agrees too.
        Bytes again(plain.begin() + static_cast<std::ptrdiff_t>(r.from),
                    plain.begin() + static_cast<std::ptrdiff_t>(r.from + r.size));
        c.apply(again.data(), again.size(), r.from);
        EXPECT_EQ(again, part);
    }
    // Twice is the identity.
    c.apply(whole.data(), whole.size(), 0);
    EXPECT_EQ(whole, plain);
    // Blocks are keyed apart: equal plain blocks encipher differently, and so do passwords.
    Bytes zeros(2 * kCipherBlockSize, 0);
    c.apply(zeros.data(), zeros.size(), 0);
    EXPECT_FALSE(std::equal(zeros.begin(), zeros.begin() + 4096, zeros.begin() + 4096));
    BlockCipher other;
    other.setPassword("secret passworD");
    Bytes z2(2 * kCipherBlockSize, 0);
    other.apply(z2.data(), z2.size(), 0);
    EXPECT_NE(z2, zeros);
}

TEST(SourceFile, OpenErrorCodes) {
    TempDir dir;
    SourceFile f;
    EXPECT_EQ(f.open(dir.file("missing.mp3")), Status::FileNotFound);
    writeBytes(dir.file("plain"), pattern(10));
    EXPECT_EQ(f.open(dir.file("plain") + "/below.mp3"), Status::FileNotFound);
    EXPECT_EQ(f.open(dir.path()), Status::AccessDenied);
    if (geteuid() != 0) {
        writeBytes(dir.file("locked.mp3"), pattern(10));
        ::chmod(dir.file("locked.mp3").c_str(), 0);
        EXPECT_EQ(f.open(dir.file("locked.mp3")), Status::AccessDenied);
    }
    // Pipes and devices are not files to play: a pipe must not block the open, /dev/zero never ends.
    ASSERT_EQ(::mkfifo(dir.file("pipe.mp3").c_str(), 0600), 0);
    EXPECT_EQ(f.open(dir.file("pipe.mp3")), Status::NotAFile);
    EXPECT_EQ(f.open("/dev/zero"), Status::NotAFile);
    // Any other failure is the engine's code 1: a name too long, a loop of links.
    EXPECT_EQ(toCode(f.open(dir.file(std::string(300, 'x')))), 1);
    ::symlink("loop", dir.file("loop").c_str());
    EXPECT_EQ(toCode(f.open(dir.file("loop"))), 1);

    // Out of descriptors.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int probe = ::dup(0);
    ASSERT_GE(probe, 0);
    ::close(probe);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(probe);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    const Status code = f.open(dir.file("plain"));
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(code, Status::TooManyFiles);

    EXPECT_EQ(f.open(dir.file("plain")), Status::Ok);
    EXPECT_TRUE(f.isOpen());
}

TEST(SourceFile, DataLengthLessAFinalTag) {
    TempDir dir;
    Bytes body = pattern(3000);
    Bytes tagged = body;
    Bytes tag(128, ' ');
    std::memcpy(tag.data(), "TAG", 3);
    tagged.insert(tagged.end(), tag.begin(), tag.end());
    writeBytes(dir.file("tagged"), tagged);
    writeBytes(dir.file("plain"), body);
    Bytes tagOnly = tag;
    writeBytes(dir.file("tagonly"), tagOnly);
    Bytes tiny = {'T', 'A', 'G'};
    writeBytes(dir.file("tiny"), tiny);
    Bytes early = tagged;
    early.push_back(0);  // "TAG" one byte before the last 128: not a tag
    writeBytes(dir.file("early"), early);

    // An APE tag (items and footer, and a header when its flags say so) before the "TAG" block.
    auto ape = [](uint32_t items, bool header) {
        Bytes t(items + 32, 'i');
        uint8_t* f = t.data() + items;
        std::memcpy(f, "APETAGEX", 8);
        for (int i = 0; i < 4; ++i) f[12 + i] = static_cast<uint8_t>((items + 32) >> (8 * i));
        f[23] = header ? 0x80 : 0;
        if (header) t.insert(t.begin(), 32, 'h');
        return t;
    };
    Bytes apeTagged = body;
    for (const Bytes& part : {ape(50, true), tag}) apeTagged.insert(apeTagged.end(), part.begin(), part.end());
    writeBytes(dir.file("ape"), apeTagged);
    Bytes apeOnly = body;
    Bytes bare = ape(20, false);
    apeOnly.insert(apeOnly.end(), bare.begin(), bare.end());
    writeBytes(dir.file("apeonly"), apeOnly);

    SourceFile f;
    ASSERT_EQ(f.open(dir.file("tagged")), Status::Ok);
    EXPECT_EQ(f.dataLength(), 3000);
    // The tag is not read as audio.
    Bytes all(4000);
    EXPECT_EQ(f.read(all.data(), all.size()), 3000u);
    EXPECT_EQ(f.read(all.data(), all.size()), 0u);
    ASSERT_EQ(f.open(dir.file("ape")), Status::Ok);
    EXPECT_EQ(f.dataLength(), 3000);
    ASSERT_EQ(f.open(dir.file("apeonly")), Status::Ok);
    EXPECT_EQ(f.dataLength(), 3000);
    ASSERT_EQ(f.open(dir.file("plain")), Status::Ok);
    EXPECT_EQ(f.dataLength(), 3000);
    ASSERT_EQ(f.open(dir.file("tagonly")), Status::Ok);
    EXPECT_EQ(f.dataLength(), 0);
    ASSERT_EQ(f.open(dir.file("tiny")), Status::Ok);
    EXPECT_EQ(f.dataLength(), 3);
    ASSERT_EQ(f.open(dir.file("early")), Status::Ok);
    EXPECT_EQ(f.dataLength(), 3129);

    // With a password the tag check sees deciphered bytes.
    BlockCipher c;
    c.setPassword("pw");
    Bytes enc = tagged;
    c.apply(enc.data(), enc.size(), 0);
    writeBytes(dir.file("enc"), enc);
    SourceFile g;
    g.setPassword("pw");
    ASSERT_EQ(g.open(dir.file("enc")), Status::Ok);
    EXPECT_EQ(g.dataLength(), 3000);
    SourceFile h;
    ASSERT_EQ(h.open(dir.file("enc")), Status::Ok);
    EXPECT_EQ(h.dataLength(), static_cast<int64_t>(enc.size()) -
                                  (enc[3000] == 'T' && enc[3001] == 'A' && enc[3002] == 'G' ? 128 : 0));
}

TEST(SourceFile, SkipsId3v2TagsBySize) {
    TempDir dir;
    const Bytes body = pattern(2000, 7);
    struct Case {
        Bytes header;
        std::size_t tagBody;
        std::size_t start;  // where reading begins
    } cases[] = {
        {id3Header(3, 500), 500, 510}, {id3Header(2, 300), 300, 310},
        {id3Header(4, 700), 700, 710}, {id3Header(4, 700, 0x10), 710, 720},  // footer present
        {id3Header(5, 100), 100, 10},  // unknown version: only the header is passed
        {id3Header(3, 0), 0, 10},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        Bytes file = c.header;
        Bytes tagBody = pattern(c.tagBody, 99);
        file.insert(file.end(), tagBody.begin(), tagBody.end());
        file.insert(file.end(), body.begin(), body.end());
        const std::string path = dir.file("t" + std::to_string(n++));
        writeBytes(path, file);
        SourceFile f;
        ASSERT_EQ(f.open(path), Status::Ok);
        EXPECT_EQ(f.position(), 0);
        EXPECT_EQ(f.audioStart(), static_cast<int64_t>(c.start));
        uint8_t first[4];
        ASSERT_EQ(f.read(first, 4), 4u);
        EXPECT_EQ(0, std::memcmp(first, file.data() + c.start, 4));
        // The tag is not audio: lengths and seeks count without it.
        EXPECT_EQ(f.dataLength(), static_cast<int64_t>(file.size() - c.start));
        ASSERT_EQ(f.seek(0, SEEK_SET), 0);
        ASSERT_EQ(f.read(first, 4), 4u);
        EXPECT_EQ(0, std::memcmp(first, file.data() + c.start, 4));
    }
    // A syncsafe size uses 7 bits of each byte.
    EXPECT_EQ(id3v2SkipSize(id3Header(3, 0x0FFFFFFF).data()), 10 + 0x0FFFFFFF);
    Bytes odd = id3Header(3, 0);
    odd[6] = 0xFF;  // the high bit is ignored
    EXPECT_EQ(id3v2SkipSize(odd.data()), 10 + (0x7F << 21));
    // Files shorter than a tag header are read from the start; a tag larger than its file
    // leaves nothing to read.
    writeBytes(dir.file("short"), {'I', 'D', '3', 3});
    SourceFile s;
    EXPECT_EQ(s.open(dir.file("short")), Status::Ok);
    EXPECT_EQ(s.dataLength(), 4);
    Bytes huge = id3Header(3, 100000);
    huge.resize(5000, 0xFF);
    writeBytes(dir.file("huge"), huge);
    EXPECT_EQ(s.open(dir.file("huge")), Status::Ok);
    EXPECT_EQ(s.dataLength(), 0);
    EXPECT_EQ(s.read(huge.data(), huge.size()), 0u);
    writeBytes(dir.file("notag"), body);
    EXPECT_EQ(s.open(dir.file("notag")), Status::Ok);
    EXPECT_EQ(s.position(), 0);
}

TEST(SourceFile, ReadsDecipherByFileOffset) {
    TempDir dir;
    Bytes plain = id3Header(3, 5000);
    Bytes rest = pattern(30000, 3);
    plain.insert(plain.end(), rest.begin(), rest.end());
    BlockCipher c;
    c.setPassword("k");
    Bytes enc = plain;
    c.apply(enc.data(), enc.size(), 0);
    writeBytes(dir.file("enc"), enc);

    SourceFile f;
    f.setPassword("k");
    ASSERT_EQ(f.open(dir.file("enc")), Status::Ok);
    // The tag was recognised through the cipher.
    EXPECT_EQ(f.audioStart(), 5010);
    Bytes got(plain.size());
    const std::size_t n = f.read(got.data(), got.size());
    ASSERT_EQ(n, plain.size() - 5010);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n), plain.begin() + 5010));
    ASSERT_EQ(f.seek(12345, SEEK_SET), 12345);
    uint8_t mid[100];
    ASSERT_EQ(f.read(mid, 100), 100u);
    EXPECT_EQ(0, std::memcmp(mid, plain.data() + 5010 + 12345, 100));

    // The file-backed byte source serves the same bytes, from the tag's end, and stops at the end.
    SourceFile g;
    g.setPassword("k");
    ASSERT_EQ(g.open(dir.file("enc")), Status::Ok);
    FileByteSource src(g);
    const uint8_t* w = nullptr;
    ASSERT_EQ(src.peek(20000, &w), Status::Ok);
    EXPECT_EQ(0, std::memcmp(w, plain.data() + 5010, 20000));
    src.consume(15000);
    ASSERT_EQ(src.peek(10000, &w), Status::Ok);
    EXPECT_EQ(0, std::memcmp(w, plain.data() + 20010, 10000));
    src.consume(0);
    EXPECT_EQ(src.peek(20000, &w), Status::EndOfData);
    ASSERT_EQ(src.seek(100), Status::Ok);
    ASSERT_EQ(src.peek(1441, &w), Status::Ok);
    EXPECT_EQ(0, std::memcmp(w, plain.data() + 5010 + 100, 1441));
    EXPECT_EQ(src.dataLength(), static_cast<int64_t>(plain.size() - 5010));
}
