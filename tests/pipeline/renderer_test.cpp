// The renderer and the whole pipeline below the player: the end of the stream, pausing in the
// final drain, handing a kept device on, a device that cannot open, and stopping while every
// stage is blocked.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/output/output_keeper.h"
#include "engine/pipeline/file_source.h"
#include "engine/pipeline/frame_decoder_stage.h"
#include "engine/pipeline/wave_renderer.h"
#include "tests/player/engine_fixtures.h"
#include "tests/support/process.h"

using namespace vesperon::engine;
using namespace vesperon::test;
using namespace std::chrono_literals;

namespace {

// Collects the end reports a play makes; `atPost` runs when one arrives.
class Requests : public RequestSink {
public:
    std::function<void(Status)> atPost;
    void playEnded(std::uint64_t, Status why) override {
        if (atPost) atPost(why);
        std::lock_guard lock(mutex_);
        codes_.push_back(why);
        cv_.notify_all();
    }
    bool waitFor(Status why, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] { return std::count(codes_.begin(), codes_.end(), why) > 0; });
    }
    std::vector<Status> codes() {
        std::lock_guard lock(mutex_);
        return codes_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Status> codes_;
};

constexpr int kFrameBytes = 4608;

// Writes n frames of a counting pattern into the PCM ring (waiting for room) and the end.
void writeFrames(MessageRing& ring, int n, std::string* written, bool end = true) {
    for (int f = 0; f < n; ++f) {
        std::uint8_t* p = nullptr;
        while (ring.reserveWrite(kFrameBytes, &p) == Status::NoRoom) std::this_thread::sleep_for(1ms);
        for (int i = 0; i < kFrameBytes; ++i) p[i] = static_cast<std::uint8_t>(f * 31 + i);
        written->append(reinterpret_cast<char*>(p), kFrameBytes);
        ring.commitWrite(kFrameBytes);
    }
    if (end) ring.postMessage(StageMessage::makeEndOfStream());
}

// One play of counting frames through a renderer, from the format message to its end of file.
struct RenderedPlay {
    Requests requests;
    MessageRing ring{FrameDecoder::pcmRingSizeFor(kFrameBytes)};
    PipelineStage writer{&requests, 1};
    std::unique_ptr<WaveRenderer> renderer = std::make_unique<WaveRenderer>(&requests, 1);
    int atDeviceWhenReported = -1;  // headers at the device when the first request came
    std::string written;

    // Queues `frames` frames and the end before the renderer opens, then plays them.
    testing::AssertionResult toTheEnd(int frames) {
        requests.atPost = [this](Status) { atDeviceWhenReported = renderer->headersAtDevice(); };
        ring.postMessage(StageMessage::makeFormat(PcmFormat::pcm16(2, 44100, 1152)));
        writeFrames(ring, frames, &written);
        if (renderer->openWithRing(&ring, &writer) != Status::Ok)
            return testing::AssertionFailure() << "open failed";
        renderer->resume();
        if (!requests.waitFor(Status::EndOfData, 5s)) return testing::AssertionFailure() << "no end of file";
        return testing::AssertionSuccess();
    }
};

struct EnvOutput {
    explicit EnvOutput(const std::string& v) { setenv("VESPERON_AUDIO_OUTPUT", v.c_str(), 1); }
    ~EnvOutput() { unsetenv("VESPERON_AUDIO_OUTPUT"); }
};

}  // namespace

TEST(WaveRenderer, OneFrameIsPlayedBeforeTheEndIsReported) {
    TempDir dir;
    EnvOutput env("wav:" + dir.file("one.wav"));
    RenderedPlay play;
    ASSERT_TRUE(play.toTheEnd(1));
    EXPECT_EQ(play.atDeviceWhenReported, 0);
    play.renderer.reset();
    EXPECT_EQ(play.requests.codes(), std::vector<Status>{Status::EndOfData});
    EXPECT_TRUE(wavData(dir.file("one.wav")) == play.written);
}

