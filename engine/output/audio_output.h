#pragma once
// The wave output device the renderer plays through: open with a format, queue headers that
// point at PCM, pause, restart, reset, close, and one completion callback per header once the
// device has finished with it (played, or returned by reset).

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/status/pcm_format.h"
#include "engine/status/status.h"

namespace vesperon::engine {

struct WaveHeader {
    static constexpr std::uint32_t kDone = 1;
    static constexpr std::uint32_t kPrepared = 2;
    static constexpr std::uint32_t kInQueue = 16;

    std::uint8_t* data = nullptr;
    std::uint32_t bufferLength = 0;
    std::intptr_t user = 0;  // the renderer's field; guarded by its header mutex
    std::uint32_t flags = 0;
};

class AudioOutput {
public:
    // Called on the device's own thread (or the caller of reset) once per finished header.
    using DoneCallback = void (*)(void* context, WaveHeader* header);

    virtual ~AudioOutput() = default;
    // BadFormat when the device cannot play it; DeviceFailed when none opens.
    virtual Status open(const PcmFormat& format, DoneCallback done, void* context) = 0;
    virtual Status prepareHeader(WaveHeader* header);
    // StillPlaying while the header is queued.
    virtual Status unprepareHeader(WaveHeader* header);
    // The header must be prepared (else HeaderUnprepared); the device reads its data in place
    // until it calls back. DeviceFailed once the device is gone for good.
    virtual Status write(WaveHeader* header) = 0;
    // Returns at once; pauseHeard() tells when the sound has stopped.
    virtual Status pause() = 0;
    virtual Status restart() = 0;
    // Stops playing and returns every queued header through the callback before it returns;
    // by then no callback is running either, so the caller may free its headers.
    virtual Status reset() = 0;
    // StillPlaying while headers are queued.
    virtual Status close() = 0;
    virtual std::string name() const = 0;
    // What the sound server shows for the stream (the track's name); backends without one ignore it.
    virtual void setMediaName(const std::string&) {}

    // Keeping one device across plays, for devices that keepsOpen(). release: every header goes back at once while the sound
    // still queued plays on (copied); false when the device cannot do that (then drain and
    // close it). rebind: later headers report to this callback. busy: sound queued or playing.
    // failed: the device has been gone too long to come back; writes fail.
    virtual bool keepsOpen() const { return false; }
    virtual bool release() { return false; }
    virtual void rebind(DoneCallback, void*) {}
    virtual bool busy() { return false; }
    virtual bool failed() { return false; }
    // False from a pause until the device has gone quiet: a caller that fades the volume out
    // and pauses puts the volume back only then, so no tail sounds at full volume. A device
    // that stops at once (a corked stream) turns it true as soon as the stop is acknowledged;
    // one that plays on turns it true once what it held has been heard.
    virtual bool pauseHeard() { return true; }

    // The sound timeline: every frame of sound written is numbered, from 0 at open, in the
    // order it plays. soundMark() is where the next header written will start; soundHeard()
    // how far the sound heard has got (extrapolated between the device's reports while it
    // plays, and never past what was written). A reset drops what was not heard and the
    // timeline goes on from soundHeard(). Both are cheap and never wait on the device.
    virtual std::uint64_t soundMark() { return 0; }
    virtual std::uint64_t soundHeard() { return 0; }
    // How long sound written now takes to be heard, at the least (the device's own latency):
    // a device of another format that starts this long before the last one's sound ends
    // follows it with no gap. 0 when unknown.
    virtual std::chrono::microseconds heardAfter() { return std::chrono::microseconds(0); }
};

// The backend VESPERON_AUDIO_OUTPUT names (pulse; alsa; null; wav:PATH, where "%d" in PATH
// becomes a per-process sequence number), opened with the format. Without it: the sound
// server's own library when a server answers, else ALSA. When no device opens and a server
// is expected (see pulseServerExpected), the chosen output waits for it (pulse by default);
// otherwise the null backend keeps time. Null (and *result not Ok) only when nothing opens.
std::unique_ptr<AudioOutput> openAudioOutput(const PcmFormat& format, AudioOutput::DoneCallback done,
                                             void* context, Status* result = nullptr);

// Connects to the sound server now, when the output openAudioOutput would choose may be its
// library, so that the first play finds the connection up; returns at once. Every stream of the
// process shares that one connection.
void prepareAudioOutput();
// The pulse backend's part of it: starts connecting unless connected or connecting.
void connectPulseAhead();

// The backends, for tools and tests that want one explicitly.
std::unique_ptr<AudioOutput> makeNullOutput();
std::unique_ptr<AudioOutput> makeWavOutput(const std::string& path);
// waitForDevice (for both): an open that finds no server or device still succeeds, and the
// output plays once one answers (as after a server's restart); without it the open fails.
std::unique_ptr<AudioOutput> makeAlsaOutput(const std::string& device = "default", bool waitForDevice = false);
std::unique_ptr<AudioOutput> makePulseOutput(bool waitForDevice = false);
// True when this session names a sound server that is not up yet: PULSE_SERVER is set, or
// the user's runtime directory exists and a sound server is installed.
bool pulseServerExpected();

}  // namespace vesperon::engine
