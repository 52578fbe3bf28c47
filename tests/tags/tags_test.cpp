// ID3 tags as writers really store them: every version and text encoding, unsynchronisation,
// extended headers, the plain frame sizes some 2.4 writers use, and damaged or hostile tags.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "engine/tags/id3.h"
#include "tests/support/process.h"

namespace vesperon::tags {
namespace {

using B = std::string;  // bytes, written as string literals

B be32(std::uint32_t n) { return {char(n >> 24), char(n >> 16), char(n >> 8), char(n)}; }
B safe32(std::uint32_t n) { return {char(n >> 21 & 0x7F), char(n >> 14 & 0x7F), char(n >> 7 & 0x7F), char(n & 0x7F)}; }
B f22(const B& id, const B& d) { return id + B{char(d.size() >> 16), char(d.size() >> 8), char(d.size())} + d; }
B f23(const B& id, const B& d, char flags = 0) { return id + be32(d.size()) + B{0, flags} + d; }
B f24(const B& id, const B& d, char flags = 0) { return id + safe32(d.size()) + B{0, flags} + d; }
B tag(int major, const B& body, char flags = 0) { return B("ID3") + char(major) + B{0, flags} + safe32(body.size()) + body; }
// What a writer's unsynchronisation does: a zero byte after every 0xFF.
B unsynced(const B& d) {
    B out;
    for (char c : d) {
        out += c;
        if (c == '\xFF') out += '\0';
    }
    return out;
}
B latin1(const B& s) { return B(1, '\0') + s; }
B utf8(const B& s) { return B(1, '\3') + s; }
const B kNul(1, '\0');
const B kJpeg = "\xFF\xD8\xFF\xE0jpegdata";

std::span<const std::uint8_t> bytes(const B& b) { return {reinterpret_cast<const std::uint8_t*>(b.data()), b.size()}; }

struct Case {
    const char* what;
    B tag;
    B title;
    std::vector<B> artists;
    B album;
    B cover = "";
};

TEST(Id3v2, EncodingsVersionsAndDamage) {
    const B longTitle = std::string(1023, 'x') + "\xE6\x99\x9A";  // the cut falls inside 晚
    const Case cases[] = {
        {"2.3 Latin-1", tag(3, f23("TIT2", latin1("Caf\xE9" + kNul)) + f23("TPE1", latin1("Ann")) +
                                   f23("TALB", latin1("Dusk")) + B(20, '\0')),
         "Caf\xC3\xA9", {"Ann"}, "Dusk"},
        {"2.4 UTF-8, two artists", tag(4, f24("TIT2", utf8("\xE6\x99\x9A\xE9\x92\x9F")) + f24("TPE1", utf8("A" + kNul + "B"))),
         "\xE6\x99\x9A\xE9\x92\x9F", {"A", "B"}, ""},
        {"2.3 UTF-16 LE and BE marks, a surrogate pair",
         tag(3, f23("TIT2", B("\x01\xFF\xFE\x5A\x66\x9F\x94\x00\x00", 9)) +
                    f23("TALB", B("\x01\xFE\xFF\xD8\x3C\xDF\xB5", 7))),
         "\xE6\x99\x9A\xE9\x92\x9F", {}, "\xF0\x9F\x8E\xB5"},
        {"2.4 UTF-16BE, lone surrogate", tag(4, f24("TIT2", B("\x02\x00\x41\xDC\x00", 5))), "A\xEF\xBF\xBD", {}, ""},
        {"2.2 frames and PIC", tag(2, f22("TT2", latin1("T")) + f22("TP1", latin1("P")) + f22("TAL", latin1("L")) +
                                         f22("PIC", latin1("JPG") + "\x03" + "d" + kNul + kJpeg)),
         "T", {"P"}, "L", kJpeg},
        {"2.3 tag unsynchronised", tag(3, unsynced(f23("TIT2", latin1("a\xFF\xFF" "b"))), '\x80'),
         "a\xC3\xBF\xC3\xBF" "b", {}, ""},
        {"2.4 frame unsynchronised, data length", tag(4, f24("TIT2", be32(3) + unsynced(latin1("\xFF" "c")), 0x03)),
         "\xC3\xBF" "c", {}, ""},
        {"2.3 extended header", tag(3, be32(6) + B(6, '\0') + f23("TIT2", latin1("E")), 0x40), "E", {}, ""},
        {"2.4 extended header", tag(4, safe32(6) + B("\x01\x00", 2) + f24("TIT2", latin1("E")), 0x40), "E", {}, ""},
        {"2.4 plain frame size", tag(4, f23("TIT2", latin1(B(200, 'p'))) + f24("TALB", latin1("after"))), B(200, 'p'), {}, "after"},
        {"front cover among pictures",
         tag(3, f23("APIC", latin1("image/png") + kNul + kNul + kNul + "other") +
                    f23("APIC", B(1, '\1') + "image/jpeg" + kNul + "\x03" + B("\xFF\xFE" "d\0\0\0", 6) + kJpeg)),
         "", {}, "", kJpeg},
        {"\"other\" without a front cover; a back cover never",
         tag(3, f23("APIC", latin1("image/png") + kNul + "\x04" + kNul + "back") +
                    f23("APIC", latin1("image/jpeg") + kNul + kNul + kNul + kJpeg)),
         "", {}, "", kJpeg},
        {"compressed and encrypted frames skipped", tag(3, f23("TIT2", latin1("zz"), '\x80') + f23("TALB", latin1("A"), '\x40') +
                                                             f23("TPE1", latin1("ok"))),
         "", {"ok"}, ""},
        {"frame past the end", tag(3, f23("TIT2", latin1("kept")) + "TALB" + be32(1000) + B(2, '\0') + "x"), "kept", {}, ""},
        {"bad UTF-8, unknown encoding", tag(4, f24("TIT2", utf8("a\xC0\xAF\xED\xA0\x80z")) + f24("TALB", B("\x07x", 2))),
         "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "z", {}, ""},
        {"long text cut at a character", tag(3, f23("TIT2", utf8(longTitle))), std::string(1023, 'x'), {}, ""},
        {"size not syncsafe", B("ID3\x03\x00\x00\x00\x00\x80\x00", 10) + f23("TIT2", latin1("no")), "", {}, ""},
        {"version 5", tag(5, f24("TIT2", latin1("no"))), "", {}, ""},
        {"header only", B("ID3\x04\x00\x00\x7F\x7F\x7F\x7F", 10), "", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Tags t = parseId3v2(bytes(c.tag));
        EXPECT_EQ(t.title, c.title);
        EXPECT_EQ(t.artists, c.artists);
        EXPECT_EQ(t.album, c.album);
        EXPECT_EQ(B(t.cover.data.begin(), t.cover.data.end()), c.cover);
    }
}

TEST(Id3, FileMergesV2OverV1AndReadsOnlyRegularFiles) {
    test::TempDir dir;
    B v1 = "TAG" + B("v1 title") + B(22, '\0') + B("v1 artist   ") + B(18, ' ') + B("v1 album") + B(22, '\0') + B(35, '\0');
    v1.resize(128, '\0');
    test::writeFile(dir.file("both.mp3"), tag(3, f23("TIT2", latin1("v2 title"))) + B(500, '\xFF') + v1);
    const Tags t = readTags(dir.file("both.mp3"));
    EXPECT_EQ(t.title, "v2 title");
    EXPECT_EQ(t.artists, std::vector<B>{"v1 artist"});
    EXPECT_EQ(t.album, "v1 album");
    // A tag claiming 256 MB in a small file; a FIFO (never opened for a blocking read); no file.
    test::writeFile(dir.file("claims.mp3"), B("ID3\x04\x00\x00\x7F\x7F\x7F\x7F", 10) + f24("TIT2", latin1("c")));
    EXPECT_EQ(readTags(dir.file("claims.mp3")).title, "c");
    ASSERT_EQ(mkfifo(dir.file("fifo.mp3").c_str(), 0600), 0);
    EXPECT_TRUE(readTags(dir.file("fifo.mp3")).empty());
    EXPECT_TRUE(readTags(dir.file("missing.mp3")).empty());
}

}  // namespace
}  // namespace vesperon::tags
