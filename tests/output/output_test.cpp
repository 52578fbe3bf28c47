// The null and WAV outputs: headers come back in order and at the right pace, pause holds them,
// reset returns them all, close refuses while any is queued, the WAV file is exact.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/output/audio_output.h"
#include "engine/output/queued_output.h"
#include "tests/player/engine_fixtures.h"
#include "tests/support/audio_compare.h"
#include "tests/support/process.h"

using namespace vesperon::engine;
using namespace vesperon::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct Returned {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<WaveHeader*> headers;

    static void done(void* context, WaveHeader* h) {
        auto* self = static_cast<Returned*>(context);
        std::lock_guard lock(self->mutex);
        self->headers.push_back(h);
        self->cv.notify_all();
    }
    bool waitFor(std::size_t n, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, timeout, [&] { return headers.size() >= n; });
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return headers.size();
    }
};

// 20 headers of 2205 frames (50 ms at 44.1 kHz stereo): one second.
struct Buffers {
    std::vector<std::uint8_t> pcm = std::vector<std::uint8_t>(20 * 8820);
    std::vector<WaveHeader> headers = std::vector<WaveHeader>(20);
    Buffers() {
        for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<std::uint8_t>(i * 13 + i / 8820);
        for (int i = 0; i < 20; ++i) {
            headers[i].data = pcm.data() + i * 8820;
            headers[i].bufferLength = 8820;
        }
    }
    void writeAll(AudioOutput& out) {
        for (WaveHeader& h : headers) {
            ASSERT_EQ(out.prepareHeader(&h), Status::Ok);
            ASSERT_EQ(out.write(&h), Status::Ok);
        }
    }
};

const PcmFormat kFormat = PcmFormat::pcm16(2, 44100);

}  // namespace

TEST(NullOutput, PlaysInRealTimeInOrderAndHoldsWhilePaused) {
    Returned r;
    Buffers b;
    auto out = makeNullOutput();
    ASSERT_EQ(out->open(kFormat, &Returned::done, &r), Status::Ok);
    auto t0 = Clock::now();
    b.writeAll(*out);
    EXPECT_EQ(out->close(), Status::StillPlaying);
    EXPECT_EQ(out->unprepareHeader(&b.headers[19]), Status::StillPlaying);
    ASSERT_TRUE(r.waitFor(6, 2s));
    out->pause();
    std::size_t atPause = r.count();
    std::this_thread::sleep_for(400ms);
    EXPECT_LE(r.count(), atPause + 1) << "headers keep coming back while paused";
    out->restart();
    ASSERT_TRUE(r.waitFor(20, 5s));
    double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_GE(elapsed, 1.3) << "one second of audio plus the pause";
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(r.headers[i], &b.headers[i]);
        EXPECT_TRUE(b.headers[i].flags & WaveHeader::kDone);
        EXPECT_EQ(out->unprepareHeader(&b.headers[i]), Status::Ok);
    }
    EXPECT_EQ(out->close(), Status::Ok);
}

TEST(NullOutput, ResetReturnsEveryQueuedHeaderAtOnce) {
    Returned r;
    Buffers b;
    auto out = makeNullOutput();
    ASSERT_EQ(out->open(kFormat, &Returned::done, &r), Status::Ok);
    out->pause();
    b.writeAll(*out);
    auto t0 = Clock::now();
    EXPECT_EQ(out->reset(), Status::Ok);
    EXPECT_EQ(r.count(), 20u);
    // Paused, the queue never plays out: a reset that waited for the device would take the
    // stall bound (2 s) or never return. The slack is for a loaded machine.
    EXPECT_LT(Clock::now() - t0, 1500ms);
    EXPECT_EQ(out->close(), Status::Ok);
}

