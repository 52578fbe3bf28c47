#include "volume/pulse_mixer.h"

#include <pulse/pulseaudio.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>

#include "engine/output/pulse_wait.h"

namespace vesperon::volume {
namespace {

using engine::waitLocked;

using namespace std::chrono_literals;

constexpr const char* kSink = "@DEFAULT_SINK@";  // the server's default sink, looked up each time
constexpr uint32_t kVolumeId = 1;
constexpr uint32_t kMuteId = 2;
// The longest a connection or a request may take before the server counts as gone. The caller
// has given up long before (it waits for a bounded time); this only frees its worker again.
constexpr auto kAnswerLimit = 2s;

// The volume module's own main loop, for its connections: made once, never ended (a handle may
// be dropped on a worker after the statics are gone).
pa_threaded_mainloop* volumeLoop() {
    static pa_threaded_mainloop* const loop = [] {
        pa_threaded_mainloop* l = pa_threaded_mainloop_new();
        if (!l) return l;
        pa_threaded_mainloop_set_name(l, "vesperon-volume");
        if (pa_threaded_mainloop_start(l) < 0) {
            pa_threaded_mainloop_free(l);
            return static_cast<pa_threaded_mainloop*>(nullptr);
        }
        return l;
    }();
    return loop;
}

class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* l) : loop_(l) { pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

// The sink as one look found it.
struct Sink {
    uint32_t index = PA_INVALID_INDEX;
    pa_cvolume volume{};
    bool muted = false;
};

class PulseMixerHandle final : public MixerHandle {
public:
    static std::unique_ptr<PulseMixerHandle> open() {
        pa_threaded_mainloop* loop = volumeLoop();
        if (!loop) return nullptr;
        std::unique_ptr<PulseMixerHandle> h(new PulseMixerHandle(loop));
        if (h->wake_ < 0 || !h->connect()) return nullptr;
        return h;
    }

    ~PulseMixerHandle() override {
        {
            LoopLock lock(loop_);
            if (context_) {
                pa_context_set_state_callback(context_, nullptr, nullptr);
                pa_context_set_subscribe_callback(context_, nullptr, nullptr);
                pa_context_disconnect(context_);
                pa_context_unref(context_);
            }
        }
        if (wake_ >= 0) ::close(wake_);
    }

    std::optional<MixerLine> lineByType(uint32_t type) override {
        // The plugin shows one playback line, the sink; nothing is connected to it.
        if (type != kSpeakersDestination) return std::nullopt;
        MixerLine line;
        line.componentType = type;
        line.channels = channels_;
        line.name = "Master";
        line.key = 0;
        return line;
    }

    std::optional<MixerLine> sourceLine(const MixerLine&, uint32_t) override { return std::nullopt; }

    std::optional<MixerControl> findControl(const MixerLine& line, uint32_t controlType) override {
        if (line.key != 0) return std::nullopt;
        MixerControl c;
        if (controlType == kVolumeControlType) {
            c.id = kVolumeId;
            c.name = "Master Playback Volume";
            c.maximum = PA_VOLUME_NORM;
        } else if (controlType == kMuteControlType) {
            c.id = kMuteId;
            c.name = "Master Playback Switch";
        } else {
            return std::nullopt;
        }
        Sink now;
        if (!request(now, nullptr)) return std::nullopt;
        watched_[c.id] = valuesOf(c.id, now);
        return c;
    }

    bool readValues(uint32_t id, std::span<uint32_t> values) override {
        Sink now;
        if (!request(now, nullptr)) return false;
        const std::vector<uint32_t> v = valuesOf(id, now);
        if (values.size() > v.size()) return false;
        std::copy_n(v.begin(), values.size(), values.begin());
        return true;
    }

    bool writeValues(uint32_t id, std::span<const uint32_t> values) override {
        Sink now;
        Write w{id, values, nullptr, nullptr};
        return request(now, &w) && w.written;
    }

    bool writeValuesIf(uint32_t id, const std::vector<int>& expected, std::span<const uint32_t> values,
                       std::optional<int>* seen) override {
        Sink now;
        Write w{id, values, &expected, seen};
        // Written and then put back (someone else's value was there) counts as not written.
        return request(now, &w) && w.written && !*seen;
    }

    bool lost() const override { return lost_; }

    std::vector<int> pollDescriptors() override { return {wake_}; }

