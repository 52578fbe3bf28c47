#pragma once
// The wave output device the renderer plays through: open with a format, queue headers that
// point at PCM, pause, restart, reset, close, and one completion callback per header once the
// device has finished with it (played, or returned by reset).

#include <cstdint>
#include <memory>
#include <string>

namespace vesperon::engine {

struct WaveFormat {
    int formatTag = 1;  // PCM
    int channels = 0;
    int samplesPerSecond = 0;
    int avgBytesPerSecond = 0;  // blockAlign x rate
    int blockAlign = 0;         // bitsPerSample / 8 x channels
    int bitsPerSample = 16;
    int extraSize = 0;

    static WaveFormat pcm16(int channels, int rate) {
        WaveFormat f;
        f.channels = channels;
        f.samplesPerSecond = rate;
        f.bitsPerSample = 16;
        f.blockAlign = 2 * channels;
        f.avgBytesPerSecond = f.blockAlign * rate;
        return f;
    }
};

struct WaveHeader {
    static constexpr std::uint32_t kDone = 1;
    static constexpr std::uint32_t kPrepared = 2;
    static constexpr std::uint32_t kInQueue = 16;

    std::uint8_t* data = nullptr;
    std::uint32_t bufferLength = 0;
    std::intptr_t user = 0;  // the renderer's field; guarded by its header mutex
    std::uint32_t flags = 0;
};

// Device results.
inline constexpr int kOutputOk = 0;
inline constexpr int kOutputError = 1;
inline constexpr int kOutputBadFormat = 32;
inline constexpr int kOutputStillPlaying = 33;
inline constexpr int kOutputUnprepared = 34;

class AudioOutput {
public:
    // Called on the device's own thread (or the caller of reset) once per finished header.
    using DoneCallback = void (*)(void* context, WaveHeader* header);

    virtual ~AudioOutput() = default;
    virtual int open(const WaveFormat& format, DoneCallback done, void* context) = 0;
    virtual int prepareHeader(WaveHeader* header);
    // kOutputStillPlaying while the header is queued.
    virtual int unprepareHeader(WaveHeader* header);
    // The header must be prepared; the device reads its data in place until it calls back.
    virtual int write(WaveHeader* header) = 0;
    // Returns at once; the sound the device already holds still plays (see pauseHeard).
    virtual int pause() = 0;
    virtual int restart() = 0;
    // Stops playing and returns every queued header through the callback before it returns;
    // by then no callback is running either, so the caller may free its headers.
    virtual int reset() = 0;
    // kOutputStillPlaying while headers are queued.
    virtual int close() = 0;
    virtual std::string name() const = 0;

    // Keeping one device across plays, for devices that keepsOpen(). release: every header goes back at once while the sound
    // still queued plays on (copied); false when the device cannot do that (then drain and
    // close it). rebind: later headers report to this callback. busy: sound queued or playing.
    // failed: the device has been gone too long to come back; writes fail.
    virtual bool keepsOpen() const { return false; }
    virtual bool release() { return false; }
    virtual void rebind(DoneCallback, void*) {}
    virtual bool busy() { return false; }
    virtual bool failed() { return false; }
    // False from a pause until the sound queued before it has been heard: a caller that fades
    // the volume out and pauses puts the volume back only then, so no tail sounds at full volume.
    virtual bool pauseHeard() { return true; }
};

// The backend VESPERON_AUDIO_OUTPUT names (alsa, the default; null; wav:PATH, where "%d" in
// PATH becomes a per-process sequence number), opened with the format. When ALSA cannot open a
// device the null backend takes over. Null (and *result non-zero) only when nothing opens.
std::unique_ptr<AudioOutput> openAudioOutput(const WaveFormat& format, AudioOutput::DoneCallback done,
                                             void* context, int* result = nullptr);

// The backends, for tools and tests that want one explicitly.
std::unique_ptr<AudioOutput> makeNullOutput();
std::unique_ptr<AudioOutput> makeWavOutput(const std::string& path);
std::unique_ptr<AudioOutput> makeAlsaOutput(const std::string& device = "default");

}  // namespace vesperon::engine
