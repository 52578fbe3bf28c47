// The rings: free-space and contiguity rules, message anchoring, reset/resize, and a threaded
// writer/reader run that checks every byte and message arrives in order.

#include "engine/pipeline/stream_ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

using namespace vesperon::engine;

namespace {

// Writes n bytes of the running pattern starting at `next`.
void writeBlock(StreamRing& ring, std::size_t n, std::uint8_t& next) {
    std::uint8_t* p = nullptr;
    ASSERT_EQ(ring.reserveWrite(n, &p), Status::Ok);
    for (std::size_t i = 0; i < n; ++i) p[i] = next++;
    ASSERT_EQ(ring.commitWrite(n), Status::Ok);
}

}  // namespace

TEST(StreamRing, WriteThroughOverhangLandsAtStartAndReadWrapsContiguously) {
    const std::size_t size = 65536, overhang = 8192;
    StreamRing ring(size, overhang);
    std::uint8_t next = 0, expect = 0;
    // Move both positions to size - 100 with the ring empty.
    for (std::size_t done = 0; done < size - 100;) {
        std::size_t n = std::min<std::size_t>(8192, size - 100 - done);
        writeBlock(ring, n, next);
        std::uint8_t* p = nullptr;
        ASSERT_EQ(ring.reserveRead(n, &p), Status::Ok);
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(p[i], expect++);
        ring.consume(n);
        done += n;
    }
    std::size_t pos = 0;
    ASSERT_EQ(ring.writePosition(&pos), Status::Ok);
    EXPECT_EQ(pos, size - 100);

    // 8192 bytes written at size - 100 spill 8092 bytes past the end, copied to the start.
    writeBlock(ring, 8192, next);
    ASSERT_EQ(ring.writePosition(&pos), Status::Ok);
    EXPECT_EQ(pos, 8092u);
    // The spilled part is readable past the end, then from the start, in order.
    std::uint8_t* p = nullptr;
    ASSERT_EQ(ring.reserveRead(1441, &p), Status::Ok);
    for (std::size_t i = 0; i < 1441; ++i) ASSERT_EQ(p[i], static_cast<std::uint8_t>(expect + i)) << i;
    ring.consume(1441);
    expect += 1441;
    // A wrapping read after the writer has moved on still sees its bytes in order.
    ASSERT_EQ(ring.reserveRead(8192 - 1441, &p), Status::Ok);
    for (std::size_t i = 0; i < 8192 - 1441; ++i) ASSERT_EQ(p[i], static_cast<std::uint8_t>(expect + i));
    ring.consume(8192 - 1441);
}

TEST(StreamRing, FreeSpaceRulesAndResultCodes) {
    StreamRing ring(1000, 100);
    std::uint8_t next = 0;
    std::uint8_t* p = nullptr;
    EXPECT_EQ(ring.reserveRead(10, &p), Status::NotEnoughData);
    writeBlock(ring, 1000, next);
    EXPECT_EQ(ring.reserveWrite(1, &p), Status::NoRoom) << "a full ring has no room";
    ring.commitWrite(0);
    ASSERT_EQ(ring.reserveRead(600, &p), Status::Ok);
    ring.consume(600);
    // Read position 600, write position 0: 600 free.
    EXPECT_EQ(ring.reserveWrite(601, &p), Status::NoRoom);
    ASSERT_EQ(ring.reserveWrite(600, &p), Status::Ok);
    ring.commitWrite(600);
    EXPECT_EQ(ring.fillLevel(), 100);

    // End of input: fewer bytes than asked gives 33 instead of 24.
    StreamRing tail(4096, 1441);
    writeBlock(tail, 1000, next);
    EXPECT_EQ(tail.reserveRead(1441, &p), Status::NotEnoughData);
    tail.setEndOfInput(true);
    EXPECT_EQ(tail.reserveRead(1441, &p), Status::EndOfData);
    EXPECT_EQ(tail.reserveRead(1000, &p), Status::Ok);
    tail.consume(0);

    // A wrapping read larger than the overhang cannot be made contiguous.
    StreamRing small(100, 10);
    writeBlock(small, 90, next);
    small.reserveRead(90, &p);
    small.consume(90);
    writeBlock(small, 10, next);
    writeBlock(small, 40, next);
    EXPECT_EQ(small.reserveRead(30, &p), Status::BlockTooLarge);
    EXPECT_EQ(small.reserveRead(20, &p), Status::Ok);
    small.consume(0);

    ring.close();
    EXPECT_EQ(ring.reserveRead(1, &p), Status::Stopping);
    EXPECT_EQ(ring.reserveWrite(1, &p), Status::Stopping);
    EXPECT_EQ(ring.reset(), Status::Stopping);
}

