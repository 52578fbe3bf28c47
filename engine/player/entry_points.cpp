#include "engine/player/entry_points.h"

#include <cstring>
#include <new>

#include "engine/player/player.h"

namespace vesperon::engine {

namespace {
Player* toPlayer(PlayerHandle h) {
    return reinterpret_cast<Player*>(h);
}
}  // namespace

PlayerHandle CreatePlayer(const char* list, std::int32_t count) {
    if (!list) return 0;
    Player* p = new (std::nothrow) Player(list, count);
    return reinterpret_cast<PlayerHandle>(p);
}

void NewPlay(PlayerHandle player, WindowHandle notify, const char* password, std::int32_t startPercent) {
    if (player) toPlayer(player)->newPlay(notify, password, startPercent);
}

void Play(PlayerHandle player) {
    NewPlay(player, 0, nullptr, 0);
}

std::int32_t GetPlayState(PlayerHandle player) {
    return player ? toPlayer(player)->playState() : 0;
}

void SetPauseState(PlayerHandle player, std::int32_t pause) {
    if (player) toPlayer(player)->setPauseState(pause);
}

std::int32_t GetPauseHeard(PlayerHandle player) {
    return player ? (toPlayer(player)->pauseHeard() ? 1 : 0) : 1;
}

HeardPosition GetHeardPosition(PlayerHandle player) {
    return player ? toPlayer(player)->heard() : HeardPosition{};
}

void RemovePlayer(PlayerHandle player) {
    delete toPlayer(player);
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
