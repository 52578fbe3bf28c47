#pragma once
// Shared by the engine's tests: encoded test files, the reference PCM from
// vesperon-decode, and a notification recorder installed as the message port.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/port/message_port.h"
#include "tests/support/audio_compare.h"
#include "tests/support/encoded_tone.h"
#include "tests/support/process.h"

namespace vesperon::test {

struct Mp3Recipe {
    double seconds = 3;
    int rate = 44100;
    int channels = 2;
    int kbps = 128;
    bool layer2 = false;  // twolame instead of lame
};

// Sine plus a little noise, encoded, as NAME.mp3 in dir; the path, or "" when the encoders failed.
inline std::string makeMp3(const TempDir& dir, const std::string& name, const Mp3Recipe& s = {}) {
    const ToneRecipe tone{s.seconds, s.rate, s.channels, {"sine", "440", "pinknoise", "vol", "0.5"}};
    const Encoder encoder{s.layer2 ? "twolame" : "lame", "--quiet", "-b", std::to_string(s.kbps)};
    return encodedTone(tone, encoder, dir.file(name + ".mp3"));
}

inline std::string toolPath(const std::string& name) {
    return std::string(VESPERON_BINARY_DIR) + "/tools/" + name;
}

// What vesperon-decode --raw writes for the file.
inline std::string referencePcm(const TempDir& dir, const std::string& mp3, int start = 0,
                                const std::string& password = "") {
    std::vector<std::string> argv{toolPath("vesperon-decode"), "--raw"};
    if (start) argv.insert(argv.end(), {"--start", std::to_string(start)});
    if (!password.empty()) argv.insert(argv.end(), {"--password", password});
    std::string out = dir.file("reference.raw");
    argv.insert(argv.end(), {mp3, out});
    if (runCommand(argv).exitCode != 0) return "<vesperon-decode failed>";
    return readFile(out);
}

// Records PlayerNotifyMessage posts per window handle; handles are live while registered.
class NotifyRecorder {
public:
    static NotifyRecorder& instance() {
        static NotifyRecorder r;
        return r;
    }
    // A fresh live handle; onPost (optional) runs inside the post, on the engine's thread.
    engine::WindowHandle open(std::function<void(std::intptr_t)> onPost = {}) {
        std::lock_guard lock(mutex_);
        engine::WindowHandle h = ++last_;
        windows_[h] = Window{{}, std::move(onPost)};
        return h;
    }
    void close(engine::WindowHandle h) {
        std::lock_guard lock(mutex_);
        windows_.erase(h);
    }
    std::vector<int> values(engine::WindowHandle h) {
        std::lock_guard lock(mutex_);
        auto it = windows_.find(h);
        return it == windows_.end() ? std::vector<int>{} : it->second.values;
    }
    // Waits until the window has received `count` 100s; false on time-out.
    bool waitForEnds(engine::WindowHandle h, int count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] {
            int n = 0;
            for (int v : windows_[h].values) n += v == 100;
            return n >= count;
        });
    }

private:
    struct Window {
        std::vector<int> values;
        std::function<void(std::intptr_t)> onPost;
    };
    NotifyRecorder() { engine::installMessagePort(engine::MessagePort{&post, &isWindow}); }
    static bool post(engine::WindowHandle h, std::uint32_t message, std::intptr_t wParam, std::intptr_t) {
        NotifyRecorder& r = instance();
        std::function<void(std::intptr_t)> hook;
        {
            std::lock_guard lock(r.mutex_);
            auto it = r.windows_.find(h);
            if (it == r.windows_.end() || message != engine::kPlayerNotifyMessage) return false;
            hook = it->second.onPost;
        }
        if (hook) hook(wParam);
        {
            std::lock_guard lock(r.mutex_);
            auto it = r.windows_.find(h);
            if (it != r.windows_.end()) it->second.values.push_back(static_cast<int>(wParam));
        }
        r.cv_.notify_all();
        return true;
    }
    static bool isWindow(engine::WindowHandle h) {
        NotifyRecorder& r = instance();
        std::lock_guard lock(r.mutex_);
        return r.windows_.count(h) != 0;
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<engine::WindowHandle, Window> windows_;
    engine::WindowHandle last_ = 1000;
};

// A list in the player's format: names, each NUL-terminated, then one more NUL.
inline std::string playList(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& n : names) list += n + '\0';
    return list + '\0';
}

}  // namespace vesperon::test
