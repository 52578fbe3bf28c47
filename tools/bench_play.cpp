// bench-play [--decoder PATH] [--output NAME] [--gain DB] [FILE]
//
// Cost of playback: plays FILE (or a generated 30-second tone and noise mix) in real time to the
// null output (or the one NAME gives, as VESPERON_AUDIO_OUTPUT would) through the engine's
// player and prints the CPU time, wake-ups per second and peak memory used, next to the CPU
// time of decoding the same file alone (vesperon-decode --bench) and of the peer decoder
// (mpg123 -t), measured in the same run. With --gain the play's samples get that loudness gain
// (as the window's even loudness gives them); the run also prints what measuring the file's
// loudness costs (as a multiple of real time on one core) and what the gain costs on its own.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/loudness/measure.h"
#include "engine/pipeline/pcm_gain.h"
#include "engine/player/entry_points.h"
#include "engine/player/play_gain.h"
#include "engine/port/message_port.h"

using namespace vesperon::engine;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<int> g_ends{0};

bool onPost(WindowHandle, std::uint32_t, std::intptr_t wParam, std::intptr_t) {
    if (wParam == 100) ++g_ends;
    return true;
}
bool isWindow(WindowHandle h) {
    return h == 1;
}

double seconds(const timeval& t) {
    return t.tv_sec + t.tv_usec / 1e6;
}

double cpuOf(const rusage& r) {
    return seconds(r.ru_utime) + seconds(r.ru_stime);
}

double threadCpu() {
    rusage r{};
    getrusage(RUSAGE_THREAD, &r);
    return cpuOf(r);
}

// CPU seconds of a child process, or -1 when it could not run.
double childCpu(const std::vector<std::string>& argv) {
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage r{};
    if (wait4(pid, &status, 0, &r) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return cpuOf(r);
}

std::string dirOf(const std::string& path) {
    auto at = path.rfind('/');
    return at == std::string::npos ? "." : path.substr(0, at);
}

}  // namespace

int main(int argc, char** argv) {
    std::string file, decoder = dirOf(argv[0]) + "/vesperon-decode", output = "null";
    double gain = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--decoder" && i + 1 < argc)
            decoder = argv[++i];
        else if (a == "--output" && i + 1 < argc)
            output = argv[++i];
        else if (a == "--gain" && i + 1 < argc)
            gain = std::atof(argv[++i]);
        else
            file = a;
    }
    std::string tmp;
    if (file.empty()) {
        char dir[] = "/tmp/bench-play-XXXXXX";
        if (!mkdtemp(dir)) return 1;
        tmp = dir;
        file = tmp + "/tone.mp3";
        std::string cmd = "sox -n -r 44100 -c 2 " + tmp +
                          "/tone.wav synth 30 sine 440 pinknoise vol 0.5 && lame --quiet -b 128 " + tmp +
                          "/tone.wav " + file;
        if (std::system(cmd.c_str()) != 0) {
            std::fprintf(stderr, "bench-play: cannot make the test file (sox, lame)\n");
            return 1;
        }
    }

    double decodeCpu = childCpu({decoder, "--bench", file});
    double peerCpu = childCpu({"mpg123", "-q", "-t", file});
    // Loudness measurement, on this thread alone, as the measuring thread runs it.
    double measureCpu = threadCpu();
    const auto loudness = vesperon::loudness::measureFile(file);
    measureCpu = threadCpu() - measureCpu;
    // The gain alone, over as many samples as the file holds (as the decoder thread applies it).
    double gainCpu = -1;
    if (loudness) {
        std::vector<std::int16_t> samples(std::size_t(loudness->seconds * 44100 * 2), 1000);
        gainCpu = threadCpu();
        applyGain(samples.data(), samples.size(), gainFactor(-6, 100));
        gainCpu = threadCpu() - gainCpu;
    }
    if (gain != 0) setTrackGains({{file, gain}});

    setenv("VESPERON_AUDIO_OUTPUT", output.c_str(), 1);
    installMessagePort(MessagePort{&onPost, &isWindow});
    std::string list = file + std::string(2, '\0');
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    auto t0 = Clock::now();
    PlayerHandle player = CreatePlayer(list.c_str(), 1);
    NewPlay(player, 1, nullptr, 0);
    while (g_ends.load() == 0 && GetPlayState(player) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    while (g_ends.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    RemovePlayer(player);
    double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    getrusage(RUSAGE_SELF, &after);
    double playCpu = cpuOf(after) - cpuOf(before);

    std::printf("file                         %s\n", file.c_str());
    std::printf("output                       %s\n", output.c_str());
    std::printf("gain                         %+.1f dB\n", gain);
    if (loudness) {
        std::printf("loudness                     %.2f LUFS, true peak %.2f dBTP, %.1f s\n", loudness->lufs,
                    loudness->peakDb, loudness->seconds);
        std::printf("measuring it (one thread)    %.3f s CPU = %.0fx real time\n", measureCpu,
                    measureCpu > 0 ? loudness->seconds / measureCpu : 0.0);
        std::printf("the gain alone (one thread)  %.4f s CPU = %.4f %% of one core while playing\n", gainCpu,
                    100.0 * gainCpu / loudness->seconds);
    }
    std::printf("playback wall time           %.2f s\n", wall);
    std::printf("playback CPU (whole process) %.3f s  = %.2f %% of one core\n", playCpu,
                100.0 * playCpu / wall);
    if (decodeCpu >= 0) {
        std::printf("decoding alone (vesperon-decode --bench) %.3f s\n", decodeCpu);
        std::printf("beyond decoding              %.3f s  = %.3f %% of one core\n", playCpu - decodeCpu,
                    100.0 * (playCpu - decodeCpu) / wall);
    } else {
        std::printf("decoding alone               (vesperon-decode not found at %s)\n", decoder.c_str());
    }
    if (peerCpu >= 0)
        std::printf("peer decoding (mpg123 -t)    %.3f s\n", peerCpu);
    else
        std::printf("peer decoding (mpg123 -t)    (not available)\n");
    // Every sleep of a thread that ends in a wake-up is one voluntary context switch; the
    // process-wide count covers all the engine's threads (and this loop's own 5 per second).
    long wakeups = after.ru_nvcsw - before.ru_nvcsw;
    std::printf("wake-ups (voluntary context switches, all threads) %ld = %.1f per second\n", wakeups,
                wall > 0 ? wakeups / wall : 0.0);
    std::printf("peak RSS                     %.1f MB\n", after.ru_maxrss / 1024.0);
    if (!tmp.empty()) std::system(("rm -rf " + tmp).c_str());
    return 0;
}
