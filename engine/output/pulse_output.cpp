// The sound server's own client library (libpulse, which PulseAudio and pipewire-pulse both
// answer) as a backend of the queued output: one playback stream for the format, kept across
// tracks, on the process's one connection to the server (a threaded main loop and a context,
// made once, connected ahead of the first play when asked, and made again only after the
// server has gone).
//
// What the stream gives that ALSA's pulse plugin does not: its time is the sound as heard
// (interpolated between the server's timing reports), so headers come back when heard; a pause
// corks it at once with the queued sound kept, and the uncork plays on from the next frame; a
// server that goes away fails the stream at once, which wakes the worker; the server asks for
// more sound when it has room, so the worker sleeps until then; and the stream carries the
// application's and the track's names.
//
// Locks: the main loop's lock guards the context and every stream; its thread holds it while
// calling back. The worker takes it inside play() and the other duties (never holding the
// queue's lock then); the callbacks take the queue's lock (wakeWorker) inside it, never the
// other way round.

#include <pulse/pulseaudio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

#include "engine/output/pulse_wait.h"
#include "engine/output/queued_output.h"

namespace vesperon::engine {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What the stream asks the server to hold: 1.5 s ahead, topped up 0.7 s at a time (about 1.4
// requests a second: each costs a turn of the worker and of each stage behind it, a handful of
// wake-ups in all; a larger top-up would outrun what the PCM ring holds beyond the server's
// part, under three seconds), while the sink keeps the 50 ms of latency left over, so a cork
// is heard at once; play starts once 40 ms are there (two decoded frames at most), about when
// paplay's would. The worker stages a second at a time.
constexpr pa_usec_t kTargetMicros = 1500000;
constexpr pa_usec_t kMinRequestMicros = 700000;
constexpr pa_usec_t kPrebufferMicros = 40000;
constexpr pa_usec_t kStageMicros = 1000000;
// The longest a connection or a stream operation may take before the server counts as gone.
constexpr auto kOperationLimit = 2s;
// The worker's turns while the stream runs out (no sound queued): no closer together than
// this, nor further apart (a header heard comes back within it). While the stream is full, the
// server's request for more wakes the worker; the longest sleep then only bounds how late a
// header heard comes back when no request comes (a server that stopped playing).
constexpr auto kShortestTurn = 20ms;
constexpr auto kLongestTurn = 100ms;
constexpr auto kLongestFullSleep = 1s;

constexpr const char* kApplicationName = "Vesperon";
constexpr const char* kApplicationId = "vesperon";  // the desktop entry's name
constexpr const char* kIconName = "vesperon";       // its icon

// With the loop's lock held: a playback stream for the format on the context, connecting (not
// yet ready); null when the library refuses the format (*refused) or the connection fails.
pa_stream* newPlaybackStream(pa_context* context, const pa_sample_spec& format, const char* mediaName,
                             bool* refused = nullptr) {
    pa_proplist* media = pa_proplist_new();
    pa_proplist_sets(media, PA_PROP_MEDIA_ROLE, "music");
    pa_proplist_sets(media, PA_PROP_MEDIA_NAME, mediaName);
    pa_stream* stream = pa_stream_new_with_proplist(context, nullptr, &format, nullptr, media);
    pa_proplist_free(media);
    if (refused) *refused = !stream;
    if (!stream) return nullptr;
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetMicros, &format));
    attr.prebuf = static_cast<std::uint32_t>(pa_usec_to_bytes(kPrebufferMicros, &format));
    attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kMinRequestMicros, &format));
    attr.fragsize = static_cast<std::uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        pa_stream_unref(stream);
        return nullptr;
    }
    return stream;
}

