#include "engine/pipeline/stream_ring.h"

#include <algorithm>
#include <cstring>

namespace vesperon::engine {

StreamRing::StreamRing(std::size_t size, std::size_t overhang)
    : overhang_(overhang), size_(size == 0 ? 1 : size), buffer_(new std::uint8_t[size_ + overhang_]()) {}

StreamRing::~StreamRing() {
    close();
}

void StreamRing::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    reservationEnded_.notify_all();
}

bool StreamRing::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

Status StreamRing::reserveWrite(std::size_t n, std::uint8_t** address) {
    std::lock_guard lock(mutex_);
    if (closed_) return Status::Stopping;
    if (n > size_) return Status::NoRoom;
    std::size_t space;
    if (fill_ == 0) {
        // An empty ring always takes the block; when it would reach past the overhang the
        // (unused) positions start over at 0.
        if (writePos_ + n > size_ + overhang_ && readReservation_ == 0) readPos_ = writePos_ = 0;
        space = size_ + overhang_ - writePos_;
    } else if (readPos_ < writePos_) {
        space = size_ - writePos_ + std::min(readPos_, overhang_);
    } else if (readPos_ > writePos_) {
        space = readPos_ - writePos_;
    } else {
        space = 0;  // full
    }
    if (space < n) return Status::NoRoom;
    *address = buffer_.get() + writePos_;
    writeReservation_ = n;
    return Status::Ok;
}

Status StreamRing::commitWrite(std::size_t n) {
    std::lock_guard lock(mutex_);
    if (closed_) return Status::Stopping;
    n = std::min(n, writeReservation_);
    std::size_t end = writePos_ + n;
    if (end > size_) std::memcpy(buffer_.get(), buffer_.get() + size_, end - size_);
    writePos_ = end % size_;
    fill_ += n;
    totalWritten_ += n;
    writeReservation_ = 0;
    reservationEnded_.notify_all();
    return Status::Ok;
}

Status StreamRing::reserveReadLocked(std::size_t n, std::uint8_t** address) {
    if (closed_) return Status::Stopping;
    if (fill_ < n) return endOfInput_ ? Status::EndOfData : Status::NotEnoughData;
    if (overhang_ > 0 && readPos_ + n > size_) {
        std::size_t part = readPos_ + n - size_;
        if (part > overhang_) return Status::BlockTooLarge;
        std::memcpy(buffer_.get() + size_, buffer_.get(), part);
    }
    *address = buffer_.get() + readPos_;
    readReservation_ = n;
    return Status::Ok;
}

Status StreamRing::reserveRead(std::size_t n, std::uint8_t** address) {
    std::lock_guard lock(mutex_);
    return reserveReadLocked(n, address);
}

Status StreamRing::consume(std::size_t n) {
    std::lock_guard lock(mutex_);
    if (closed_) return Status::Stopping;
    n = std::min(n, fill_);
    fill_ -= n;
    readPos_ = (readPos_ + n) % size_;
    totalConsumed_ += n;
    readReservation_ = 0;
    reservationEnded_.notify_all();
    return Status::Ok;
}

Status StreamRing::waitForNoReservation(std::unique_lock<std::mutex>& lock, bool readSide, bool writeSide) {
    reservationEnded_.wait(lock, [&] {
        return closed_ || ((!readSide || readReservation_ == 0) && (!writeSide || writeReservation_ == 0));
    });
    return closed_ ? Status::Stopping : Status::Ok;
}

Status StreamRing::trimToHalf() {
    std::unique_lock lock(mutex_);
    if (Status r = waitForNoReservation(lock, true, true); r != Status::Ok) return r;
    std::size_t half = size_ / 2;
    if (fill_ > half) {
        std::size_t drop = fill_ - half;
        fill_ = half;
        readPos_ = (readPos_ + drop) % size_;
        totalConsumed_ += drop;
    }
    return Status::Ok;
}

int StreamRing::fillLevel() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(fill_ * 100 / size_);
}

Status StreamRing::resetLocked() {
    fill_ = 0;
    readPos_ = writePos_ = 0;
    endOfInput_ = false;
    totalConsumed_ = totalWritten_;
    return Status::Ok;
}

Status StreamRing::reset() {
    std::unique_lock lock(mutex_);
    if (Status r = waitForNoReservation(lock, true, true); r != Status::Ok) return r;
    return resetLocked();
}

Status StreamRing::resize(std::size_t n, std::size_t overhang) {
    std::unique_lock lock(mutex_);
    if (closed_) return Status::Stopping;
    if (n < fill_ || n == 0) return Status::NoRoom;
    if (readPos_ != 0) return Status::ResizeRefused;
    if (Status r = waitForNoReservation(lock, true, true); r != Status::Ok) return r;
    if (n < fill_) return Status::NoRoom;
    if (readPos_ != 0) return Status::ResizeRefused;
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[n + overhang]());
    std::memcpy(buffer.get(), buffer_.get(), fill_);
    buffer_ = std::move(buffer);
    writePos_ = fill_ % n;
    size_ = n;
    overhang_ = overhang;
    return Status::Ok;
}

