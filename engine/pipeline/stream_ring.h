#pragma once
// Single-writer, single-reader circular byte buffers that hand out blocks in place.
//
// The byte ring (file reader to decoder) has an overhang past the end of its buffer so that a
// block crossing the end is still contiguous: a write lands in the overhang and is copied to the
// start at commit; a read that wraps gets the start copied behind the end. The PCM ring adds
// in-band messages anchored at byte positions, so a message reaches the reader exactly after
// the bytes written before it.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "engine/pipeline/stage_message.h"
#include "engine/status/status.h"

namespace vesperon::engine {

class StreamRing {
public:
    StreamRing(std::size_t size, std::size_t overhang);
    virtual ~StreamRing();
    StreamRing(const StreamRing&) = delete;
    StreamRing& operator=(const StreamRing&) = delete;

    // Marks the ring closed: every operation then returns Stopping (and the waits give up).
    void close();
    bool closed() const;

    // Ok and the block's address, or NoRoom / Stopping.
    virtual Status reserveWrite(std::size_t n, std::uint8_t** address);
    virtual Status commitWrite(std::size_t n);
    // Ok and the block's address, or NotEnoughData, EndOfData, BlockTooLarge, Stopping.
    virtual Status reserveRead(std::size_t n, std::uint8_t** address);
    virtual Status consume(std::size_t n);
    virtual Status trimToHalf();
    // Percent of the capacity holding unread bytes.
    virtual int fillLevel() const;

    // Empties the ring once neither side holds a reservation.
    Status reset();
    // Only before reading has begun: new capacity, contents kept at the start.
    Status resize(std::size_t n, std::size_t overhang);
    Status readPosition(std::size_t* position);
    Status writePosition(std::size_t* position);
    void setEndOfInput(bool value);
    bool endOfInput() const;
    // An address at or beyond the buffer's end is moved back by the size.
    std::uint8_t* wrap(std::uint8_t* address) const;

    std::size_t size() const;
    std::size_t overhang() const;
    std::size_t fill() const;
    std::uint64_t totalWritten() const;

protected:
    // Sleeps until no reservation of the given kinds is outstanding (woken when one ends, with
    // no timer); the lock is held on return unless the result is Stopping.
    Status waitForNoReservation(std::unique_lock<std::mutex>& lock, bool readSide, bool writeSide);
    // The read reservation without the message check; caller holds mutex_.
    Status reserveReadLocked(std::size_t n, std::uint8_t** address);
    Status resetLocked();

    // Lock order: mutex_ before MessageRing::queueMutex_; never the other way round.
    mutable std::mutex mutex_;
    // Notified when a reservation ends or the ring closes; waited on with mutex_.
    std::condition_variable reservationEnded_;

    // --- guarded by mutex_: every field below. The writer stage's thread reserves and commits,
    // the reader stage's thread reserves and consumes, the player's threads reset, resize and
    // close. The bytes inside a reservation are touched without the lock, by its holder only.
    bool closed_ = false;
    std::size_t fill_ = 0;
    std::size_t overhang_ = 0;
    std::size_t size_ = 0;
    std::size_t readPos_ = 0;
    std::size_t writePos_ = 0;
    bool endOfInput_ = false;
    std::size_t writeReservation_ = 0;
    std::size_t readReservation_ = 0;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::uint64_t totalWritten_ = 0;
    std::uint64_t totalConsumed_ = 0;
};

// The PCM ring: a StreamRing that also carries StageMessages.
class MessageRing : public StreamRing {
public:
    MessageRing(std::size_t size, std::size_t overhang = 0) : StreamRing(size, overhang) {}
    ~MessageRing() override;

    // In addition: MessageDue when the first queued message lies at the read position or
    // inside the requested block.
    Status reserveRead(std::size_t n, std::uint8_t** address) override;
    int fillLevel() const override;

    // Anchors the message at the current write position. A null message is queued too and
    // taken as null by the reader.
    void postMessage(std::unique_ptr<StageMessage> message);
    Status resetWithMessages();
    // Null when the queue is empty (or the message was null).
    std::unique_ptr<StageMessage> takeMessage();
    // The first message's code; -1 when there is none.
    int firstMessageCode() const;
    void setInFlight(std::size_t bytes);
    // Bytes written that the reader has not handed on yet.
    std::size_t unhanded() const;
    // Drops the oldest n bytes that the reader has already handed on; unlike reserveRead no
    // message can be due inside bytes the reader has already passed.
    Status consumeHandedOn(std::size_t n);
    std::size_t queuedMessages() const;

private:
    struct Entry {
        std::size_t position;     // write position when posted
        std::uint64_t streamPos;  // bytes written before it: tells a full ring from an empty one
        std::unique_ptr<StageMessage> message;
    };
    // Taken after mutex_ where both are needed (a message's anchor is the write position).
    // takeMessage() and the queries take it alone, so the renderer may read a message while
    // the decoder writes.
    mutable std::mutex queueMutex_;
    // --- guarded by queueMutex_; the decoder's thread posts, the renderer's thread takes, a
    // reset clears
    std::deque<Entry> queue_;
    // --- guarded by mutex_ (like the positions it is counted against); the renderer's thread
    // sets it, fillLevel() reads it from the decoder's thread
    std::size_t inFlight_ = 0;
};

}  // namespace vesperon::engine
