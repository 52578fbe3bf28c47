// One fade at a time: commands that arrive while a fade runs wait for it, in order.

#include <deque>

#include "app/logic.h"

namespace vesperon::app {

void finishQuitWhenIdle();  // quit.cpp

namespace {

int fadeDepth = 0;
bool draining = false;

struct Waiting {
    std::function<void()> run;
    CommandKind kind;
};
std::deque<Waiting> waiting;

// A key held down or a burst of clicks cannot pile up more than this.
constexpr std::size_t kMostWaiting = 32;

void drain() {
    draining = true;
    while (!waiting.empty() && !quitRequested()) {
        Waiting next = std::move(waiting.front());
        waiting.pop_front();
        next.run();
    }
    waiting.clear();
    draining = false;
}

}  // namespace

FadeScope::FadeScope() { ++fadeDepth; }

FadeScope::~FadeScope() {
    if (--fadeDepth == 0 && !draining) drain();
    if (fadeDepth == 0) finishQuitWhenIdle();
}

bool fadeRunning() { return fadeDepth > 0; }

void whenIdle(std::function<void()> command, CommandKind kind) {
    if (quitRequested()) return;
    if (fadeDepth == 0 && !draining) {
        command();
        return;
    }
    // A second toggle undoes the first one still waiting.
    if (kind == CommandKind::Toggle && !waiting.empty() && waiting.back().kind == CommandKind::Toggle) {
        waiting.pop_back();
        return;
    }
    if (waiting.size() < kMostWaiting) waiting.push_back({std::move(command), kind});
}

void resetFadeGate() {
    fadeDepth = 0;
    draining = false;
    waiting.clear();
}

}  // namespace vesperon::app
