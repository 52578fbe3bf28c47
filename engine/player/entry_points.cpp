#include "engine/player/entry_points.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace vesperon::engine {

namespace {

Playback* toPlayback(PlayerHandle h) {
    return reinterpret_cast<Playback*>(h);
}

// Notices go to the window as the notify message's number; none without a window. Those
// without a number (the first sound heard) count as delivered.
NoticeSink windowSink(WindowHandle window) {
    if (window == 0) return {};
    return [window](const Notice& n) {
        const std::optional<std::intptr_t> value = noticeValue(n);
        return !value || postToWindow(window, kPlayerNotifyMessage, *value, 0);
    };
}

}  // namespace

PlayerHandle CreatePlayer(const char* list, std::int32_t count) {
    if (!list) return 0;
    std::vector<std::string> files;
    for (const char* name = list; *name != '\0'; name += std::strlen(name) + 1) files.emplace_back(name);
    Playback* p = new (std::nothrow) Playback(files, count);
    return reinterpret_cast<PlayerHandle>(p);
}

void NewPlay(PlayerHandle player, WindowHandle notify, const char* password, std::int32_t startPercent) {
    if (!player) return;
    PlayOptions options{windowSink(notify), startPercent, std::nullopt};
    if (password) options.password = password;
    toPlayback(player)->play(options);
}

void NewPlayAt(PlayerHandle player, WindowHandle notify, const char* password,
               std::int64_t startMicroseconds) {
    if (!player) return;
    PlayOptions options{windowSink(notify), 0, std::nullopt, startMicroseconds};
    if (password) options.password = password;
    toPlayback(player)->play(options);
}

void Play(PlayerHandle player) {
    NewPlay(player, 0, nullptr, 0);
}

std::int32_t GetPlayState(PlayerHandle player) {
    if (!player) return 0;
    switch (toPlayback(player)->state()) {
        case PlayState::Playing:
            return 1;
        case PlayState::Paused:
            return -1;
        case PlayState::Stopped:
            break;
    }
    return 0;
}

void SetPauseState(PlayerHandle player, std::int32_t pause) {
    if (player) toPlayback(player)->setPaused(pause != 0);
}

std::int32_t GetPauseHeard(PlayerHandle player) {
    return player ? (toPlayback(player)->pauseHeard() ? 1 : 0) : 1;
}

HeardPosition GetHeardPosition(PlayerHandle player) {
    return player ? toPlayback(player)->heard() : HeardPosition{};
}

PlayEnd GetPlayEnd(PlayerHandle player) {
    return player ? toPlayback(player)->lastEnd() : PlayEnd{};
}

void RemovePlayer(PlayerHandle player) {
    delete toPlayback(player);
}

int InitialiseEngine() {
    return 1;
}

EngineFunction LookupEngineFunction(const char* name) {
    struct Entry {
        const char* name;
        EngineFunction function;
    };
    static const Entry table[] = {
        {"CreatePlayer", reinterpret_cast<EngineFunction>(&CreatePlayer)},
        {"NewPlay", reinterpret_cast<EngineFunction>(&NewPlay)},
        {"Play", reinterpret_cast<EngineFunction>(&Play)},
        {"GetPlayState", reinterpret_cast<EngineFunction>(&GetPlayState)},
        {"SetPauseState", reinterpret_cast<EngineFunction>(&SetPauseState)},
        {"RemovePlayer", reinterpret_cast<EngineFunction>(&RemovePlayer)},
    };
    if (!name) return nullptr;
    for (const Entry& e : table)
        if (std::strcmp(e.name, name) == 0) return e.function;
    return nullptr;
}

void ShutDownEngine() {}

}  // namespace vesperon::engine
