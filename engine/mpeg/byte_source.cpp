#include "engine/mpeg/byte_source.h"

#include <algorithm>
#include <cstdio>

namespace vesperon::mpeg {

Status FileByteSource::peek(std::size_t count, const uint8_t** data) {
    while (buffer_.size() - start_ < count && !ended_) {
        // Keep the buffer small: drop what has been consumed before reading on.
        if (start_ > 0) {
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
            start_ = 0;
        }
        const std::size_t old = buffer_.size();
        buffer_.resize(old + kReadBlockSize);
        const SourceFile::Block got = file_.readBlock(buffer_.data() + old);
        buffer_.resize(old + got.size);
        ended_ = got.last;
    }
    if (buffer_.size() - start_ < count) return ended_ ? Status::EndOfData : Status::NotEnoughData;
    *data = buffer_.data() + start_;
    return Status::Ok;
}

void FileByteSource::consume(std::size_t count) {
    start_ = std::min(buffer_.size(), start_ + count);
}

Status FileByteSource::seek(int64_t offset) {
    if (file_.seek(offset, SEEK_SET) < 0) return Status::SeekFailed;
    buffer_.clear();
    start_ = 0;
    ended_ = false;
    return Status::Ok;
}

Status MemoryByteSource::peek(std::size_t count, const uint8_t** data) {
    const std::size_t left = size_ - position_;
    const std::size_t buffered = std::min(available_, left);
    if (buffered < count) return buffered == left ? Status::EndOfData : Status::NotEnoughData;
    *data = data_ + position_;
    return Status::Ok;
}

void MemoryByteSource::consume(std::size_t count) {
    count = std::min(count, size_ - position_);
    position_ += count;
    available_ = available_ > count ? available_ - count : 0;
}

Status MemoryByteSource::seek(int64_t offset) {
    if (offset < 0) return Status::SeekFailed;
    position_ = static_cast<std::size_t>(std::min<int64_t>(offset, static_cast<int64_t>(size_)));
    available_ = step_ ? 0 : size_;
    return Status::Ok;
}

Status MemoryByteSource::waitForData() {
    ++waits_;
    available_ += step_ ? step_ : size_;
    return Status::Ok;
}

}  // namespace vesperon::mpeg
