#include "engine/pipeline/wave_renderer.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "engine/output/output_keeper.h"
#include "engine/pipeline/file_source.h"
#include "engine/pipeline/frame_decoder_stage.h"

namespace vesperon::engine {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kClosePoll = std::chrono::milliseconds(100);
// Seconds of sound the device still holds when a play ends: the time the next play has to
// reach the device. 0.4 s ran dry now and then on a loaded 2-core machine (a 275-ms gap).
constexpr double kHandOverLead = 0.8;
// With less than this queued at the device the renderer takes each decoded frame as it comes;
// with more it sleeps until the decoder has filled the ring.
constexpr double kUrgentLead = 0.5;
// How often the sound heard is looked at until the first sound is heard; after that, when the
// next percentage is due, but at least this often (so that a device that failed for good is
// seen while nothing comes back from it) and at most as often as the first.
constexpr auto kReportEvery = std::chrono::milliseconds(20);
constexpr auto kLongestReportWait = std::chrono::seconds(1);
}  // namespace

WaveRenderer::WaveRenderer(RequestSink* owner, std::uint64_t play) : PipelineStage(owner, play) {}

WaveRenderer::~WaveRenderer() {
    stopAndWake();
    if (thread_.joinable()) thread_.join();
    closeDevice();
    // The reader signals the decoder, so it stops before the decoder goes.
    if (decoder_) decoder_->pause();
    if (source_) {
        source_->pause();
        source_->stopThread();
    }
    decoder_.reset();
    source_.reset();
}

void WaveRenderer::setDecoder(std::unique_ptr<FrameDecoder> decoder) {
    std::lock_guard lock(mutex_);
    decoder_ = std::move(decoder);
}

void WaveRenderer::setSource(std::unique_ptr<FileSource> source) {
    std::lock_guard lock(mutex_);
    source_ = std::move(source);
}

Status WaveRenderer::open(const std::string& fileName, const std::string& password) {
    std::lock_guard lock(mutex_);
    if (!source_ || !decoder_) return Status::NotConnected;
    mediaName_ = fileName.substr(fileName.find_last_of('/') + 1);
    source_->setFile(fileName, password);
    source_->setReader(decoder_.get());
    decoder_->setSource(source_.get());
    decoder_->setRenderer(this);
    StreamRing* bytes = nullptr;
    if (Status r = source_->open(&bytes); r != Status::Ok) return r;
    MessageRing* pcm = nullptr;
    if (Status r = decoder_->connect(bytes, &pcm); r != Status::Ok) return r;
    return openWithRingLocked(pcm, decoder_.get());
}

Status WaveRenderer::openWithRing(MessageRing* pcm, PipelineStage* writer) {
    std::lock_guard lock(mutex_);
    return openWithRingLocked(pcm, writer);
}

Status WaveRenderer::openWithRingLocked(MessageRing* pcm, PipelineStage* writer) {
    if (!pcm) return Status::NoInputRing;
    pcm_ = pcm;
    input_ = pcm;
    writer_ = writer;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return Status::ReaderThreadFailed;
    }
    return Status::Ok;
}

void WaveRenderer::pause() {
    std::lock_guard lock(mutex_);
    paused_ = true;
    signal_.release();
    if (deviceOpen_) device_->pause();
}

void WaveRenderer::resume() {
    std::lock_guard lock(mutex_);
    if (deviceOpen_) device_->restart();
    paused_ = false;
    resume_.release();
}

bool WaveRenderer::pauseHeard() {
    std::lock_guard lock(mutex_);
    return !deviceOpen_ || device_->pauseHeard();
}

HeardPosition WaveRenderer::heard() {
    std::lock_guard lock(mutex_);
    return heardLocked();
}

HeardPosition WaveRenderer::heardLocked() {
    if (!deviceOpen_) return lastHeard_;
    HeardPosition h;
    h.sampleRate = format_.sampleRate;
    h.totalSamples = totalFrames_ * format_.samplesPerFrame;
    const std::uint64_t heard = device_->soundHeard();
    const std::int64_t inTrack = heard > trackStart_ ? static_cast<std::int64_t>(heard - trackStart_) : 0;
    h.started = inTrack > 0 || priorSamples_ > 0;
    h.samples = firstFrame_ * format_.samplesPerFrame + priorSamples_ + inTrack;
    h.moving = h.started && !paused() && !stopping();
    return h;
}

