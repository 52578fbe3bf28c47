#include "engine/player/player.h"

#include <cstring>

#include "engine/pipeline/file_source.h"
#include "engine/pipeline/frame_decoder_stage.h"
#include "engine/pipeline/wave_renderer.h"

namespace vesperon::engine {

std::size_t Player::listLength(const char* list) {
    if (!list) return 0;
    std::size_t i = 0;
    while (list[i] != '\0') i += std::strlen(list + i) + 1;
    return i + 1;
}

Player::Player(const char* list, int count) : remaining_(count < 0 ? 0 : count) {
    std::size_t length = listLength(list);
    if (length > 1) {
        list_.assign(list, list + length);
        cursor_ = 0;
        startService();
    }
}

Player::~Player() {
    {
        std::lock_guard lock(lock_);
        pipeline_.reset();
        state_ = State::Stopped;
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

Status Player::buildPipeline(const char* name, WindowHandle window, const char* password) {
    // Numbered across players, so that a play's number names it for the whole process.
    static std::atomic<std::uint64_t> plays{0};
    const std::uint64_t play = ++plays;
    auto source = std::make_unique<FileSource>(this, play);
    auto renderer = std::make_unique<WaveRenderer>(this, play);
    auto decoder = std::make_unique<FrameDecoder>(this, play);
    renderer->setNotifyWindow(window);
    renderer->setSource(std::move(source));
    renderer->setDecoder(std::move(decoder));
    Status r = renderer->open(name, password ? password : "");
    if (r != Status::Ok) return r;  // the renderer takes the decoder and the source with it
    pipeline_ = std::move(renderer);
    play_ = play;
    return Status::Ok;
}

void Player::newPlay(WindowHandle window, const char* password, int startPercent) {
    std::lock_guard lock(lock_);
    newPlayLocked(window, password, startPercent);
}

void Player::newPlayLocked(WindowHandle window, const char* password, int startPercent) {
    if (state_ == State::Playing) {
        // Destroying the play stops it; its device is kept for the next one.
        pipeline_.reset();
        state_ = State::Stopped;
    }
    bool ok =
        !(password && std::strlen(password) >= kPasswordCapacity) && !list_.empty() && list_[cursor_] != '\0';
    if (ok && !pipeline_) ok = buildPipeline(&list_[cursor_], window, password) == Status::Ok;
    if (!ok) {
        notify_ = 0;
        password_.clear();
        return;
    }
    notify_ = window;
    if (password && password != password_.c_str()) password_ = password;
    if (startPercent != 0) pipeline_->decoder()->setStartPercent(startPercent);
    if (countRanOut_ && service_.joinable()) {
        // The play count ran out earlier: play the list once more so the end of this file is
        // still taken care of.
        service_.join();
        remaining_ = 1;
        startService();
    }
    pipeline_->resume();
    state_ = State::Playing;
}

void Player::setPauseState(int pause) {
    std::lock_guard lock(lock_);
    if (pause != 0 && pipeline_ && state_ == State::Playing) {
        pipeline_->pause();
        state_ = State::Paused;
    } else if (pause == 0 && pipeline_ && state_ == State::Paused) {
        pipeline_->resume();
        state_ = State::Playing;
    }
}

bool Player::pauseHeard() {
    std::unique_lock lock(lock_, std::try_to_lock);
    if (!lock.owns_lock()) return false;
    return !pipeline_ || state_ != State::Paused || pipeline_->pauseHeard();
}

HeardPosition Player::heard() {
    std::unique_lock lock(lock_, std::try_to_lock);
    std::lock_guard cache(heardMutex_);
    if (!lock.owns_lock()) return lastHeard_;
    if (!pipeline_) {
        lastHeard_.moving = false;
        if (state_ == State::Stopped) lastHeard_ = HeardPosition{};
        return lastHeard_;
    }
    lastHeard_ = pipeline_->heard();
    lastHeard_.play = play_;
    if (state_ != State::Playing) lastHeard_.moving = false;
    return lastHeard_;
}

int Player::playState() const {
    switch (state_.load()) {
        case State::Playing:
            return 1;
        case State::Paused:
            return -1;
        default:
            return 0;
    }
}

void Player::postRequest(StageRequest code, std::uint64_t play) {
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back(Request{code, play});
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
    if (quit_ || !pipeline_ || request.play != play_) return;
    pipeline_.reset();
    state_ = State::Stopped;
    postToWindow(notify_, kPlayerNotifyMessage, 100, 0);
    cursor_ += std::strlen(&list_[cursor_]) + 1;
    if (list_[cursor_] == '\0') {
        cursor_ = 0;
        if (remaining_ > 0 && --remaining_ == 0) {
            quit_ = true;
            countRanOut_ = true;
            return;
        }
    }
    newPlayLocked(notify_, password_.c_str(), 0);
}

}  // namespace vesperon::engine