// With the loop's lock held: lets go of a stream, its callbacks first.
void dropStream(pa_stream* stream) {
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

// The process's one connection to the server, shared by every stream. Never destroyed: a kept
// device may outlive the statics, and the loop's thread ends with the process.
class PulseLink {
public:
    static PulseLink& instance() {
        static PulseLink* link = new PulseLink;
        return *link;
    }

    // The running main loop; null when it cannot run.
    pa_threaded_mainloop* loop() { return start(nullptr); }

    // Begins connecting unless a connection is up or under way; returns at once. The loop's own
    // thread does the work (reading the client's configuration, the socket), while the caller
    // goes on meanwhile.
    void warmUp() {
        bool begun = false;
        pa_threaded_mainloop* l = start(&begun);
        if (!l || begun) return;
        pa_threaded_mainloop_lock(l);
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(l);
        api->defer_new(api, &onConnectAhead, this);
        pa_threaded_mainloop_unlock(l);
    }

    // With the loop's lock held: a ready context, connecting (again) first when needed; null when
    // no server answers within the limit.
    pa_context* readyLocked() {
        connectLocked();
        if (!context_) return nullptr;
        auto settled = [&] {
            const pa_context_state_t s = pa_context_get_state(context_);
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        };
        if (!waitLocked(loop_, settled, kOperationLimit) ||
            pa_context_get_state(context_) != PA_CONTEXT_READY)
            return nullptr;
        return context_;
    }

private:
    // Starts the loop once; whoever starts it wants the connection, which its thread begins as
    // soon as it runs (*connecting is then set). Asked for before the thread starts, that needs
    // no lock: a starting thread holding it would keep the caller waiting.
    pa_threaded_mainloop* start(bool* connecting) {
        std::call_once(started_, [&] {
            pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
            if (!loop) return;
            pa_threaded_mainloop_set_name(loop, "vesperon-pulse");
            pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
            loop_ = loop;  // for the callback, which runs only once the thread has started
            api->defer_new(api, &onConnectAhead, this);
            if (pa_threaded_mainloop_start(loop) < 0) {
                loop_ = nullptr;
                pa_threaded_mainloop_free(loop);
                return;
            }
            if (connecting) *connecting = true;
        });
        return loop_;
    }

    static void onContextState(pa_context*, void* self) {
        pa_threaded_mainloop_signal(static_cast<PulseLink*>(self)->loop_, 0);
    }
    static void onConnectAhead(pa_mainloop_api* api, pa_defer_event* e, void* self) {
        auto* link = static_cast<PulseLink*>(self);
        api->defer_free(e);
        link->connectLocked();
    }

    void dropContext() {
        if (!context_) return;
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }

    // A failed context cannot be used again: a new one takes its place. The streams of the old
    // one have failed with it (which wakes their workers) and hold their own reference to it.
    void connectLocked() {
        if (context_ && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) return;
        dropContext();
        pa_proplist* app = pa_proplist_new();
        pa_proplist_sets(app, PA_PROP_APPLICATION_NAME, kApplicationName);
        pa_proplist_sets(app, PA_PROP_APPLICATION_ID, kApplicationId);
        pa_proplist_sets(app, PA_PROP_APPLICATION_ICON_NAME, kIconName);
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), kApplicationName, app);
        pa_proplist_free(app);
        if (!context_) return;
        pa_context_set_state_callback(context_, &onContextState, this);
        // No autospawn: a server that is not there is waited for, never started by us.
        pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    }

    std::once_flag started_;
    pa_threaded_mainloop* loop_ = nullptr;  // set once by loop()
    pa_context* context_ = nullptr;         // guarded by the loop's lock
};

class PulseOutput : public QueuedOutput {
public:
    explicit PulseOutput(bool waitForServer) : waitForServer_(waitForServer) {}
    ~PulseOutput() override { stop(); }

    bool keepsOpen() const override { return true; }
    std::string name() const override { return "pulse"; }

    void setMediaName(const std::string& name) override {
        pa_threaded_mainloop* loop = PulseLink::instance().loop();
        if (!loop) return;
        pa_threaded_mainloop_lock(loop);
        mediaName_ = name;
        if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY) {
            pa_proplist* props = pa_proplist_new();
            pa_proplist_sets(props, PA_PROP_MEDIA_NAME, mediaName_.c_str());
            if (pa_operation* op = pa_stream_proplist_update(stream_, PA_UPDATE_REPLACE, props, nullptr, nullptr))
                pa_operation_unref(op);
            pa_proplist_free(props);
        }
        pa_threaded_mainloop_unlock(loop);
    }

    // The sink's latency as the server last reported it, and the way there.
    std::chrono::microseconds heardAfter() override {
        if (!loop_) return std::chrono::microseconds(0);
        pa_threaded_mainloop_lock(loop_);
        const pa_timing_info* ti = alive() ? pa_stream_get_timing_info(stream_) : nullptr;
        const auto latency = std::chrono::microseconds(ti ? ti->sink_usec + ti->transport_usec : 0);
        pa_threaded_mainloop_unlock(loop_);
        return latency;
    }

