#include "engine/mpeg/source_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vesperon::mpeg {

SourceFile::~SourceFile() {
    close();
}

void SourceFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    position_ = 0;
    audioStart_ = 0;
    audioEnd_ = 0;
}

namespace {

Status openError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return Status::FileNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
            return Status::AccessDenied;
        case EMFILE:
        case ENFILE:
            return Status::TooManyFiles;
        default:
            return Status::CannotOpen;
    }
}

}  // namespace

int64_t id3v2SkipSize(const uint8_t* h) {
    if (std::memcmp(h, "ID3", 3) != 0) return 0;
    const int major = h[3];
    if (major < 2 || major > 4) return 0;
    // A syncsafe size: 7 bits from each byte, most significant first, after the header.
    const int64_t size = (static_cast<int64_t>(h[6] & 0x7F) << 21) | ((h[7] & 0x7F) << 14) |
                         ((h[8] & 0x7F) << 7) | (h[9] & 0x7F);
    const bool footer = major == 4 && (h[5] & 0x10) != 0;
    return kID3v2HeaderSize + size + (footer ? kID3v2HeaderSize : 0);
}

Status SourceFile::open(const std::string& path) {
    close();
    // Non-blocking, so that opening a named pipe cannot wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return openError(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return openError(error);
    }
    // A folder opens on this system but can never be read as a file.
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return Status::AccessDenied;
    }
    // Pipes and devices have no size and may never end (a dropped /dev/zero would decode forever).
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Status::NotAFile;
    }
    fd_ = fd;
    int64_t end = static_cast<int64_t>(st.st_size);

    if (end >= kID3v1Size) {
        uint8_t tail[kID3v1Size];
        if (readAt(tail, sizeof tail, end - kID3v1Size) == sizeof tail && std::memcmp(tail, "TAG", 3) == 0) {
            end -= kID3v1Size;
        }
    }
    end -= apeTagSize(end);

    uint8_t header[kID3v2HeaderSize];
    if (readAt(header, sizeof header, 0) == sizeof header && std::memcmp(header, "ID3", 3) == 0) {
        // Other tag versions are scanned through by the frame search from just after the header.
        const int64_t skip = id3v2SkipSize(header);
        audioStart_ = skip > 0 ? skip : kID3v2HeaderSize;
    }
    // A tag that claims more than the file holds leaves no audio.
    audioStart_ = std::min(audioStart_, static_cast<int64_t>(st.st_size));
    audioEnd_ = std::max(end, audioStart_);
    position_ = 0;
    return Status::Ok;
}

// Bytes of an APE tag (footer, items and an optional header) that ends at `end`; 0 when none.
int64_t SourceFile::apeTagSize(int64_t end) {
    if (end < kApeFooterSize) return 0;
    uint8_t f[kApeFooterSize];
    if (readAt(f, sizeof f, end - kApeFooterSize) != sizeof f || std::memcmp(f, "APETAGEX", 8) != 0) return 0;
    auto le32 = [&](int at) {
        return static_cast<int64_t>(f[at]) | (static_cast<int64_t>(f[at + 1]) << 8) |
               (static_cast<int64_t>(f[at + 2]) << 16) | (static_cast<int64_t>(f[at + 3]) << 24);
    };
    // The size counts the items and the footer; bit 31 of the flags says a header precedes them.
    int64_t size = le32(12);
    if (size < kApeFooterSize) return 0;
    if (le32(20) & 0x80000000) size += kApeFooterSize;
    return size <= end ? size : 0;
}

std::size_t SourceFile::readAt(uint8_t* data, std::size_t size, int64_t offset) {
    if (fd_ < 0 || offset < 0) return 0;
    std::size_t total = 0;
    while (total < size) {
        const ssize_t n = ::pread(fd_, data + total, size - total, static_cast<off_t>(offset + total));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += static_cast<std::size_t>(n);
    }
    cipher_.apply(data, total, static_cast<uint64_t>(offset));
    return total;
}

std::size_t SourceFile::read(uint8_t* data, std::size_t size) {
    const int64_t left = audioEnd_ - audioStart_ - position_;
    if (left <= 0) return 0;
    size = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(size), left));
    const std::size_t n = readAt(data, size, audioStart_ + position_);
    position_ += static_cast<int64_t>(n);
    return n;
}

SourceFile::Block SourceFile::readBlock(uint8_t* block) {
    const std::size_t n = read(block, kReadBlockSize);
    return Block{n, n < kReadBlockSize};
}

int64_t SourceFile::seek(int64_t offset, int origin) {
    if (fd_ < 0) return -1;
    int64_t base;
    switch (origin) {
        case SEEK_SET:
            base = 0;
            break;
        case SEEK_CUR:
            base = position_;
            break;
        case SEEK_END:
            base = audioEnd_ - audioStart_;
            break;
        default:
            return -1;
    }
    const int64_t target = base + offset;
    if (target < 0) return -1;
    position_ = target;
    return position_;
}

}  // namespace vesperon::mpeg
