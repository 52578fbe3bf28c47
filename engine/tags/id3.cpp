#include "engine/tags/id3.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace vesperon::tags {

namespace {

using Bytes = std::span<const std::uint8_t>;

enum Encoding { Latin1 = 0, Utf16Bom = 1, Utf16Be = 2, Utf8 = 3 };

std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
bool isSyncsafe(const std::uint8_t* p) { return ((p[0] | p[1] | p[2] | p[3]) & 0x80) == 0; }
std::uint32_t syncsafe(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 21 | std::uint32_t(p[1]) << 14 | std::uint32_t(p[2]) << 7 | p[3];
}

// Undoes unsynchronisation: every 0xFF 0x00 was a lone 0xFF.
std::vector<std::uint8_t> resync(Bytes b) {
    std::vector<std::uint8_t> out;
    out.reserve(b.size());
    for (std::size_t i = 0; i < b.size(); ++i) {
        out.push_back(b[i]);
        if (b[i] == 0xFF && i + 1 < b.size() && b[i + 1] == 0x00) ++i;
    }
    return out;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | c >> 6);
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | c >> 12);
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | c >> 18);
        out += char(0x80 | (c >> 12 & 0x3F));
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

constexpr char32_t kReplacement = 0xFFFD;

// One UTF-8 character at b[i], checked (no overlong forms, surrogates or values past U+10FFFF);
// advances i. A bad byte is one replacement character.
char32_t nextUtf8(Bytes b, std::size_t& i) {
    const std::uint8_t c = b[i++];
    if (c < 0x80) return c;
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
    if (more < 0 || c > 0xF4) return kReplacement;
    char32_t v = c & (0x3F >> more);
    const std::size_t start = i;
    for (int k = 0; k < more; ++k) {
        if (i >= b.size() || (b[i] & 0xC0) != 0x80) {
            i = start;
            return kReplacement;
        }
        v = v << 6 | (b[i++] & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (v < kMin[more] || v > 0x10FFFF || (v >= 0xD800 && v < 0xE000)) {
        i = start;
        return kReplacement;
    }
    return v;
}

// Trailing spaces off, and cut to kMaxTextBytes at a character boundary.
std::string finished(std::string s) {
    if (s.size() > kMaxTextBytes) {
        std::size_t n = kMaxTextBytes;
        while (n > 0 && (static_cast<std::uint8_t>(s[n]) & 0xC0) == 0x80) --n;
        s.resize(n);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

// One string of the encoding, without its terminator, as UTF-8.
std::string decode(int encoding, Bytes b) {
    std::string out;
    const std::size_t limit = kMaxTextBytes + 4;
    if (encoding == Latin1) {
        for (std::size_t i = 0; i < b.size() && out.size() < limit; ++i) appendUtf8(out, b[i]);
    } else if (encoding == Utf8) {
        for (std::size_t i = 0; i < b.size() && out.size() < limit;) appendUtf8(out, nextUtf8(b, i));
    } else {
        // UTF-16: big-endian unless a byte order mark says otherwise. A mark is required with
        // encoding 1, but some writers leave it out; they write little-endian.
        bool bigEndian = encoding == Utf16Be;
        std::size_t i = 0;
        if (b.size() >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
            bigEndian = b[0] == 0xFE;
            i = 2;
        } else if (encoding == Utf16Bom) {
            bigEndian = false;
        }
        auto unit = [&](std::size_t at) -> char32_t {
            return bigEndian ? char32_t(b[at]) << 8 | b[at + 1] : char32_t(b[at + 1]) << 8 | b[at];
        };
        for (; i + 1 < b.size() && out.size() < limit; i += 2) {
            char32_t c = unit(i);
            if (c >= 0xD800 && c < 0xDC00 && i + 3 < b.size()) {
                const char32_t low = unit(i + 2);
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
            }
            appendUtf8(out, c >= 0xD800 && c < 0xE000 ? kReplacement : c);
        }
    }
    return finished(std::move(out));
}

// Where the string starting at b[0] ends (its terminator's offset; b.size() when it has none).
std::size_t stringEnd(int encoding, Bytes b) {
    if (encoding == Utf16Bom || encoding == Utf16Be) {
        for (std::size_t i = 0; i + 1 < b.size(); i += 2)
            if (b[i] == 0 && b[i + 1] == 0) return i;
        return b.size();
    }
    const auto* nul = static_cast<const std::uint8_t*>(std::memchr(b.data(), 0, b.size()));
    return nul ? static_cast<std::size_t>(nul - b.data()) : b.size();
}
std::size_t terminatorSize(int encoding) { return encoding == Utf16Bom || encoding == Utf16Be ? 2 : 1; }

// A text frame's strings (ID3v2.4 separates several values by terminators), empty ones left out.
std::vector<std::string> textValues(Bytes d) {
    std::vector<std::string> values;
    if (d.empty() || d[0] > Utf8) return values;
    const int encoding = d[0];
    d = d.subspan(1);
    while (!d.empty() && values.size() < 16) {
        const std::size_t end = stringEnd(encoding, d);
        std::string v = decode(encoding, d.first(end));
        if (!v.empty()) values.push_back(std::move(v));
        d = d.subspan(std::min(d.size(), end + terminatorSize(encoding)));
    }
    return values;
}

// APIC (ID3v2.3/2.4) or PIC (ID3v2.2): encoding, MIME type or three-letter format, picture
// type, description, then the picture. A link ("-->") is not a picture.
void takePicture(Bytes d, bool v22, Picture& cover) {
    if (cover.type == 3 || d.size() < 2 || d[0] > Utf8) return;
    const int encoding = d[0];
    d = d.subspan(1);
    std::string mime;
    if (v22) {
        if (d.size() < 3) return;
        const std::string format(reinterpret_cast<const char*>(d.data()), 3);
        mime = format == "JPG" ? "image/jpeg" : format == "PNG" ? "image/png" : "";
        if (format == "-->") return;
        d = d.subspan(3);
    } else {
        const std::size_t end = stringEnd(Latin1, d);
        if (end == d.size()) return;
        mime = decode(Latin1, d.first(std::min<std::size_t>(end, 64)));
        if (mime == "-->") return;
        d = d.subspan(end + 1);
    }
    if (d.empty() || !(d[0] == 3 || (d[0] == 0 && cover.data.empty()))) return;
    const int type = d[0];
    d = d.subspan(1);
    const std::size_t end = stringEnd(encoding, d);
    if (end == d.size()) return;
    d = d.subspan(end + terminatorSize(encoding));
    if (d.empty()) return;
    cover.mimeType = mime;
    cover.data.assign(d.begin(), d.end());
    cover.type = type;
}

bool frameIdChar(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// Some writers store ID3v2.4 frame sizes as plain numbers, as 2.3 did. The syncsafe reading is
// taken unless only the plain one lands on the next frame (or the padding, or the end).
std::uint32_t v24FrameSize(Bytes body, std::size_t at) {
    const std::uint8_t* p = body.data() + at + 4;
    if (!isSyncsafe(p)) return be32(p);
    const std::uint32_t safe = syncsafe(p), plain = be32(p);
    if (safe == plain) return safe;
    auto landsWell = [&](std::uint64_t size) {
        const std::uint64_t next = at + 10 + size;
        if (next == body.size() || (next < body.size() && body[next] == 0)) return true;
        if (next + 4 > body.size()) return false;
        return std::all_of(body.begin() + next, body.begin() + next + 4, frameIdChar);
    };
    return landsWell(safe) || !landsWell(plain) ? safe : plain;
}

void takeFrame(const std::string& id, Bytes d, bool v22, Tags& t) {
    auto first = [&](std::string& field) {
        if (!field.empty()) return;
        auto values = textValues(d);
        if (!values.empty()) field = std::move(values.front());
    };
    if (id == "TIT2" || id == "TT2") {
        first(t.title);
    } else if (id == "TALB" || id == "TAL") {
        first(t.album);
    } else if (id == "TPE1" || id == "TP1") {
        if (t.artists.empty()) t.artists = textValues(d);
    } else if (id == "APIC" || id == "PIC") {
        takePicture(d, v22, t.cover);
    }
}

void merge(Tags& into, Tags from) {
    if (into.title.empty()) into.title = std::move(from.title);
    if (into.artists.empty()) into.artists = std::move(from.artists);
    if (into.album.empty()) into.album = std::move(from.album);
    if (into.cover.data.empty()) into.cover = std::move(from.cover);
}

}  // namespace

Tags parseId3v2(std::span<const std::uint8_t> in) {
    Tags t;
    if (in.size() < 10 || std::memcmp(in.data(), "ID3", 3) != 0) return t;
    const int major = in[3];
    const std::uint8_t flags = in[5];
    if (major < 2 || major > 4 || in[4] == 0xFF || !isSyncsafe(in.data() + 6)) return t;
    if (major == 2 && (flags & 0x40)) return t;  // 2.2's compression was never defined
    Bytes body = in.subspan(10, std::min<std::size_t>(syncsafe(in.data() + 6), in.size() - 10));
    const bool tagUnsync = flags & 0x80;
    // Up to 2.3 unsynchronisation covers the whole tag; in 2.4 each frame on its own.
    std::vector<std::uint8_t> plain;
    if (tagUnsync && major < 4) {
        plain = resync(body);
        body = plain;
    }
    if (major >= 3 && (flags & 0x40)) {  // an extended header: skipped
        if (body.size() < 4) return t;
        std::uint64_t size = 0;
        if (major == 3) {
            size = std::uint64_t(be32(body.data())) + 4;  // not counting its size field
        } else {
            if (!isSyncsafe(body.data())) return t;
            size = syncsafe(body.data());
        }
        if (size < 6 || size > body.size()) return t;
        body = body.subspan(size);
    }

    const bool v22 = major == 2;
    const std::size_t headerSize = v22 ? 6 : 10;
    std::size_t pos = 0;
    while (pos + headerSize <= body.size()) {
        const std::uint8_t* h = body.data() + pos;
        if (!std::all_of(h, h + (v22 ? 3 : 4), frameIdChar)) break;  // padding, or damage
        const std::string id(reinterpret_cast<const char*>(h), v22 ? 3 : 4);
        std::uint64_t size = v22 ? (std::uint32_t(h[3]) << 16 | std::uint32_t(h[4]) << 8 | h[5])
                             : major == 3 ? be32(h + 4)
                                          : v24FrameSize(body, pos);
        pos += headerSize;
        if (size > body.size() - pos) break;  // cut short: what came before still counts
        Bytes d = body.subspan(pos, size);
        pos += size;
        std::vector<std::uint8_t> frameResynced;
        if (major == 3) {
            const std::uint8_t f = h[9];
            if (f & 0xC0) continue;  // compressed or encrypted
            if (f & 0x20) {          // the group byte
                if (d.empty()) continue;
                d = d.subspan(1);
            }
        } else if (major == 4) {
            const std::uint8_t f = h[9];
            if (f & 0x0C) continue;  // compressed or encrypted
            const std::size_t extra = (f & 0x40 ? 1 : 0) + (f & 0x01 ? 4 : 0);  // group, data length
            if (d.size() < extra) continue;
            d = d.subspan(extra);
            if ((f & 0x02) || tagUnsync) {
                frameResynced = resync(d);
                d = frameResynced;
            }
        }
        takeFrame(id, d, v22, t);
    }
    return t;
}

Tags parseId3v1(std::span<const std::uint8_t> in) {
    Tags t;
    if (in.size() < 128) return t;
    in = in.last(128);
    if (std::memcmp(in.data(), "TAG", 3) != 0) return t;
    auto field = [&](std::size_t at) {
        const Bytes f = in.subspan(at, 30);
        return decode(Latin1, f.first(stringEnd(Latin1, f)));
    };
    t.title = field(3);
    if (std::string artist = field(33); !artist.empty()) t.artists.push_back(std::move(artist));
    t.album = field(63);
    return t;
}

Tags readTags(const std::string& path) {
    // Not blocking on a FIFO, and only regular files: the path comes from outside.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return {};
    struct stat st {};
    Tags t;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const std::uint64_t fileSize = static_cast<std::uint64_t>(st.st_size);
        auto readAt = [&](std::uint64_t offset, std::size_t count) {
            std::vector<std::uint8_t> buf(count);
            std::size_t got = 0;
            while (got < count) {
                const ssize_t n = ::pread(fd, buf.data() + got, count - got, static_cast<off_t>(offset + got));
                if (n <= 0) break;
                got += static_cast<std::size_t>(n);
            }
            buf.resize(got);
            return buf;
        };
        std::vector<std::uint8_t> head = readAt(0, 10);
        if (head.size() == 10 && std::memcmp(head.data(), "ID3", 3) == 0 && isSyncsafe(head.data() + 6)) {
            const std::uint64_t claimed = 10 + std::uint64_t(syncsafe(head.data() + 6));
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>({claimed, fileSize, kMaxTagBytes}));
            t = parseId3v2(readAt(0, want));
        }
        if (fileSize >= 128) merge(t, parseId3v1(readAt(fileSize - 128, 128)));
    }
    ::close(fd);
    return t;
}

}  // namespace vesperon::tags
