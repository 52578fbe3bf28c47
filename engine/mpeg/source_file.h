#pragma once
// An audio file as the reader sees it: the audio between a leading ID3v2 tag and the trailing
// APE and "TAG" blocks, with positions counted from the first byte after the ID3v2 tag, and
// every byte read deciphered by its file offset when a password is set.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/mpeg/block_cipher.h"
#include "engine/status/status.h"

namespace vesperon::mpeg {

using engine::Status;

// The file is read in blocks of this size, by the player's reader thread and by the tools alike,
// so that both meet the same end of input.
inline constexpr std::size_t kReadBlockSize = 8192;

inline constexpr int kID3v1Size = 128;
inline constexpr int kID3v2HeaderSize = 10;
inline constexpr int kApeFooterSize = 32;

class SourceFile {
public:
    SourceFile() = default;
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    // Takes effect for every later read, the tag checks of open() included.
    void setPassword(std::string_view password) { cipher_.setPassword(password); }

    // Ok, FileNotFound, AccessDenied (a folder too), NotAFile (a pipe or a device),
    // TooManyFiles or CannotOpen. The position is 0: the first byte after a leading ID3v2 tag.
    Status open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // Reads up to `size` bytes at the current position; returns the count read (0 at the end
    // of the audio or on an error). The trailing tags are never read.
    std::size_t read(uint8_t* data, std::size_t size);
    // Reads the next kReadBlockSize bytes into block; `last` once the audio has ended (a short
    // or empty block).
    struct Block {
        std::size_t size = 0;
        bool last = false;
    };
    Block readBlock(uint8_t* block);
    // origin as for lseek (SEEK_SET, SEEK_CUR, SEEK_END, the last from the end of the audio);
    // the new position, or -1 on failure.
    int64_t seek(int64_t offset, int origin);
    int64_t position() const { return position_; }

    // Bytes of audio: the file less a leading ID3v2 tag, a final 128-byte "TAG" block and an
    // APE tag before it. Progress and seeks count in these bytes, so cover art does not.
    int64_t dataLength() const { return audioEnd_ - audioStart_; }
    // File offset of position 0.
    int64_t audioStart() const { return audioStart_; }

private:
    std::size_t readAt(uint8_t* data, std::size_t size, int64_t offset);
    int64_t apeTagSize(int64_t end);

    int fd_ = -1;
    int64_t position_ = 0;
    int64_t audioStart_ = 0;
    int64_t audioEnd_ = 0;
    BlockCipher cipher_;
};

// Size in bytes of the ID3v2 tag whose 10-byte header this is, counted from the file start
// (header and footer included); 0 when these bytes do not start a tag that is skipped.
int64_t id3v2SkipSize(const uint8_t* header10);

}  // namespace vesperon::mpeg
