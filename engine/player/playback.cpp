#include "engine/player/playback.h"

#include "engine/player/play_gain.h"
#include "engine/player/player.h"

namespace vesperon::engine {

Playback::Playback(const std::vector<std::string>& files, int rounds)
    : player_(std::make_unique<Player>(files, rounds)) {}

Playback::~Playback() = default;

Status Playback::play(const PlayOptions& options) {
    return player_->play(options.notices, options.password ? options.password->c_str() : nullptr,
                         options.startPercent, options.startMicroseconds);
}

void Playback::setPaused(bool paused) {
    player_->setPaused(paused);
}

PlayState Playback::state() const {
    return player_->state();
}

bool Playback::pauseHeard() {
    return player_->pauseHeard();
}

HeardPosition Playback::heard() {
    return player_->heard();
}

PlayEnd Playback::lastEnd() const {
    return player_->lastEnd();
}

void Playback::setTrackGains(std::unordered_map<std::string, double> decibelsByPath) {
    engine::setTrackGains(std::move(decibelsByPath));
}

void Playback::setStreamLevel(int percent) {
    engine::setStreamLevel(percent);
}

}  // namespace vesperon::engine