void WaveRenderer::reportHeard() {
    const auto now = Clock::now();
    if (now < nextReport_) return;
    nextReport_ = now + kReportEvery;
    if (!sink_) {
        nextReport_ = now + kLongestReportWait;
        return;
    }
    HeardPosition h;
    {
        std::lock_guard lock(mutex_);
        h = heardLocked();
    }
    if (!h.started) return;
    std::int64_t at = h.samples;
    if (!postedStart_) {
        // The bar starts where the play starts; what is heard moves it from the next look on.
        postedStart_ = true;
        sink_(Notice::firstSoundHeard());
        std::lock_guard lock(mutex_);
        at = firstFrame_ * format_.samplesPerFrame;
    }
    const int percent =
        h.totalSamples > 0 ? static_cast<int>(std::clamp<std::int64_t>(at * 100 / h.totalSamples, 0, 99)) : 0;
    if (percent != lastPercent_ && sink_(Notice::progress(percent))) lastPercent_ = percent;
    // The next look: when the sound heard reaches the next percentage.
    if (h.totalSamples > 0 && h.sampleRate > 0 && lastPercent_ >= 0) {
        const std::int64_t next = (lastPercent_ + 1) * h.totalSamples / 100 + 1 - h.samples;
        const auto due = std::chrono::microseconds(std::max<std::int64_t>(next, 0) * 1000000 / h.sampleRate);
        nextReport_ = now + std::clamp<Clock::duration>(due, kReportEvery, kLongestReportWait);
    }
}

Status WaveRenderer::resetOutput() {
    std::lock_guard lock(mutex_);
    if (deviceOpen_) device_->reset();
    return Status::Ok;
}

int WaveRenderer::headersAtDevice() {
    std::lock_guard lock(headerMutex_);
    int n = 0;
    for (const WaveHeader& h : headers_) n += h.user > 0;
    return n;
}

std::string WaveRenderer::deviceName() {
    std::lock_guard lock(mutex_);
    return deviceOpen_ ? device_->name() : std::string();
}

void WaveRenderer::signalWriter() {
    if (writer_) writer_->signal();
}

void WaveRenderer::stopAndWake() {
    requestStop();
    // Under the lock, so a wait that has just checked the stop flag is already waiting.
    std::lock_guard lock(headerMutex_);
    headerDone_.notify_all();
}

bool WaveRenderer::awaitInput(std::size_t bytes) {
    wantInput(bytes);
    // Asked first, then looked: a frame written in between is seen either way.
    if (pcm_->unhanded() < bytes && pcm_->firstMessageCode() < 0) {
        signalWriter();
        // Bounded by the next look at the sound heard; the writer's wake-up comes first.
        waitForSignalUntil(std::max(nextReport_, Clock::now()));
    }
    wantInput(0);
    return stopping() || paused();
}

double WaveRenderer::headerSeconds() const {
    return double(frameBytes_) / (2.0 * format_.channels * static_cast<double>(format_.sampleRate));
}

std::size_t WaveRenderer::inputWanted() const {
    return double(issued_ - completed_) * headerSeconds() < kUrgentLead ? frameBytes_ : SIZE_MAX;
}

void WaveRenderer::awaitHeader(std::unique_lock<std::mutex>& lock, std::int64_t headers) {
    if (stopping()) return;
    const auto now = Clock::now();
    wantHeaders_ = std::max<std::int64_t>(headers, 1);
    returned_ = 0;
    headerDone_.wait_until(lock, std::clamp(nextReport_, now, now + kLongestReportWait),
                           [&] { return returned_ >= wantHeaders_ || stopping(); });
    wantHeaders_ = 0;
    lock.unlock();
    reportHeard();
    lock.lock();
}

void WaveRenderer::onHeaderDone(void* context, WaveHeader* header) {
    auto* self = static_cast<WaveRenderer*>(context);
    bool wake = false;
    {
        std::lock_guard lock(self->headerMutex_);
        header->user = -header->user;
        wake = self->wantHeaders_ > 0 && ++self->returned_ == self->wantHeaders_;
    }
    // Outside the lock, so the woken renderer does not block on it at once.
    if (wake) self->headerDone_.notify_one();
}

bool WaveRenderer::openDevice(const StageMessage& message) {
    const PcmFormat& format = *message.format;
    if (format.bitsPerSample != 16 || format.channels <= 0 || format.sampleRate <= 0 || format.bytesPerFrame() <= 0)
        return false;
    const std::size_t frameBytes = static_cast<std::size_t>(format.bytesPerFrame());
    const std::size_t ringFrames = pcm_->size() / frameBytes;
    if (ringFrames < 2) return false;
    {
        std::lock_guard lock(headerMutex_);
        frameBytes_ = frameBytes;
        // One frame fewer than the ring holds: the decoder always has a frame to write into.
        headers_.assign(ringFrames - 1, WaveHeader{});
        for (WaveHeader& h : headers_) h.bufferLength = static_cast<std::uint32_t>(frameBytes);
        issued_ = completed_ = 0;
    }
    Status result = Status::Ok;
    std::unique_ptr<AudioOutput> device =
        OutputKeeper::instance().take(format, &WaveRenderer::onHeaderDone, this, &result);
    if (!device) return false;
    device->setMediaName(mediaName_);
    const std::uint64_t start = device->soundMark();
    std::lock_guard lock(mutex_);
    device_ = std::move(device);
    deviceOpen_ = true;
    format_ = format;
    trackStart_ = start;
    priorSamples_ += handedSamples_;
    handedSamples_ = 0;
    if (message.totalFrames > 0) {  // the decoder's first message; a later one keeps them
        firstFrame_ = message.firstFrame;
        totalFrames_ = message.totalFrames;
    }
    if (paused()) device_->pause();
    return true;
}