TEST(StreamRing, ResizeAndResetRules) {
    StreamRing ring(64512, 0);
    std::uint8_t next = 0;
    writeBlock(ring, 4608, next);
    EXPECT_EQ(ring.resize(4000, 0), Status::NoRoom) << "smaller than the fill";
    ASSERT_EQ(ring.resize(524288 - 524288 % 4608, 0), Status::Ok);
    EXPECT_EQ(ring.size(), 113u * 4608);
    std::size_t pos = 0;
    ring.writePosition(&pos);
    EXPECT_EQ(pos, 4608u);
    std::uint8_t* p = nullptr;
    ASSERT_EQ(ring.reserveRead(4608, &p), Status::Ok);
    for (int i = 0; i < 4608; ++i) ASSERT_EQ(p[i], static_cast<std::uint8_t>(i));
    ring.consume(100);
    EXPECT_EQ(ring.resize(600000, 0), Status::ResizeRefused);

    // Reset waits until the reader's reservation is consumed.
    ASSERT_EQ(ring.reserveRead(100, &p), Status::Ok);
    std::atomic<bool> consumed{false};
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        consumed = true;
        ring.consume(100);
    });
    EXPECT_EQ(ring.reset(), Status::Ok);
    EXPECT_TRUE(consumed.load());
    reader.join();
    EXPECT_EQ(ring.fill(), 0u);
    EXPECT_FALSE(ring.endOfInput());

    writeBlock(ring, 1000, next);
    EXPECT_EQ(ring.trimToHalf(), Status::Ok);
    EXPECT_EQ(ring.fill(), 1000u);
    StreamRing trim(1000, 0);
    writeBlock(trim, 900, next);
    trim.trimToHalf();
    EXPECT_EQ(trim.fill(), 500u);
}

TEST(MessageRing, MessagesAreDueAtTheirBytePosition) {
    const std::size_t frame = 100;
    MessageRing ring(10 * frame);
    std::uint8_t next = 0;
    std::uint8_t* p = nullptr;
    ring.postMessage(StageMessage::makeFormat(PcmFormat::pcm16(2, 44100, 25)));
    EXPECT_EQ(ring.reserveRead(frame, &p), Status::MessageDue) << "posted at 0 of an empty ring";
    auto m = ring.takeMessage();
    ASSERT_TRUE(m && m->format);
    EXPECT_EQ(m->format->sampleRate, 44100);

    writeBlock(ring, frame, next);
    writeBlock(ring, frame, next);
    ring.postMessage(StageMessage::makeEndOfStream());
    EXPECT_EQ(ring.firstMessageCode(), StageMessage::kEndOfStream);
    // The frames before the message are read first; a message at the block's end waits.
    ASSERT_EQ(ring.reserveRead(frame, &p), Status::Ok);
    ring.consume(0);
    ASSERT_EQ(ring.reserveRead(2 * frame, &p), Status::Ok) << "message right after the block";
    ring.consume(0);
    EXPECT_EQ(ring.reserveRead(3 * frame, &p), Status::MessageDue);
    // Frames handed on and recycled do not make it due early either.
    ring.setInFlight(2 * frame);
    EXPECT_EQ(ring.fillLevel(), 0);
    ring.consumeHandedOn(frame);
    ring.setInFlight(frame);
    EXPECT_EQ(ring.reserveRead(2 * frame, &p), Status::MessageDue);
    ring.consumeHandedOn(frame);
    EXPECT_EQ(ring.reserveRead(frame, &p), Status::MessageDue);
    EXPECT_EQ(ring.takeMessage()->code, StageMessage::kEndOfStream);
    EXPECT_EQ(ring.takeMessage(), nullptr);
    EXPECT_EQ(ring.firstMessageCode(), -1);
}

