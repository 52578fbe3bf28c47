#include "engine/player/play_gain.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "engine/pipeline/pcm_gain.h"

namespace vesperon::engine {

namespace {

std::mutex g_mutex;
std::unordered_map<std::string, double> g_gains;  // guarded by g_mutex
std::atomic<int> g_level{100};

}  // namespace

void setTrackGains(std::unordered_map<std::string, double> decibelsByPath) {
    std::lock_guard lock(g_mutex);
    g_gains = std::move(decibelsByPath);
}

void setStreamLevel(int percent) {
    g_level = std::clamp(percent, 0, 100);
}

int streamLevel() {
    return g_level.load();
}

float playGainFactor(const std::string& path) {
    double decibels = 0;
    {
        std::lock_guard lock(g_mutex);
        auto it = g_gains.find(path);
        if (it != g_gains.end()) decibels = it->second;
    }
    return gainFactor(decibels, g_level.load());
}

}  // namespace vesperon::engine
