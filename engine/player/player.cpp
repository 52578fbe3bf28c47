#include "engine/player/player.h"

#include <cstring>

#include "engine/pipeline/file_source.h"
#include "engine/pipeline/frame_decoder_stage.h"
#include "engine/pipeline/wave_renderer.h"
#include "engine/player/play_gain.h"

namespace vesperon::engine {

Player::Player(const std::vector<std::string>& files, int count) : remaining_(count < 0 ? 0 : count) {
    for (const std::string& f : files) {
        if (f.empty()) break;
        files_.push_back(f);
    }
    if (!files_.empty()) startService();
}

Player::~Player() {
    {
        std::lock_guard lock(lock_);
        pipeline_.reset();
        state_ = PlayState::Stopped;
        quit_ = true;
    }
    if (service_.joinable()) {
        queueSignal_.release();
        service_.join();
    }
}

void Player::startService() {
    quit_ = false;
    countRanOut_ = false;
    service_ = std::thread([this] { serviceLoop(); });
}

Status Player::buildPipeline(const std::string& name, const NoticeSink& sink, const char* password) {
    // Numbered across players, so that a play's number names it for the whole process.
    static std::atomic<std::uint64_t> plays{0};
    const std::uint64_t play = ++plays;
    auto source = std::make_unique<FileSource>(this, play);
    auto renderer = std::make_unique<WaveRenderer>(this, play);
    auto decoder = std::make_unique<FrameDecoder>(this, play);
    decoder->setGain(playGainFactor(name));
    renderer->setNoticeSink(sink);
    renderer->setSource(std::move(source));
    renderer->setDecoder(std::move(decoder));
    Status r = renderer->open(name, password ? password : "");
    if (r != Status::Ok) return r;  // the renderer takes the decoder and the source with it
    pipeline_ = std::move(renderer);
    play_ = play;
    return Status::Ok;
}

Status Player::play(NoticeSink sink, const char* password, int startPercent, std::int64_t startMicroseconds) {
    std::lock_guard lock(lock_);
    return playLocked(std::move(sink), password, startPercent, startMicroseconds);
}

Status Player::playLocked(NoticeSink sink, const char* password, int startPercent,
                          std::int64_t startMicroseconds) {
    if (state_ == PlayState::Playing) {
        // Destroying the play stops it; its device is kept for the next one.
        pipeline_.reset();
        state_ = PlayState::Stopped;
    }
    Status r = Status::Ok;
    if (password && std::strlen(password) >= kPasswordCapacity)
        r = Status::PasswordTooLong;
    else if (files_.empty())
        r = Status::NothingToPlay;
    else if (!pipeline_)
        r = buildPipeline(files_[cursor_], sink, password);
    if (r != Status::Ok) {
        sink_ = nullptr;
        password_.clear();
        std::lock_guard end(endMutex_);
        lastEnd_ = PlayEnd{r, false};
        return r;
    }
    sink_ = std::move(sink);
    if (password && password != password_.c_str()) password_ = password;
    if (startPercent != 0) pipeline_->decoder()->setStartPercent(startPercent);
    if (startMicroseconds > 0) pipeline_->decoder()->setStartMicroseconds(startMicroseconds);
    if (countRanOut_ && service_.joinable()) {
        // The play count ran out earlier: play the list once more so the end of this file is
        // still taken care of.
        service_.join();
        remaining_ = 1;
        startService();
    }
    pipeline_->resume();
    state_ = PlayState::Playing;
    return Status::Ok;
}

void Player::setPaused(bool paused) {
    std::lock_guard lock(lock_);
    if (paused && pipeline_ && state_ == PlayState::Playing) {
        pipeline_->pause();
        state_ = PlayState::Paused;
    } else if (!paused && pipeline_ && state_ == PlayState::Paused) {
        pipeline_->resume();
        state_ = PlayState::Playing;
    }
}

bool Player::pauseHeard() {
    std::unique_lock lock(lock_, std::try_to_lock);
    if (!lock.owns_lock()) return false;
    return !pipeline_ || state_ != PlayState::Paused || pipeline_->pauseHeard();
}

HeardPosition Player::heard() {
    std::unique_lock lock(lock_, std::try_to_lock);
    std::lock_guard cache(heardMutex_);
    if (!lock.owns_lock()) return lastHeard_;
    if (!pipeline_) {
        lastHeard_.moving = false;
        if (state_ == PlayState::Stopped) lastHeard_ = HeardPosition{};
        return lastHeard_;
    }
    lastHeard_ = pipeline_->heard();
    lastHeard_.play = play_;
    if (state_ != PlayState::Playing) lastHeard_.moving = false;
    return lastHeard_;
}

PlayEnd Player::lastEnd() const {
    std::lock_guard end(endMutex_);
    return lastEnd_;
}

void Player::playEnded(std::uint64_t play, Status why) {
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back(Request{play, why});
    }
    queueSignal_.release();
}

void Player::serviceLoop() {
    while (!quit_) {
        bool empty;
        {
            std::lock_guard lock(queueMutex_);
            empty = queue_.empty();
        }
        if (empty) {
            queueSignal_.acquire();
            if (quit_) return;
        }
        Request request{};
        bool taken = false;
        {
            std::lock_guard lock(queueMutex_);
            if (!queue_.empty()) {
                request = queue_.front();
                queue_.pop_front();
                taken = true;
            }
        }
        if (taken) process(request);
    }
}

void Player::process(const Request& request) {
    std::lock_guard lock(lock_);
    // A report from a play that was stopped or replaced meanwhile must not end the current one.
    // A failed play ends as a finished one does: the list moves on.
    if (quit_ || !pipeline_ || request.play != play_) return;
    {
        std::lock_guard end(endMutex_);
        lastEnd_ = PlayEnd{request.why, pipeline_->soundPlayed()};
    }
    pipeline_.reset();
    state_ = PlayState::Stopped;
    if (sink_) sink_(Notice::trackEnded(request.why));
    if (++cursor_ == files_.size()) {
        cursor_ = 0;
        if (remaining_ > 0 && --remaining_ == 0) {
            quit_ = true;
            countRanOut_ = true;
            return;
        }
    }
    playLocked(sink_, password_.c_str(), 0);
}

}  // namespace vesperon::engine