private:
    static std::atomic<bool>& everOpened() {
        static std::atomic<bool> opened{false};
        return opened;
    }

    // A server this process played through, or one it was told to wait for, is waited for.
    bool waitsForDevice() const override { return waitForServer_ || everOpened(); }
    std::size_t stageFrames() const override { return framesOf(kStageMicros); }
    // The first try comes at once, then at a growing interval up to a fifth of a second: a
    // failed connection costs next to nothing, and the sound comes back soon after the server.
    Clock::duration retryDelay(int failures) const override {
        return std::min<Clock::duration>(50ms * (1 << std::min(failures, 2)), 200ms);
    }

    std::size_t framesOf(pa_usec_t micros) const {
        return static_cast<std::size_t>(micros * static_cast<pa_usec_t>(rate_) / 1000000);
    }
    Clock::duration timeOf(std::uint64_t frames) const {
        return std::chrono::microseconds(frames * 1000000 / static_cast<std::uint64_t>(rate_));
    }

    // --- the main loop's callbacks (on its thread, its lock held)
    static void onStreamState(pa_stream* s, void* self) {
        auto* out = static_cast<PulseOutput*>(self);
        pa_threaded_mainloop_signal(out->loop_, 0);
        const pa_stream_state_t st = pa_stream_get_state(s);
        if (st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED) out->wakeWorker();
    }
    // The server has room for more: the worker's next turn.
    static void onWritable(pa_stream*, std::size_t, void* self) {
        static_cast<PulseOutput*>(self)->wakeWorker();
    }
    static void onSuccess(pa_stream*, int success, void* self) {
        auto* out = static_cast<PulseOutput*>(self);
        out->lastSuccess_ = success != 0;
        pa_threaded_mainloop_signal(out->loop_, 0);
    }

    template <class Done>
    bool waitFor(Done done) {
        return waitLocked(loop_, done, kOperationLimit);
    }

    // With the lock held: runs op to its end; false when it failed or took too long.
    bool complete(pa_operation* op) {
        if (!op) return false;
        lastSuccess_ = false;
        const bool ended = waitFor([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
        if (!ended) pa_operation_cancel(op);
        pa_operation_unref(op);
        return ended && lastSuccess_;
    }

    bool alive() const {
        return stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY &&
               pa_context_get_state(pa_stream_get_context(stream_)) == PA_CONTEXT_READY;
    }

    // Duty: a stream for the format on the shared connection (connected first when it is not).
    Status openDevice(const PcmFormat& format) override {
        pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(format.sampleRate),
                            static_cast<std::uint8_t>(format.channels)};
        if (!pa_sample_spec_valid(&sampleFormat)) return Status::BadFormat;
        rate_ = format.sampleRate;
        frameBytes_ = static_cast<std::size_t>(format.bytesPerSampleFrame());
        loop_ = PulseLink::instance().loop();
        if (!loop_) return Status::DeviceFailed;
        pa_threaded_mainloop_lock(loop_);
        const Status r = connect(sampleFormat);
        if (r != Status::Ok) tearDown();
        pa_threaded_mainloop_unlock(loop_);
        if (r == Status::Ok) everOpened() = true;
        return r;
    }

    Status connect(const pa_sample_spec& sampleFormat) {
        pa_context* context = PulseLink::instance().readyLocked();
        if (!context) return Status::DeviceFailed;
        bool refused = false;
        stream_ = newPlaybackStream(context, sampleFormat,
                                    mediaName_.empty() ? kApplicationName : mediaName_.c_str(), &refused);
        if (!stream_) return refused ? Status::BadFormat : Status::DeviceFailed;
        pa_stream_set_state_callback(stream_, &onStreamState, this);
        pa_stream_set_write_callback(stream_, &onWritable, this);
        auto ready = [&] {
            const pa_stream_state_t s = pa_stream_get_state(stream_);
            return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
        };
        if (!waitFor(ready) || pa_stream_get_state(stream_) != PA_STREAM_READY) return Status::DeviceFailed;
        base_ = 0;
        corked_ = false;
        return Status::Ok;
    }

    // With the lock held: lets go of the stream (the connection stays for the next).
    void tearDown() {
        if (!stream_) return;
        dropStream(stream_);
        stream_ = nullptr;
    }

    // Duty: close. Whatever it still holds has been played or given back already.
    void closeDevice(bool) override {
        if (!loop_) return;
        pa_threaded_mainloop_lock(loop_);
        tearDown();
        pa_threaded_mainloop_unlock(loop_);
    }

    // Duty: drop what the server holds; the played count then starts again from where the
    // stream's write position now is.
    void dropDevice() override {
        if (!loop_) return;
        pa_threaded_mainloop_lock(loop_);
        if (alive() && complete(pa_stream_flush(stream_, &onSuccess, this)) &&
            complete(pa_stream_update_timing_info(stream_, &onSuccess, this))) {
            if (const pa_timing_info* ti = pa_stream_get_timing_info(stream_))
                base_ = static_cast<std::uint64_t>(std::max<std::int64_t>(ti->write_index, 0)) / frameBytes_;
        }
        pa_threaded_mainloop_unlock(loop_);
    }

    // With the lock held: the frames heard since the last drop, as the server now reports them.
    bool heardNow(std::uint64_t* played) {
        pa_usec_t heard = 0;
        if (pa_stream_get_time(stream_, &heard) != 0) return false;
        const std::uint64_t frames = heard * static_cast<std::uint64_t>(rate_) / 1000000;
        *played = frames > base_ ? frames - base_ : 0;
        return true;
    }

    // Duty: one turn.
    Turn play(const Feed& feed) override {
        Turn t;
        pa_threaded_mainloop_lock(loop_);
        if (!alive()) {
            pa_threaded_mainloop_unlock(loop_);
            t.lost = true;
            return t;
        }
        std::uint64_t played = 0;
        if (heardNow(&played)) {
            t.played = played;
            t.havePlayed = true;
        }
        const auto now = Clock::now();
        if (feed.paused) {
            // The cork stops the sound at once; the server keeps what the stream holds and
            // plays it on after the uncork.
            if (!corked_) corked_ = complete(pa_stream_cork(stream_, 1, &onSuccess, this));
            pa_threaded_mainloop_unlock(loop_);
            t.stopped = corked_;
            t.healthy = true;
            t.wakeAt = corked_ ? kUntilWoken : now + kLongestTurn;
            return t;
        }
        if (corked_) {
            if (pa_operation* op = pa_stream_cork(stream_, 0, nullptr, nullptr)) pa_operation_unref(op);
            corked_ = false;
        }
        std::uint64_t written = feed.written;
        const std::size_t room = pa_stream_writable_size(stream_);
        if (room == static_cast<std::size_t>(-1)) {
            pa_threaded_mainloop_unlock(loop_);
            t.lost = true;
            return t;
        }
        if (feed.data) {
            const std::size_t frames = std::min(feed.frames, room / frameBytes_);
            if (frames > 0) {
                if (pa_stream_write(stream_, feed.data, frames * frameBytes_, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
                    pa_threaded_mainloop_unlock(loop_);
                    t.lost = true;
                    return t;
                }
                t.wrote = frames;
                written += frames;
            }
            pa_threaded_mainloop_unlock(loop_);
            // All taken: the worker stages more at once. Else the server's request for more
            // wakes it (onWritable); a header heard meanwhile comes back then.
            if (t.wrote < feed.frames) t.wakeAt = now + kLongestFullSleep;
            return t;
        } else if (written > played) {
            const pa_timing_info* ti = pa_stream_get_timing_info(stream_);
            if (ti && ti->read_index >= ti->write_index) {
                // Run dry: the stream's time stops short of the end by the sink's latency, so
                // all counts as heard once that latency has passed.
                if (pa_timeval_age(&ti->timestamp) >= ti->sink_usec + ti->transport_usec) t.allPlayed = true;
            } else if (ti && !ti->playing && !feed.recentSound) {
                // The last sound is shorter than the prebuffer: start it by hand.
                if (pa_operation* op = pa_stream_trigger(stream_, nullptr, nullptr)) pa_operation_unref(op);
            }
        }
        pa_threaded_mainloop_unlock(loop_);
        // Come back when the oldest header has been heard, or when half of what the server
        // holds has played, within the bounds of a turn.
        const std::uint64_t held = written > played ? written - played : 0;
        Clock::duration wait = timeOf(held / 2);
        if (feed.nextEnd > played) wait = std::min(wait, timeOf(feed.nextEnd - played));
        if (!feed.data && held == 0) {
            t.wakeAt = kUntilWoken;
            return t;
        }
        t.wakeAt = now + std::clamp<Clock::duration>(wait, kShortestTurn, kLongestTurn);
        return t;
    }

    const bool waitForServer_;

    // --- the worker's alone once it runs (open() sets them before it starts, stop() after it ends)
    int rate_ = 44100;
    std::size_t frameBytes_ = 4;
    std::uint64_t base_ = 0;  // frames of stream time before the last drop
    bool corked_ = false;

    // --- the shared connection's loop, set by the first open (before the worker starts)
    pa_threaded_mainloop* loop_ = nullptr;

    // --- guarded by the main loop's lock (its thread calls back holding it)
    pa_stream* stream_ = nullptr;
    std::string mediaName_;     // the track, shown by the server's clients
    bool lastSuccess_ = false;  // of the operation waited for
};

}  // namespace

std::unique_ptr<AudioOutput> makePulseOutput(bool waitForServer) {
    return std::make_unique<PulseOutput>(waitForServer);
}

void connectPulseAhead() {
    PulseLink::instance().warmUp();
}

bool pulseServerExpected() {
    if (const char* server = std::getenv("PULSE_SERVER"); server && *server) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st{};
    if (!runtime || !*runtime || stat(runtime, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    for (const char* server : {"/usr/bin/pulseaudio", "/usr/bin/pipewire-pulse"})
        if (access(server, X_OK) == 0) return true;
    return false;
}

}  // namespace vesperon::engine