    std::vector<uint32_t> takeChangedControls() override {
        // Left readable once the connection is gone: the caller stops watching then.
        if (lost_) return {};
        uint64_t count = 0;
        while (::read(wake_, &count, sizeof count) > 0) {
        }
        Sink now;
        if (watched_.empty() || !request(now, nullptr)) return {};
        std::vector<uint32_t> changed;
        for (auto& [id, last] : watched_) {
            std::vector<uint32_t> v = valuesOf(id, now);
            if (v == last) continue;
            last = std::move(v);
            changed.push_back(id);
        }
        return changed;
    }

private:
    // A write that depends on a look at the sink.
    struct Write {
        uint32_t id;
        std::span<const uint32_t> values;
        const std::vector<int>* expected;  // none: written whatever the look found
        std::optional<int>* seen;
        bool sent = false, answered = false, written = false;
    };
    // One look at the sink, and the write it may carry.
    struct Request {
        PulseMixerHandle* self;
        Sink* sink;
        Write* write;
        bool found = false, looked = false;
        bool ahead = false;  // the write went out right behind the look, before its answer
        pa_operation* writeOp = nullptr;
        pa_operation* putBack = nullptr;  // someone else's value, written back over an early write
        bool putBackAnswered = false;
        bool over() const {
            return looked && (!write || !write->sent || write->answered) && (!putBack || putBackAnswered);
        }
    };

    explicit PulseMixerHandle(pa_threaded_mainloop* loop)
        : loop_(loop), wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

    bool connect() {
        LoopLock lock(loop_);
        pa_proplist* app = pa_proplist_new();
        pa_proplist_sets(app, PA_PROP_APPLICATION_NAME, "Vesperon");
        pa_proplist_sets(app, PA_PROP_APPLICATION_ID, "vesperon");
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Vesperon volume", app);
        pa_proplist_free(app);
        if (!context_) return false;
        pa_context_set_state_callback(context_, &onContextState, this);
        // No autospawn: a server that is not there counts as no mixer, as with the ALSA plugin.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
        auto settled = [&] {
            const pa_context_state_t s = pa_context_get_state(context_);
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        };
        if (!waitLocked(loop_, settled, kAnswerLimit) || pa_context_get_state(context_) != PA_CONTEXT_READY) return false;
        // Sent before the first look: every change after it is reported.
        pa_context_set_subscribe_callback(context_, &onEvent, this);
        const auto mask =
            static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);
        if (pa_operation* op = pa_context_subscribe(context_, mask, nullptr, nullptr)) pa_operation_unref(op);
        Sink now;
        if (!requestLocked(now, nullptr)) return false;
        channels_ = now.volume.channels;
        return true;
    }

    bool request(Sink& sink, Write* write) {
        LoopLock lock(loop_);
        return requestLocked(sink, write);
    }

    // With the lock held: looks at the sink and, when `write` is given and the look allows it,
    // writes. A write that must not go over another's change is sent right behind the look,
    // before its answer: the two reach the server together, so another program's change comes
    // between them only when it reaches the server at that very moment, however long this
    // process then waits for a processor (which, between an answer and a write sent from it,
    // left room for such changes now and then on a loaded machine). When the
    // look then shows a value that is not one of those expected, that value is written back at
    // once (the sink shows the step for a round trip). Any other write is sent from the look's
    // answer. False when the server did not answer (or has gone) or there is no default sink.
    bool requestLocked(Sink& sink, Write* write) {
        if (lost_ || pa_context_get_state(context_) != PA_CONTEXT_READY) return false;
        Request r{this, &sink, write};
        pa_operation* look = pa_context_get_sink_info_by_name(context_, kSink, &onSinkInfo, &r);
        if (!look) return false;
        if (write && write->expected && write->id == kVolumeId && write->values.size() == channels_ &&
            fits(write->values)) {
            pa_cvolume volume{};
            volume.channels = static_cast<uint8_t>(channels_);
            std::copy(write->values.begin(), write->values.end(), volume.values);
            r.writeOp = pa_context_set_sink_volume_by_name(context_, kSink, &volume, &onWritten, &r);
            r.ahead = write->sent = r.writeOp != nullptr;
        }
        const bool answered = waitLocked(loop_, [&] { return r.over() || !ready(); }, kAnswerLimit);
        if (!answered || !r.over()) {
            // Not answered in time: the server hangs. Neither callback may run after this.
            pa_operation_cancel(look);
            if (r.writeOp) pa_operation_cancel(r.writeOp);
            if (r.putBack) pa_operation_cancel(r.putBack);
            lost_ = true;
            notify();
        }
        pa_operation_unref(look);
        if (r.writeOp) pa_operation_unref(r.writeOp);
        if (r.putBack) pa_operation_unref(r.putBack);
        return r.over() && r.found;
    }

    bool ready() const { return pa_context_get_state(context_) == PA_CONTEXT_READY; }

