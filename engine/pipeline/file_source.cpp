#include "engine/pipeline/file_source.h"

#include <cstdio>
#include <system_error>

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

Status FileSource::open(StreamRing** ring) {
    std::lock_guard lock(mutex_);
    if (!output_) output_ = std::make_unique<StreamRing>(kRingSize, kRingOverhang);
    {
        std::lock_guard fileLock(fileMutex_);
        file_.setPassword(password_);
        if (Status r = file_.open(name_); r != Status::Ok) return r;
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return Status::ReaderThreadFailed;
    }
    if (ring) *ring = output_.get();
    return Status::Ok;
}

Status FileSource::seek(std::int64_t offset, int origin) {
    {
        std::lock_guard lock(fileMutex_);
        if (file_.seek(offset, origin) < 0) return Status::SeekFailed;
        // Under the file lock the reader holds no reservation, so the reset does not wait.
        if (Status r = output_->reset(); r != Status::Ok) return r;
    }
    signal();  // the reader may be idling at the old end of input
    return Status::Ok;
}

Status FileSource::resetOutput() {
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
        Status r = ring->reserveWrite(kBlockSize, &block);
        if (r == Status::Stopping) return;
        if (r == Status::NoRoom) {
            lock.unlock();
            if (waitForSignal()) return;
            continue;
        }
        if (r != Status::Ok) {
            reportFailure(r);
            return;
        }
        const mpeg::SourceFile::Block got = file_.readBlock(block);
        ring->commitWrite(got.size);
        if (got.last) ring->setEndOfInput(true);
        lock.unlock();
        if (reader_) reader_->signal();
    }
}

}  // namespace vesperon::engine
