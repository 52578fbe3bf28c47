#pragma once
// The last stage of a play, and the play itself: its thread hands PCM frames from the ring to
// the wave output device in place, one frame per header, recycling the headers strictly in the
// order they were issued. Pausing, resuming and stopping the play all go through it; destroying
// it stops and destroys the decoder and the source too.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/output/audio_output.h"
#include "engine/pipeline/heard_position.h"
#include "engine/pipeline/pipeline_stage.h"
#include "engine/pipeline/stage_message.h"
#include "engine/port/notice.h"

namespace vesperon::engine {

class FileSource;
class FrameDecoder;

class WaveRenderer : public PipelineStage {
public:
    WaveRenderer(RequestSink* owner, std::uint64_t play);
    ~WaveRenderer() override;

    // The renderer owns both and destroys the decoder, then the source.
    void setDecoder(std::unique_ptr<FrameDecoder> decoder);
    void setSource(std::unique_ptr<FileSource> source);
    FrameDecoder* decoder() const { return decoder_.get(); }

    // Opens the file through the source, connects the decoder to its ring and this stage to
    // the decoder's PCM ring, and starts the thread (waiting for resume). Ok or the failure.
    Status open(const std::string& fileName, const std::string& password);
    // A renderer reading a PCM ring written by someone else (no source or decoder).
    Status openWithRing(MessageRing* pcm, PipelineStage* writer);

    void pause() override;
    void resume() override;
    Status resetOutput() override;
    // True unless a pause's held sound is still being heard (see AudioOutput::pauseHeard).
    bool pauseHeard();

    // Where the sound heard stands; never waits on the device.
    HeardPosition heard();
    // Some of the play's sound has been handed to the device (it may not be heard yet).
    bool soundPlayed() const { return soundPlayed_.load(std::memory_order_acquire); }
    // Where the progress and first-sound notices go (none: nowhere). Set before open(); the
    // renderer's thread then calls it without a lock.
    void setNoticeSink(NoticeSink sink) { sink_ = std::move(sink); }

    // Figures for tests: headers at the device, the device's name once open.
    int headersAtDevice();
    std::string deviceName();

private:
    // openWithRing with mutex_ already held (open() holds it across the whole set-up).
    Status openWithRingLocked(MessageRing* pcm, PipelineStage* writer);
    void run();
    // False when the format is unusable or no device opens.
    bool openDevice(const StageMessage& formatMessage);
    void closeDevice();
    // Sets the stop flag and wakes every wait of the renderer's thread.
    void stopAndWake();
    // Sleeps until the decoder has written `bytes` more (or paused writing), or the next look
    // at the sound heard is due; true when stopped or paused.
    bool awaitInput(std::size_t bytes);
    // What to wait for: one frame while the device holds little, else a filled ring.
    std::size_t inputWanted() const;
    double headerSeconds() const;
    // With headerMutex_ held: sleeps until `headers` more have come back or the next look at
    // the sound heard is due, then looks.
    void awaitHeader(std::unique_lock<std::mutex>& lock, std::int64_t headers);
    // Recycles finished headers in issue order; then (when wait) takes a free one, sleeping
    // until one comes back.
    WaveHeader* freeHeader(bool wait);
    // False when the device refused it (gone for good).
    bool handFrame(std::uint8_t* frame, std::size_t length);
    // Lets the device play on what it holds and gives it to the keeper for the next play.
    // False when the device cannot (drain and close it instead).
    bool handOver();
    void giveDevice();
    // Waits until the device has returned every header. False when stopped meanwhile.
    bool drain();
    void signalWriter();
    static void onHeaderDone(void* context, WaveHeader* header);
    // Tells the progress of the sound heard, and the first sound once heard; renderer thread.
    void reportHeard();
    HeardPosition heardLocked();

    // --- set under mutex_ before the renderer's thread starts; then read by that thread
    std::unique_ptr<FileSource> source_;
    std::unique_ptr<FrameDecoder> decoder_;
    PipelineStage* writer_ = nullptr;  // the stage writing the PCM ring
    MessageRing* pcm_ = nullptr;

    // --- written by the renderer's thread under mutex_ (it opens and closes the device), read
    // under mutex_ by the player's threads (pause, resume, reset); the renderer's thread reads
    // them without it, being their only writer
    std::unique_ptr<AudioOutput> device_;
    bool deviceOpen_ = false;
    PcmFormat format_;
    // Where this play lies on the device's sound timeline, and what its format message said.
    std::uint64_t trackStart_ = 0;   // the timeline's mark when the device was taken
    std::int64_t priorSamples_ = 0;  // samples played on devices of an earlier format
    std::int64_t firstFrame_ = 0, totalFrames_ = 0;
    HeardPosition lastHeard_;  // kept when the device goes on to the next play
    std::string mediaName_;    // set by open()

    // --- the renderer's thread only
    std::int64_t handedSamples_ = 0;  // samples handed to the current device
    int lastPercent_ = -1;            // the notices last posted
    bool postedStart_ = false;
    std::chrono::steady_clock::time_point nextReport_{};  // the next look at the sound heard

    NoticeSink sink_;  // set by the player before the play starts
    std::atomic<bool> soundPlayed_{false};  // set by the renderer's thread, read by any

    // --- the headers: the vector and each header's user field are guarded by headerMutex_,
    // which the device's callback takes too (from the output's worker thread)
    std::mutex headerMutex_;
    std::condition_variable headerDone_;  // as many headers came back as the renderer waits for
    std::vector<WaveHeader> headers_;
    std::int64_t wantHeaders_ = 0;  // how many the waiting renderer wants back (0: not waiting)
    std::int64_t returned_ = 0;     // came back since it began to wait

    // --- the renderer's thread only (set together with the headers, under their lock)
    std::size_t frameBytes_ = 0;
    std::int64_t issued_ = 0;
    std::int64_t completed_ = 0;
    std::size_t inFlight_ = 0;
    std::thread thread_;
};

}  // namespace vesperon::engine