TEST(NullOutput, ResetReturnsOnlyOnceNoCallbackIsRunning) {
    // The renderer frees its headers and itself once reset returns: a callback the worker is
    // still making then would write into freed memory.
    struct Slow {
        std::atomic<bool> inside{false}, left{false};
        static void done(void* context, WaveHeader*) {
            auto* self = static_cast<Slow*>(context);
            if (self->inside.exchange(true)) return;
            std::this_thread::sleep_for(200ms);
            self->left = true;
        }
    } slow;
    Buffers b;
    auto out = makeNullOutput();
    ASSERT_EQ(out->open(kFormat, &Slow::done, &slow), Status::Ok);
    b.writeAll(*out);
    const auto until = Clock::now() + 3s;
    while (!slow.inside && Clock::now() < until) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(slow.inside) << "no header came back";
    EXPECT_EQ(out->reset(), Status::Ok);
    EXPECT_TRUE(slow.left) << "reset returned while the worker was still calling back";
    EXPECT_EQ(out->close(), Status::Ok);
}

// A device behind a sound server: it takes sound as fast as it comes and reports nothing played
// while playing; paused and fed nothing, it reports an underrun, so everything written counts
// as played although the server may still be playing it.
class ServerLikeOutput : public QueuedOutput {
public:
    ~ServerLikeOutput() override { stop(); }
    std::string name() const override { return "server-like"; }
    std::atomic<std::size_t> taken{0};  // frames of sound
    Clock::duration idleTurn = 10ms;    // when to come back with nothing to write

protected:
    Status openDevice(const PcmFormat&) override { return Status::Ok; }
    void closeDevice(bool) override {}
    void dropDevice() override {}
    std::size_t stageFrames() const override { return 4410; }
    bool playsOnAtPause() const override { return true; }
    Turn play(const Feed& feed) override {
        Turn t;
        t.wrote = feed.data ? feed.frames : 0;
        taken += t.wrote;
        t.allPlayed = !feed.data && feed.paused;
        t.healthy = true;
        if (!feed.data) t.wakeAt = Clock::now() + idleTurn;
        return t;
    }
};

// A device that has taken all it was given and waits for the sound to be heard (as the pulse
// backend does for its oldest header) still takes the next header as it comes: the first sound
// of a play is the first header and the second together, and a server plays neither alone.
TEST(QueuedOutput, SoundWrittenWhileTheDeviceWaitsOnItsOwnIsTakenAtOnce) {
    Returned r;
    Buffers b;
    ServerLikeOutput out;
    out.idleTurn = 5s;
    ASSERT_EQ(out.open(kFormat, &Returned::done, &r), Status::Ok);
    auto taken = [&](std::size_t frames) {
        const auto from = Clock::now();
        while (out.taken < frames && Clock::now() - from < 4s) std::this_thread::sleep_for(1ms);
        return std::chrono::duration<double>(Clock::now() - from).count();
    };
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(out.prepareHeader(&b.headers[i]), Status::Ok);
        ASSERT_EQ(out.write(&b.headers[i]), Status::Ok);
        const double took = taken(2205u * (i + 1));
        std::printf("header %d taken after %.3f s\n", i + 1, took);
        EXPECT_LT(took, 1.0) << "header " << i + 1 << " waited for the device's own turn";
        std::this_thread::sleep_for(50ms);  // the worker is asleep again
    }
    EXPECT_EQ(out.reset(), Status::Ok);
    EXPECT_EQ(out.close(), Status::Ok);
}

