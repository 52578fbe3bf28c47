// vesperon-play [--start PERCENT] [--password TEXT] [--count N] [--per-file] FILE...
//
// Plays the files through the engine's player without a window, printing each notification as
// it arrives ("heard" when a file's first sound is heard, "progress N" as it is heard, "end"
// when it has been played out to the device). Ends when the player has finished; Ctrl+C stops
// it. --per-file plays each file through a player of its own, made and removed by the command
// layer as the window does for every track, rather than one player over the whole list.
// VESPERON_AUDIO_OUTPUT chooses the output (pulse, alsa, null, wav:PATH).

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/output/output_keeper.h"
#include "engine/player/commands.h"
#include "engine/player/entry_points.h"
#include "engine/port/message_port.h"

using namespace vesperon::engine;

namespace {

constexpr WindowHandle kConsole = 1;
std::atomic<int> g_interrupted{0};
std::atomic<long> g_notifications{0};
// Written to by every notification and by the interrupt (write() is safe in a signal handler),
// so the main thread sleeps until something happens.
int g_events[2] = {-1, -1};

void postEvent() {
    const char byte = 1;
    if (write(g_events[1], &byte, 1) < 0) {
        // Full: the main thread has plenty to wake for already.
    }
}

// Sleeps until an event or `ms` have passed, then empties the pipe.
void awaitEvent(int ms) {
    pollfd p{g_events[0], POLLIN, 0};
    if (poll(&p, 1, ms) > 0) {
        char buffer[64];
        while (read(g_events[0], buffer, sizeof buffer) > 0) {
        }
    }
}

bool isConsole(WindowHandle h) {
    return h == kConsole;
}

bool printNotification(WindowHandle, std::uint32_t message, std::intptr_t wParam, std::intptr_t) {
    if (message != kPlayerNotifyMessage) return false;
    if (wParam == kNoticeTrackEnd)
        std::printf("end\n");
    else
        std::printf("progress %ld\n", static_cast<long>(wParam));
    std::fflush(stdout);
    ++g_notifications;
    postEvent();
    return true;
}

void onInterrupt(int) {
    g_interrupted = 1;
    postEvent();
}

int usage() {
    std::fprintf(
        stderr,
        "usage: vesperon-play [--start PERCENT] [--password TEXT] [--count N] [--per-file] FILE...\n");
    return 2;
}

// Between two files the state is briefly Stopped: a play has finished only when it stays
// Stopped with no notification for a fifth of a second. Every end comes with a notification;
// the second's time-out only bounds how late one that did not is seen.
template <typename State>
void waitUntilFinished(State state) {
    while (!g_interrupted) {
        if (state() != 0) {
            awaitEvent(1000);
            continue;
        }
        const long seen = g_notifications;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        for (auto now = std::chrono::steady_clock::now();
             now < until && g_notifications == seen && !g_interrupted; now = std::chrono::steady_clock::now())
            awaitEvent(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count()));
        if (state() == 0 && g_notifications == seen) break;
    }
}

int finish() {
    if (g_interrupted) {
        OutputKeeper::instance().closeNow();
        std::fprintf(stderr, "vesperon-play: stopped\n");
        return 130;
    }
    // The last track's end is reported a moment before it is heard: let the device play it out.
    OutputKeeper::instance().playOutAndClose(2.0);
    return 0;
}

// Each file through a player of its own, count rounds of the list (0: for ever).
int playPerFile(const std::vector<std::string>& files, int count, const char* password, int start) {
    for (int round = 0; (count <= 0 || round < count) && !g_interrupted; ++round) {
        for (const std::string& f : files) {
            if (g_interrupted) break;
            PlayMp3File(f, start, kConsole, password);
            if (QueryPlayState() == 0) std::fprintf(stderr, "vesperon-play: cannot play %s\n", f.c_str());
            waitUntilFinished([] { return QueryPlayState(); });
        }
    }
    RemoveCurrentPlayer();
    return finish();
}

}  // namespace

int main(int argc, char** argv) {
    int start = 0, count = 1;
    std::string password;
    bool havePassword = false, perFile = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "--start" || a == "--password" || a == "--count") && i + 1 < argc) {
            std::string v = argv[++i];
            if (a == "--start") {
                start = std::atoi(v.c_str());
            } else if (a == "--count") {
                count = std::atoi(v.c_str());
            } else {
                password = v;
                havePassword = true;
            }
        } else if (a == "--per-file") {
            perFile = true;
        } else if (a == "--help" || a == "-h") {
            return usage();
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return usage();
        } else if (!a.empty()) {
            files.push_back(a);
        }
    }
    if (files.empty()) return usage();

    std::vector<char> list;
    for (const std::string& f : files) {
        list.insert(list.end(), f.begin(), f.end());
        list.push_back('\0');
    }
    list.push_back('\0');

    if (pipe(g_events) != 0) return 1;
    for (int fd : g_events) fcntl(fd, F_SETFL, O_NONBLOCK);
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    installMessagePort(MessagePort{&printNotification, &isConsole});
    PrepareAudioOutput();
    if (perFile) return playPerFile(files, count, havePassword ? password.c_str() : nullptr, start);
    PlayerHandle player = CreatePlayer(list.data(), count);
    if (!player) {
        std::fprintf(stderr, "vesperon-play: cannot create a player\n");
        return 1;
    }
    NewPlay(player, kConsole, havePassword ? password.c_str() : nullptr, start);
    if (GetPlayState(player) == 0) {
        std::fprintf(stderr, "vesperon-play: cannot play %s\n", files.front().c_str());
        RemovePlayer(player);
        return 1;
    }

    waitUntilFinished([player] { return GetPlayState(player); });
    RemovePlayer(player);
    return finish();
}
