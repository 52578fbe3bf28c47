#pragma once
// The title, artist, album and front cover of an MP3 file, from its ID3v2 tag (versions 2.2 to
// 2.4) at the start or its ID3v1 tag at the end. Tags are untrusted: every length is checked
// against the bytes there are, at most kMaxTagBytes of a file are read, and text comes out as
// valid UTF-8 whatever was stored.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vesperon::tags {

// A tag claiming more than this is read only this far (covers of a few MB fit).
constexpr std::size_t kMaxTagBytes = 16u << 20;
// Longer text is cut (at a character boundary): nobody reads a 100 kB title.
constexpr std::size_t kMaxTextBytes = 1024;

struct Picture {
    std::string mimeType;             // image/jpeg, image/png, ... as the tag says; may be empty
    std::vector<std::uint8_t> data;   // empty: no front cover
    int type = -1;                    // 3: front cover; 0: "other", taken when there is no front cover
};

struct Tags {
    std::string title;
    std::vector<std::string> artists;  // a tag may name several
    std::string album;
    // The picture of type 3, "front cover", or else the first of type 0, "other" (what lame
    // and others write when not told).
    Picture cover;
    bool empty() const { return title.empty() && artists.empty() && album.empty() && cover.data.empty(); }
};

// An ID3v2 tag: the bytes from its "ID3" header on (fewer than the tag claims is fine: what is
// there is read). Nothing when they are not an ID3v2 tag of a version this reads.
Tags parseId3v2(std::span<const std::uint8_t> bytes);
// An ID3v1 tag: the last 128 bytes of a file, starting "TAG".
Tags parseId3v1(std::span<const std::uint8_t> bytes);
// The file's tags: the ID3v2 tag's fields, with the ID3v1 tag's for any it lacks. Empty when the
// file cannot be read or has neither.
Tags readTags(const std::string& path);

}  // namespace vesperon::tags