    static std::vector<uint32_t> valuesOf(uint32_t id, const Sink& s) {
        if (id == kMuteId) return {s.muted ? 1u : 0u};
        std::vector<uint32_t> v;
        for (unsigned c = 0; c < s.volume.channels; ++c)
            v.push_back(std::min<uint32_t>(s.volume.values[c], PA_VOLUME_NORM));
        return v;
    }

    // On the loop's thread: the look's answer, and the write it allows.
    static void onSinkInfo(pa_context* c, const pa_sink_info* info, int eol, void* data) {
        auto* r = static_cast<Request*>(data);
        if (eol != 0 || !info) {
            r->looked = true;
            pa_threaded_mainloop_signal(r->self->loop_, 0);
            return;
        }
        r->found = true;
        r->sink->index = info->index;
        r->sink->volume = info->volume;
        r->sink->muted = info->mute != 0;
        Write* w = r->write;
        if (!w) return;
        if (!r->ahead) {
            w->sent = send(c, *r->sink, *w, r);
        } else if (const std::optional<int> other = foreign(*r->sink, *w)) {
            // Someone else's change came just before the write: theirs goes back over it.
            *w->seen = other;
            r->putBack = pa_context_set_sink_volume_by_index(c, info->index, &info->volume, &onPutBack, r);
        }
    }

    static bool fits(std::span<const uint32_t> values) {
        return std::all_of(values.begin(), values.end(), [](uint32_t v) { return v <= PA_VOLUME_NORM; });
    }

    // The value the look found (second channel, or the only one) when it is none of those the
    // write expects.
    static std::optional<int> foreign(const Sink& s, const Write& w) {
        const std::vector<uint32_t> now = valuesOf(w.id, s);
        if (!w.expected || now.empty()) return std::nullopt;
        const int v = static_cast<int>(now.size() >= 2 ? now[1] : now[0]);
        if (std::find(w.expected->begin(), w.expected->end(), v) != w.expected->end()) return std::nullopt;
        return v;
    }

    static bool send(pa_context* c, const Sink& s, Write& w, Request* r) {
        const std::vector<uint32_t> now = valuesOf(w.id, s);
        // A value beyond the full level is refused as the ALSA plugin refuses it, not cut down.
        if (w.values.empty() || w.values.size() > now.size() || !fits(w.values)) return false;
        if (const std::optional<int> other = foreign(s, w)) {
            *w.seen = other;
            return false;
        }
        if (w.id == kMuteId) {
            r->writeOp = pa_context_set_sink_mute_by_index(c, s.index, w.values[0] != 0, &onWritten, r);
        } else {
            pa_cvolume volume = s.volume;
            for (size_t i = 0; i < w.values.size(); ++i) volume.values[i] = w.values[i];
            r->writeOp = pa_context_set_sink_volume_by_index(c, s.index, &volume, &onWritten, r);
        }
        return r->writeOp != nullptr;
    }

    static void onWritten(pa_context*, int success, void* data) {
        auto* r = static_cast<Request*>(data);
        r->write->answered = true;
        r->write->written = success != 0;
        pa_threaded_mainloop_signal(r->self->loop_, 0);
    }

    static void onPutBack(pa_context*, int, void* data) {
        auto* r = static_cast<Request*>(data);
        r->putBackAnswered = true;
        pa_threaded_mainloop_signal(r->self->loop_, 0);
    }

    static void onContextState(pa_context* c, void* data) {
        auto* self = static_cast<PulseMixerHandle*>(data);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c))) {
            self->lost_ = true;
            self->notify();
        }
        pa_threaded_mainloop_signal(self->loop_, 0);
    }

    // The sink's volume or mute, or which sink is the default, may have changed.
    static void onEvent(pa_context*, pa_subscription_event_type_t, uint32_t, void* data) {
        static_cast<PulseMixerHandle*>(data)->notify();
    }

    void notify() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    }

    pa_threaded_mainloop* loop_;
    const int wake_;                  // readable when there is news (or the connection is gone)
    pa_context* context_ = nullptr;   // guarded by the loop's lock
    std::atomic<bool> lost_ = false;  // set by the loop's thread too
    uint32_t channels_ = 0;
    std::map<uint32_t, std::vector<uint32_t>> watched_;  // the values last reported, by control
};

class PulseMixerSystem final : public MixerSystem {
public:
    // The default sink is the one device; it counts when the server answers.
    unsigned deviceCount() override { return PulseMixerHandle::open() ? 1 : 0; }
    std::unique_ptr<MixerHandle> open(unsigned device) override {
        if (device != 0) return nullptr;
        return PulseMixerHandle::open();
    }
};

}  // namespace

std::unique_ptr<MixerSystem> makePulseMixerSystem() {
    return std::make_unique<PulseMixerSystem>();
}

}  // namespace vesperon::volume