void WaveRenderer::closeDevice() {
    if (!deviceOpen_) return;
    {
        std::lock_guard lock(mutex_);
        lastHeard_ = heardLocked();
        lastHeard_.moving = false;
    }
    device_->reset();
    {
        std::lock_guard lock(headerMutex_);
        for (WaveHeader& h : headers_)
            if (h.user < 0) device_->unprepareHeader(&h);
    }
    if (device_->keepsOpen() && device_->release()) {
        // Silent now, and kept open for the next play.
        giveDevice();
    } else {
        while (device_->close() == Status::StillPlaying) std::this_thread::sleep_for(kClosePoll);
    }
    std::lock_guard lock(mutex_);
    device_.reset();
    deviceOpen_ = false;
    std::lock_guard headerLock(headerMutex_);
    headers_.clear();
}

void WaveRenderer::giveDevice() {
    std::unique_ptr<AudioOutput> device;
    {
        std::lock_guard lock(mutex_);
        if (deviceOpen_) lastHeard_ = heardLocked();
        lastHeard_.moving = false;
        device = std::move(device_);
        deviceOpen_ = false;
    }
    OutputKeeper::instance().give(std::move(device), format_);
}

bool WaveRenderer::handOver() {
    if (!device_->keepsOpen()) return false;
    // Once the device holds no more than kHandOverLead the play ends: the end is reported a
    // moment before it is heard, and the next track's first sound follows the last one's.
    const auto lead = static_cast<std::int64_t>(kHandOverLead / headerSeconds());
    {
        std::unique_lock lock(headerMutex_);
        for (;;) {
            if (stopping()) return true;
            if (paused()) {
                // Paused at the end: the rest plays after the resume, as with a drain.
                lock.unlock();
                if (waitForResume()) return true;
                lock.lock();
                continue;
            }
            std::int64_t queued = 0;
            for (const WaveHeader& h : headers_) queued += h.user > 0;
            // What the device holds counts the plays before this one too: tracks shorter than
            // the lead would otherwise end as fast as they decode, piling up at the device.
            const std::uint64_t mark = device_->soundMark(), heard = device_->soundHeard();
            const double held = std::max(double(queued) * headerSeconds(),
                                         mark > heard ? double(mark - heard) / format_.sampleRate : 0.0);
            if (held <= kHandOverLead || device_->failed()) break;
            awaitHeader(lock, queued - lead);
        }
    }
    device_->release();
    freeHeader(false);  // every header has come back
    giveDevice();
    return true;
}

WaveHeader* WaveRenderer::freeHeader(bool wait) {
    std::unique_lock lock(headerMutex_);
    bool freed = false;
    // The ring has room again: the decoder, asleep on a full ring, fills it in one go. Told
    // without the header lock, which the decoder's own locks never nest in.
    auto tellWriter = [&] {
        if (!freed) return;
        freed = false;
        lock.unlock();
        signalWriter();
        lock.lock();
    };
    for (;;) {
        // Finished frames leave the ring strictly in issue order, so its read position stays
        // behind the oldest frame still at the device.
        for (bool recycled = true; recycled;) {
            recycled = false;
            for (WaveHeader& h : headers_) {
                if (h.user < 0 && -h.user == completed_ + 1) {
                    device_->unprepareHeader(&h);
                    pcm_->consumeHandedOn(h.bufferLength);
                    inFlight_ -= h.bufferLength;
                    pcm_->setInFlight(inFlight_);
                    h.user = 0;
                    ++completed_;
                    recycled = freed = true;
                }
            }
        }
        tellWriter();
        if (!wait) return nullptr;
        for (WaveHeader& h : headers_) {
            if (h.user == 0) {
                h.user = ++issued_;
                return &h;
            }
        }
        if (stopping() || device_->failed()) return nullptr;
        // Woken by the device's callback once a quarter of the headers are back (so the decoder
        // refills the ring in one go), or one while the device holds little; or when the next
        // look at the sound heard is due.
        const bool urgent = double(issued_ - completed_) * headerSeconds() < kUrgentLead;
        awaitHeader(lock, urgent ? 1 : std::int64_t(headers_.size() / 4));
    }
}

