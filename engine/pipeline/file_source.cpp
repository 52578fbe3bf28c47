#include "engine/pipeline/file_source.h"

#include <cstdio>
#include <system_error>

#include "engine/pipeline/result_codes.h"

namespace vesperon::engine {

FileSource::~FileSource() {
    stopThread();
    std::lock_guard lock(fileMutex_);
    file_.close();
}

void FileSource::setFile(const std::string& name, const std::string& password) {
    std::lock_guard lock(mutex_);
    name_ = name;
    password_ = password;
}

void FileSource::stopThread() {
    paused_ = false;
    requestStop();
    if (thread_.joinable()) thread_.join();
}

void FileSource::setReader(PipelineStage* reader) {
    std::lock_guard lock(mutex_);
    reader_ = reader;
}

int FileSource::open(StreamRing** ring) {
    std::lock_guard lock(mutex_);
    if (!output_) output_ = std::make_unique<StreamRing>(kRingSize, kRingOverhang);
    {
        std::lock_guard fileLock(fileMutex_);
        file_.setPassword(password_);
        if (int r = file_.open(name_)) return r;
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return kReaderThreadFailed;
    }
    if (ring) *ring = output_.get();
    return kDone;
}

int FileSource::seek(std::int64_t offset, int origin) {
    {
        std::lock_guard lock(fileMutex_);
        if (file_.seek(offset, origin) < 0) return kSeekFailed;
        // Under the file lock the reader holds no reservation, so the reset does not wait.
        if (int r = output_->reset()) return r;
    }
    signal();  // the reader may be idling at the old end of input
    return kDone;
}

int FileSource::resetOutput() {
    return seek(0, SEEK_SET);
}

void FileSource::close() {
    std::lock_guard lock(fileMutex_);
    file_.close();
    if (output_) output_->reset();
}

std::int64_t FileSource::dataLength() const {
    std::lock_guard lock(fileMutex_);
    return file_.dataLength();
}

void FileSource::run() {
    if (waitForSignal()) return;
    StreamRing* ring = output_.get();
    while (!stopping()) {
        if (ring->endOfInput()) {
            if (waitForSignal()) return;
            continue;
        }
        if (paused()) {
            if (waitForResume()) return;
            continue;
        }
        std::unique_lock lock(fileMutex_);
        std::uint8_t* block = nullptr;
        int r = ring->reserveWrite(kBlockSize, &block);
        if (r == kClosing) return;
        if (r == kNoRoom) {
            lock.unlock();
            if (waitForSignal()) return;
            continue;
        }
        if (r != kDone) {
            reportFailure();
            return;
        }
        std::size_t n = file_.read(block, kBlockSize);
        ring->commitWrite(n);
        if (n < kBlockSize) ring->setEndOfInput(true);
        lock.unlock();
        if (reader_) reader_->signal();
    }
}

}  // namespace vesperon::engine
