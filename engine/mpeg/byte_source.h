#pragma once
// The decoder's view of its input: a window of bytes at the read position, handed out in place
// and consumed once decoded. The threaded decoder stage serves it from the byte ring; the tools
// from a file read the way the reader thread reads it; tests and the fuzzer from memory.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/mpeg/source_file.h"
#include "engine/status/status.h"

namespace vesperon::mpeg {

using engine::Status;

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Makes `count` contiguous bytes at the read position available at *data without consuming
    // them: Ok; NotEnoughData when fewer are buffered yet (call waitForData() and ask again);
    // Stopping; EndOfData when the input has ended with fewer than `count` left. Every Ok is
    // followed by exactly one consume() (0 to release the window).
    virtual Status peek(std::size_t count, const uint8_t** data) = 0;
    virtual void consume(std::size_t count) = 0;
    // Moves the read position to this offset from the start of the file and drops what is
    // buffered: Ok, or SeekFailed.
    virtual Status seek(int64_t offset) = 0;
    // File size less a final "TAG" block.
    virtual int64_t dataLength() = 0;
    // Blocks until more input may be there: Ok, or Stopping.
    virtual Status waitForData() = 0;
};

// Serves a SourceFile block by block (SourceFile::readBlock, as the reader thread reads it), so
// the decoder sees exactly the bytes and the end of input that it sees in the player.
class FileByteSource : public ByteSource {
public:
    explicit FileByteSource(SourceFile& file) : file_(file) {}
    Status peek(std::size_t count, const uint8_t** data) override;
    void consume(std::size_t count) override;
    Status seek(int64_t offset) override;
    int64_t dataLength() override { return file_.dataLength(); }
    Status waitForData() override { return Status::Ok; }

private:
    SourceFile& file_;
    std::vector<uint8_t> buffer_;
    std::size_t start_ = 0;  // read position within buffer_
    bool ended_ = false;
};

// Serves bytes held in memory. With a non-zero `step` the input arrives `step` bytes per
// waitForData(), so callers meet the not-enough-data path as they do in the player.
class MemoryByteSource : public ByteSource {
public:
    MemoryByteSource(const uint8_t* data, std::size_t size, int64_t dataLength, std::size_t step = 0)
        : data_(data), size_(size), dataLength_(dataLength), step_(step), available_(step ? 0 : size) {}
    Status peek(std::size_t count, const uint8_t** data) override;
    void consume(std::size_t count) override;
    Status seek(int64_t offset) override;
    int64_t dataLength() override { return dataLength_; }
    Status waitForData() override;

    std::size_t position() const { return position_; }
    int waits() const { return waits_; }

private:
    const uint8_t* data_;
    std::size_t size_;
    int64_t dataLength_;
    std::size_t step_;
    std::size_t available_;  // bytes delivered so far, counted from position_ at the last seek
    std::size_t position_ = 0;
    int waits_ = 0;
};

}  // namespace vesperon::mpeg