TEST(WaveRenderer, PauseInTheFinalDrainReportsTheEndAfterTheResume) {
    EnvOutput env("null");
    Requests requests;
    MessageRing ring(FrameDecoder::pcmRingSizeFor(kFrameBytes));
    PipelineStage writer(&requests, 1);
    WaveRenderer renderer(&requests, 1);
    ring.postMessage(StageMessage::makeFormat(PcmFormat::pcm16(2, 44100, 1152)));
    std::string written;
    writeFrames(ring, 20, &written);  // about half a second
    ASSERT_EQ(renderer.openWithRing(&ring, &writer), Status::Ok);
    renderer.resume();
    std::this_thread::sleep_for(250ms);  // every frame is at the device: the drain is running
    renderer.pause();
    std::this_thread::sleep_for(600ms);
    EXPECT_TRUE(requests.codes().empty()) << "nothing is reported while paused";
    EXPECT_GT(renderer.headersAtDevice(), 0);
    renderer.resume();
    EXPECT_TRUE(requests.waitFor(Status::EndOfData, 5s));
}

// A device that stays open across plays, holding the last five headers it was given as "still
// playing"; what it was given, in order, lands in `heard` (copied by release for the held ones).
struct KeptDeviceLog {
    std::mutex mutex;
    std::string heard;
    int heldAtRelease = -1;
    bool closed = false;
};

class KeptDevice : public AudioOutput {
public:
    explicit KeptDevice(std::shared_ptr<KeptDeviceLog> log) : log_(std::move(log)) {}
    Status open(const PcmFormat&, DoneCallback, void*) override { return Status::Ok; }
    Status write(WaveHeader* h) override {
        held_.push_back(h);
        while (held_.size() > 5) complete(true);
        return Status::Ok;
    }
    Status pause() override { return Status::Ok; }
    Status restart() override { return Status::Ok; }
    Status reset() override {
        while (!held_.empty()) complete(false);
        return Status::Ok;
    }
    Status close() override {
        std::lock_guard lock(log_->mutex);
        log_->closed = true;
        return Status::Ok;
    }
    std::string name() const override { return "kept"; }
    bool keepsOpen() const override { return true; }
    bool release() override {
        std::lock_guard lock(log_->mutex);
        log_->heldAtRelease = static_cast<int>(held_.size());
        for (WaveHeader* h : held_) {
            log_->heard.append(reinterpret_cast<char*>(h->data), h->bufferLength);
            done_(context_, h);
        }
        held_.clear();
        return true;
    }
    void rebind(DoneCallback done, void* context) override {
        done_ = done;
        context_ = context;
    }

private:
    void complete(bool heard) {
        WaveHeader* h = held_.front();
        held_.erase(held_.begin());
        if (heard) {
            std::lock_guard lock(log_->mutex);
            log_->heard.append(reinterpret_cast<char*>(h->data), h->bufferLength);
        }
        done_(context_, h);
    }
    std::shared_ptr<KeptDeviceLog> log_;
    std::vector<WaveHeader*> held_;
    DoneCallback done_ = nullptr;
    void* context_ = nullptr;
};

TEST(WaveRenderer, AtTheEndAKeptDeviceGoesOnPlayingAndServesTheNextPlayOfItsFormat) {
    EnvOutput env("null");
    auto log = std::make_shared<KeptDeviceLog>();
    auto device = std::make_unique<KeptDevice>(log);
    AudioOutput* kept = device.get();
    OutputKeeper::instance().give(std::move(device), PcmFormat::pcm16(2, 44100));

    RenderedPlay play;
    ASSERT_TRUE(play.toTheEnd(40));
    play.renderer.reset();
    // The end came while the device still held sound, every header back, nothing lost or doubled.
    EXPECT_EQ(play.atDeviceWhenReported, 0);
    {
        std::lock_guard lock(log->mutex);
        EXPECT_EQ(log->heldAtRelease, 5);
        EXPECT_TRUE(log->heard == play.written);
        EXPECT_FALSE(log->closed);
    }

    // The same format gets the same device; another closes it and opens its own.
    auto same = OutputKeeper::instance().take(PcmFormat::pcm16(2, 44100), nullptr, nullptr, nullptr);
    EXPECT_EQ(same.get(), kept);
    OutputKeeper::instance().give(std::move(same), PcmFormat::pcm16(2, 44100));
    Status result = Status::DeviceFailed;
    auto other = OutputKeeper::instance().take(PcmFormat::pcm16(1, 22050), nullptr, nullptr, &result);
    ASSERT_TRUE(other);
    EXPECT_NE(other->name(), "kept");
    EXPECT_TRUE(log->closed);
    other->close();
}