Status StreamRing::readPosition(std::size_t* position) {
    std::unique_lock lock(mutex_);
    if (Status r = waitForNoReservation(lock, true, false); r != Status::Ok) return r;
    *position = readPos_;
    return Status::Ok;
}

Status StreamRing::writePosition(std::size_t* position) {
    std::unique_lock lock(mutex_);
    if (Status r = waitForNoReservation(lock, false, true); r != Status::Ok) return r;
    *position = writePos_;
    return Status::Ok;
}

void StreamRing::setEndOfInput(bool value) {
    std::lock_guard lock(mutex_);
    endOfInput_ = value;
}

bool StreamRing::endOfInput() const {
    std::lock_guard lock(mutex_);
    return endOfInput_;
}

std::uint8_t* StreamRing::wrap(std::uint8_t* address) const {
    std::lock_guard lock(mutex_);
    if (address >= buffer_.get() + size_) address -= size_;
    return address;
}

std::size_t StreamRing::size() const {
    std::lock_guard lock(mutex_);
    return size_;
}

std::size_t StreamRing::overhang() const {
    std::lock_guard lock(mutex_);
    return overhang_;
}

std::size_t StreamRing::fill() const {
    std::lock_guard lock(mutex_);
    return fill_;
}

std::uint64_t StreamRing::totalWritten() const {
    std::lock_guard lock(mutex_);
    return totalWritten_;
}

// ---------------------------------------------------------------------------------------------

MessageRing::~MessageRing() {
    close();
    std::lock_guard lock(queueMutex_);
    queue_.clear();
}

Status MessageRing::reserveRead(std::size_t n, std::uint8_t** address) {
    std::lock_guard lock(mutex_);
    if (closed_) return Status::Stopping;
    {
        std::lock_guard queueLock(queueMutex_);
        if (!queue_.empty()) {
            // Distance in bytes written, not in buffer positions: a message posted when the
            // ring was full sits a whole ring ahead, not at the read position. A message at
            // the very end of the requested block is not due yet: the block's bytes come first.
            std::int64_t d = static_cast<std::int64_t>(queue_.front().streamPos) -
                             static_cast<std::int64_t>(totalConsumed_);
            if (d <= 0 || static_cast<std::uint64_t>(d) < n) return Status::MessageDue;
        }
    }
    return reserveReadLocked(n, address);
}

int MessageRing::fillLevel() const {
    std::lock_guard lock(mutex_);
    std::size_t f = fill_ > inFlight_ ? fill_ - inFlight_ : 0;
    return static_cast<int>(f * 100 / size_);
}

void MessageRing::postMessage(std::unique_ptr<StageMessage> message) {
    std::lock_guard lock(mutex_);
    std::lock_guard queueLock(queueMutex_);
    queue_.push_back(Entry{writePos_, totalWritten_, std::move(message)});
}

Status MessageRing::resetWithMessages() {
    std::unique_lock lock(mutex_);
    if (Status r = waitForNoReservation(lock, true, true); r != Status::Ok) return r;
    {
        std::lock_guard queueLock(queueMutex_);
        queue_.clear();
    }
    inFlight_ = 0;
    return resetLocked();
}

std::unique_ptr<StageMessage> MessageRing::takeMessage() {
    std::lock_guard queueLock(queueMutex_);
    if (queue_.empty()) return nullptr;
    std::unique_ptr<StageMessage> m = std::move(queue_.front().message);
    queue_.pop_front();
    return m;
}

int MessageRing::firstMessageCode() const {
    std::lock_guard queueLock(queueMutex_);
    if (queue_.empty() || !queue_.front().message) return -1;
    return queue_.front().message->code;
}

std::size_t MessageRing::unhanded() const {
    std::lock_guard lock(mutex_);
    return fill_ > inFlight_ ? fill_ - inFlight_ : 0;
}

void MessageRing::setInFlight(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    inFlight_ = bytes;
}

Status MessageRing::consumeHandedOn(std::size_t n) {
    std::lock_guard lock(mutex_);
    if (closed_) return Status::Stopping;
    n = std::min(n, fill_);
    fill_ -= n;
    readPos_ = (readPos_ + n) % size_;
    totalConsumed_ += n;
    return Status::Ok;
}

std::size_t MessageRing::queuedMessages() const {
    std::lock_guard queueLock(queueMutex_);
    return queue_.size();
}

}  // namespace vesperon::engine
