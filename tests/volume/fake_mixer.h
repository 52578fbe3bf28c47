#pragma once
// A recording stand-in for the mixer layer, for unit and gui tests that must not touch the
// sound system: lines and controls are plain data, every call is logged, and changeFromOutside()
// delivers a change notice through a real descriptor as the mixer would.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "volume/mixer.h"

namespace vesperon::volume {

class FakeMixer : public MixerSystem {
public:
    struct Line {
        uint32_t componentType = kSpeakersDestination;
        std::string name = "Master";
        bool hasVolume = true;
        bool hasMute = true;
        uint32_t maximum = 65535;
        std::vector<uint32_t> volume{0, 0};  // one value per channel
        uint32_t muted = 0;
    };

    FakeMixer();
    ~FakeMixer() override;

    // The setup: destination line first (index 0), then its sources.
    unsigned devices = 1;
    std::vector<Line> lines{Line{}};
    bool failReads = false;
    bool failWrites = false;
    std::vector<std::string> calls;  // "open", "read 1", "write 1 100 200", ...

    static uint32_t volumeId(size_t line) { return static_cast<uint32_t>(line) * 2 + 1; }
    static uint32_t muteId(size_t line) { return static_cast<uint32_t>(line) * 2 + 2; }
    // Sets the line's values as another program would and notifies every handle watching them.
    void changeFromOutside(size_t line, std::vector<uint32_t> volume, uint32_t muted);
    int openHandles() const { return static_cast<int>(handles_.size()); }
    // As when the sound server dies: every open handle is lost and its descriptor stays readable.
    void loseMixer();
    // As when the sound server is stopped: opens and writes wait until release(). The calls run
    // on SysVolume's worker, so the test's thread goes on meanwhile.
    void hold();
    void release();

    unsigned deviceCount() override;
    std::unique_ptr<MixerHandle> open(unsigned device) override;

private:
    class Handle;
    friend class Handle;
    void notify(uint32_t id);
    void waitWhileHeld();
    std::vector<Handle*> handles_;
    std::mutex heldMutex_;
    std::condition_variable heldChanged_;
    bool held_ = false;
};

}  // namespace vesperon::volume