// A device opened ahead of the first play is the one that play takes, even when it asks before
// the opening is done; one that does not open is dropped, and the play opens its own.
TEST(OutputKeeper, TheFirstPlayTakesTheDeviceOpenedAheadOfIt) {
    EnvOutput env("null");
    OutputKeeper& keeper = OutputKeeper::instance();
    keeper.closeNow();
    auto ahead = makeNullOutput();
    AudioOutput* opened = ahead.get();
    keeper.openAhead(std::move(ahead), PcmFormat::pcm16(2, 44100));
    auto taken = keeper.take(PcmFormat::pcm16(2, 44100), nullptr, nullptr, nullptr);
    EXPECT_EQ(taken.get(), opened);
    ASSERT_TRUE(taken);
    taken->close();

    keeper.openAhead(makeWavOutput("/nonexistent-directory/ahead.wav"), PcmFormat::pcm16(2, 44100));
    Status result = Status::DeviceFailed;
    auto own = keeper.take(PcmFormat::pcm16(2, 44100), nullptr, nullptr, &result);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->name(), "null");
    own->close();
}

TEST(WaveRenderer, ADeviceThatCannotOpenIsReportedAsAFailure) {
    EnvOutput env("wav:/nonexistent-directory/out.wav");
    Requests requests;
    MessageRing ring(FrameDecoder::pcmRingSizeFor(kFrameBytes));
    PipelineStage writer(&requests, 1);
    WaveRenderer renderer(&requests, 1);
    ring.postMessage(StageMessage::makeFormat(PcmFormat::pcm16(2, 44100, 1152)));
    ASSERT_EQ(renderer.openWithRing(&ring, &writer), Status::Ok);
    renderer.resume();
    EXPECT_TRUE(requests.waitFor(Status::DeviceFailed, 5s));
}

TEST(Pipeline, StoppingWhileEveryStageIsBlockedCompletes) {
    TempDir dir;
    EnvOutput env("null");
    std::string file = makeMp3(dir, "long", Mp3Recipe{12});
    ASSERT_FALSE(file.empty());
    for (bool pausedBeforeStart : {false, true}) {
        Requests requests;
        auto renderer = std::make_unique<WaveRenderer>(&requests, 1);
        renderer->setSource(std::make_unique<FileSource>(&requests, 1));
        renderer->setDecoder(std::make_unique<FrameDecoder>(&requests, 1));
        ASSERT_EQ(renderer->open(file, ""), Status::Ok);
        if (!pausedBeforeStart) {
            renderer->resume();
            auto until = std::chrono::steady_clock::now() + 10s;
            while (renderer->headersAtDevice() < 100 && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(10ms);
            std::this_thread::sleep_for(100ms);
        }
        renderer->pause();
        std::this_thread::sleep_for(300ms);
        // The device holds every header, the PCM ring is full, the reader waits for room.
        if (!pausedBeforeStart) {
            EXPECT_GE(renderer->headersAtDevice(), 100);
        }
        auto t0 = std::chrono::steady_clock::now();
        renderer.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s) << "stopping must not wait for the audio";
        EXPECT_TRUE(requests.codes().empty());
    }
}

TEST(Pipeline, OpenErrorsComeBackFromOpen) {
    Requests requests;
    TempDir dir;
    WaveRenderer renderer(&requests, 1);
    renderer.setSource(std::make_unique<FileSource>(&requests, 1));
    renderer.setDecoder(std::make_unique<FrameDecoder>(&requests, 1));
    EXPECT_EQ(renderer.open(dir.file("missing.mp3"), ""), Status::FileNotFound);
    WaveRenderer bare(&requests, 1);
    EXPECT_EQ(bare.open(dir.file("missing.mp3"), ""), Status::NotConnected);
}