TEST(MessageRing, MessagePostedIntoAFullRingComesAfterItsContents) {
    const std::size_t frame = 100;
    MessageRing ring(4 * frame);
    std::uint8_t next = 0, expect = 0;
    std::uint8_t* p = nullptr;
    for (int i = 0; i < 4; ++i) writeBlock(ring, frame, next);
    // Write position equals read position again, but the message sits a whole ring ahead.
    ring.postMessage(StageMessage::makeEndOfStream());
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(ring.reserveRead(frame, &p), Status::Ok) << "frame " << i;
        for (std::size_t b = 0; b < frame; ++b) ASSERT_EQ(p[b], expect++);
        ring.consume(frame);
    }
    EXPECT_EQ(ring.reserveRead(frame, &p), Status::MessageDue);
    ring.postMessage(nullptr);
    EXPECT_EQ(ring.takeMessage()->code, StageMessage::kEndOfStream);
    EXPECT_EQ(ring.takeMessage(), nullptr) << "a null message is still queued, and read as null";
    EXPECT_EQ(ring.queuedMessages(), 0u);
    ring.postMessage(StageMessage::makeEndOfStream());
    EXPECT_EQ(ring.resetWithMessages(), Status::Ok);
    EXPECT_EQ(ring.queuedMessages(), 0u);
}

TEST(StreamRing, ThreadedWriterAndReaderSeeEveryByteInOrder) {
    // The byte ring the way the reader thread and the decoder use it: 8192-byte writes of
    // varying length, reads of up to 4323 bytes across the end.
    StreamRing ring(65536, 8192);
    const std::size_t total = 3 * 1024 * 1024;
    std::thread writer([&] {
        std::mt19937 rng(1);
        std::size_t written = 0;
        std::uint8_t next = 0;
        while (written < total) {
            std::uint8_t* p = nullptr;
            if (ring.reserveWrite(8192, &p) != Status::Ok) {
                std::this_thread::yield();
                continue;
            }
            std::size_t n = std::min<std::size_t>(1 + rng() % 8192, total - written);
            for (std::size_t i = 0; i < n; ++i) p[i] = next++;
            ring.commitWrite(n);
            written += n;
        }
        ring.setEndOfInput(true);
    });
    std::mt19937 rng(2);
    std::uint8_t expect = 0;
    std::size_t read = 0;
    bool mismatch = false;
    for (;;) {
        std::size_t want = 1 + rng() % 4323;
        std::uint8_t* p = nullptr;
        Status r = ring.reserveRead(want, &p);
        if (r == Status::NotEnoughData) {
            std::this_thread::yield();
            continue;
        }
        if (r == Status::EndOfData) {
            std::size_t rest = ring.fill();
            if (rest == 0) break;
            ASSERT_EQ(ring.reserveRead(rest, &p), Status::Ok);
            want = rest;
        } else {
            ASSERT_EQ(r, Status::Ok);
        }
        std::size_t used = 1 + rng() % want;
        for (std::size_t i = 0; i < want && !mismatch; ++i)
            mismatch = p[i] != static_cast<std::uint8_t>(expect + i);
        ASSERT_FALSE(mismatch) << "at byte " << read;
        ring.consume(used);
        expect += static_cast<std::uint8_t>(used);
        read += used;
    }
    writer.join();
    EXPECT_EQ(read, total);
}

TEST(StreamRing, ResetWaitsForTheReadersReservationAndCloseReleasesIt) {
    // reset() sleeps while the reader holds a block; the consume that ends it wakes it, and so
    // does close() (with Status::Stopping) when nothing ends it.
    for (bool byClose : {false, true}) {
        StreamRing ring(1024, 0);
        std::uint8_t next = 0;
        writeBlock(ring, 100, next);
        std::uint8_t* p = nullptr;
        ASSERT_EQ(ring.reserveRead(50, &p), Status::Ok);
        std::atomic<bool> returned{false};
        std::atomic<Status> result{Status::NotConnected};  // not yet returned
        std::thread resetter([&] {
            result = ring.reset();
            returned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(returned.load()) << "reset returned while a block was reserved";
        if (byClose)
            ring.close();
        else
            ring.consume(50);
        resetter.join();
        EXPECT_EQ(result.load(), byClose ? Status::Stopping : Status::Ok);
        if (!byClose) {
            EXPECT_EQ(ring.fill(), 0u);
        }
    }
}