// The pause's fade puts the volume back once the held sound counts as heard: a second held
// cannot have been heard before a second has passed, whatever the played count says.
TEST(QueuedOutput, HeldSoundCountsAsHeardNoSoonerThanItCanHavePlayed) {
    Returned r;
    Buffers b;
    ServerLikeOutput out;
    ASSERT_EQ(out.open(kFormat, &Returned::done, &r), Status::Ok);
    b.writeAll(out);
    for (const auto until = Clock::now() + 5s; out.taken < 44100 && Clock::now() < until;)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(out.taken, 44100u) << "the device did not take the second written";
    const auto paused = Clock::now();
    out.pause();
    std::this_thread::sleep_for(300ms);
    bool early = false;
    while (Clock::now() - paused < 900ms) {
        early = early || out.pauseHeard();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_FALSE(early) << "heard before the held second could have played";
    EXPECT_TRUE(r.waitFor(20, 3s)) << "the underrun did not count the headers as played";
    const auto until = paused + 5s;
    while (!out.pauseHeard() && Clock::now() < until) std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(out.pauseHeard());
    EXPECT_EQ(out.reset(), Status::Ok);
    EXPECT_EQ(out.close(), Status::Ok);
}

TEST(WavOutput, WritesEveryBufferAndFinalisesTheHeader) {
    TempDir dir;
    setenv("VESPERON_AUDIO_OUTPUT", ("wav:" + dir.file("take-%d.wav")).c_str(), 1);
    Returned r;
    Buffers b;
    Status result = Status::DeviceFailed;
    auto out = openAudioOutput(kFormat, &Returned::done, &r, &result);
    ASSERT_TRUE(out);
    EXPECT_EQ(result, Status::Ok);
    b.writeAll(*out);
    ASSERT_TRUE(r.waitFor(20, 5s));
    EXPECT_EQ(out->close(), Status::Ok);
    ASSERT_EQ(readFile(dir.file("take-1.wav")).size(), 44 + b.pcm.size());
    const std::optional<Wav> wav = readWav(dir.file("take-1.wav"));
    ASSERT_TRUE(wav && wav->finalised);
    EXPECT_EQ(wav->rate, 44100);
    EXPECT_EQ(wav->channels, 2);
    EXPECT_EQ(wav->bits, 16);
    EXPECT_TRUE(wav->data == std::string(b.pcm.begin(), b.pcm.end()));

    // Each open is a new take; a directory that does not exist fails the open.
    auto second = openAudioOutput(kFormat, &Returned::done, &r, &result);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->close(), Status::Ok);
    EXPECT_EQ(readFile(dir.file("take-2.wav")).size(), 44u);
    setenv("VESPERON_AUDIO_OUTPUT", "wav:/nonexistent-directory/x.wav", 1);
    EXPECT_FALSE(openAudioOutput(kFormat, &Returned::done, &r, &result));
    EXPECT_NE(result, Status::Ok);
    unsetenv("VESPERON_AUDIO_OUTPUT");
}

TEST(AudioOutput, AlsaWithoutASoundServerFallsBackToNull) {
    // Point ALSA's default device (through PulseAudio's plugin) at a server that is not there.
    TempDir dir;
    setenv("PULSE_SERVER", ("unix:" + dir.file("no-such-socket")).c_str(), 1);
    setenv("VESPERON_AUDIO_OUTPUT", "alsa", 1);
    Returned r;
    Status result = Status::DeviceFailed;
    auto out = openAudioOutput(kFormat, &Returned::done, &r, &result);
    ASSERT_TRUE(out);
    EXPECT_EQ(result, Status::Ok);
    EXPECT_TRUE(out->name() == "null" || out->name() == "alsa:default") << out->name();
    EXPECT_EQ(out->close(), Status::Ok);
    unsetenv("VESPERON_AUDIO_OUTPUT");
    unsetenv("PULSE_SERVER");
}

TEST(AudioOutput, RejectsFormatsItCannotPlay) {
    Returned r;
    PcmFormat bad = kFormat;
    bad.bitsPerSample = 8;
    EXPECT_EQ(makeNullOutput()->open(bad, &Returned::done, &r), Status::BadFormat);
    bad = PcmFormat::pcm16(0, 44100);
    EXPECT_EQ(makeNullOutput()->open(bad, &Returned::done, &r), Status::BadFormat);
    bad = PcmFormat::pcm16(2, 0);
    EXPECT_EQ(makeAlsaOutput()->open(bad, &Returned::done, &r), Status::BadFormat);
    EXPECT_EQ(makePulseOutput()->open(bad, &Returned::done, &r), Status::BadFormat);
    WaveHeader unprepared;
    auto out = makeNullOutput();
    ASSERT_EQ(out->open(kFormat, &Returned::done, &r), Status::Ok);
    EXPECT_EQ(out->write(&unprepared), Status::HeaderUnprepared);
    EXPECT_EQ(out->close(), Status::Ok);
}