bool WaveRenderer::handFrame(std::uint8_t* frame, std::size_t length) {
    WaveHeader* h = freeHeader(true);
    if (!h) return stopping();
    h->data = frame;
    h->bufferLength = static_cast<std::uint32_t>(length);
    device_->prepareHeader(h);
    handedSamples_ += static_cast<std::int64_t>(length) / format_.bytesPerSampleFrame();
    if (device_->write(h) != Status::Ok) {
        handedSamples_ -= static_cast<std::int64_t>(length) / format_.bytesPerSampleFrame();
        std::lock_guard lock(headerMutex_);
        h->user = 0;  // never reached the device
        --issued_;
        return false;
    }
    soundPlayed_.store(true, std::memory_order_release);
    return true;
}

bool WaveRenderer::drain() {
    std::unique_lock lock(headerMutex_);
    for (;;) {
        std::int64_t queued = 0;
        for (const WaveHeader& h : headers_) queued += h.user > 0;
        if (queued == 0) return true;
        if (stopping()) return false;
        if (paused()) {
            // Paused during the final drain: the rest plays after the resume, and the end is
            // still reported then.
            lock.unlock();
            if (waitForResume()) return false;
            lock.lock();
            continue;
        }
        awaitHeader(lock, queued);
    }
}

void WaveRenderer::run() {
    if (waitForResume()) return;
    while (!stopping()) {
        if (paused()) {
            if (waitForResume()) return;
            continue;
        }
        if (!deviceOpen_) {
            std::unique_ptr<StageMessage> message = pcm_->takeMessage();
            if (!message) {
                // The decoder posts the format first; told once, it wakes this thread then.
                wantInput(SIZE_MAX);
                if (pcm_->firstMessageCode() < 0) {
                    signalWriter();
                    waitForSignal();
                }
                wantInput(0);
                continue;
            }
            if (message->code == StageMessage::kFormat && message->format) {
                if (!openDevice(*message)) {
                    // Without a device the play cannot go on: let the player move on rather
                    // than stay Playing forever.
                    reportFailure(Status::DeviceFailed);
                    return;
                }
            } else if (message->code == StageMessage::kEndOfStream) {
                reportEnd(Status::EndOfData);
                return;
            }
            continue;
        }

        std::uint8_t* frame = nullptr;
        for (;;) {
            std::uint8_t* address = nullptr;
            Status r = pcm_->reserveRead(frameBytes_ + inFlight_, &address);
            if (r == Status::Ok) {
                frame = pcm_->wrap(address + inFlight_);
                inFlight_ += frameBytes_;
                pcm_->setInFlight(inFlight_);
                pcm_->consume(0);
                break;
            }
            if (r == Status::NotEnoughData) {
                freeHeader(false);
                reportHeard();
                if (awaitInput(inputWanted())) break;
                continue;
            }
            if (r == Status::MessageDue) {
                std::unique_ptr<StageMessage> message = pcm_->takeMessage();
                if (message && message->code == StageMessage::kEndOfStream) {
                    // A trimmed stream ends in a block shorter than a frame: it plays too.
                    const std::size_t rest = pcm_->fill() - inFlight_;
                    if (rest > 0 && rest < frameBytes_ &&
                        pcm_->reserveRead(inFlight_ + rest, &address) == Status::Ok) {
                        std::uint8_t* last = pcm_->wrap(address + inFlight_);
                        inFlight_ += rest;
                        pcm_->setInFlight(inFlight_);
                        pcm_->consume(0);
                        if (!handFrame(last, rest)) {
                            reportFailure(Status::DeviceFailed);
                            return;
                        }
                    }
                    // The device keeps playing what it holds; the next track follows it.
                    if (stopping()) return;
                    if ((handOver() || drain()) && !stopping()) reportEnd(Status::EndOfData);
                    return;
                }
                if (message && message->code == StageMessage::kFormat && message->format) {
                    const PcmFormat& f = *message->format;
                    if (!f.sameSound(format_) || f.samplesPerFrame != format_.samplesPerFrame) {
                        // A new format: play out what was queued in the old one first.
                        if (!handOver() && !drain()) return;
                        freeHeader(false);
                        closeDevice();
                        inFlight_ = 0;
                        pcm_->setInFlight(0);
                        if (!openDevice(*message)) {
                            reportFailure(Status::DeviceFailed);
                            return;
                        }
                    }
                }
                if (paused() || stopping()) break;
                continue;
            }
            if (r == Status::Stopping || r == Status::EndOfData) return;
            reportFailure(r);
            return;
        }
        if (!frame) continue;
        if (paused() || stopping()) {
            // Not handed on: take it back so that it is the first frame after the resume.
            inFlight_ -= frameBytes_;
            pcm_->setInFlight(inFlight_);
            continue;
        }
        if (!handFrame(frame, frameBytes_)) {
            // The device is gone for good: end the play as a device that did not open would.
            reportFailure(Status::DeviceFailed);
            return;
        }
    }
}

}  // namespace vesperon::engine
