#include "tests/volume/fake_mixer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <set>

namespace vesperon::volume {

class FakeMixer::Handle final : public MixerHandle {
public:
    explicit Handle(FakeMixer& m) : m_(m) {
        if (pipe2(pipe_, O_NONBLOCK | O_CLOEXEC) != 0) pipe_[0] = pipe_[1] = -1;
        m_.handles_.push_back(this);
    }
    ~Handle() override {
        std::erase(m_.handles_, this);
        if (pipe_[0] >= 0) ::close(pipe_[0]);
        if (pipe_[1] >= 0) ::close(pipe_[1]);
        m_.calls.push_back("close");
    }

    std::optional<MixerLine> lineByType(uint32_t type) override {
        for (size_t i = 0; i < m_.lines.size(); ++i)
            if (m_.lines[i].componentType == type) return lineAt(i);
        return std::nullopt;
    }
    std::optional<MixerLine> sourceLine(const MixerLine& destination, uint32_t index) override {
        if (destination.key != 0 || index + 1 >= m_.lines.size()) return std::nullopt;
        return lineAt(index + 1);
    }
    std::optional<MixerControl> findControl(const MixerLine& line, uint32_t type) override {
        const auto key = static_cast<size_t>(line.key);
        if (key >= m_.lines.size()) return std::nullopt;
        const Line& l = m_.lines[key];
        MixerControl c;
        if (type == kVolumeControlType && l.hasVolume) {
            c = {volumeId(key), l.name + " Volume", 0, l.maximum};
        } else if (type == kMuteControlType && l.hasMute) {
            c = {muteId(key), l.name + " Mute", 0, 1};
        } else {
            return std::nullopt;
        }
        watched_.insert(c.id);
        return c;
    }
    bool readValues(uint32_t id, std::span<uint32_t> values) override {
        m_.calls.push_back("read " + std::to_string(id));
        if (m_.failReads || lost_) return false;
        const size_t key = (id - 1) / 2;
        if (key >= m_.lines.size()) return false;
        const Line& l = m_.lines[key];
        if (id == muteId(key)) {
            std::fill(values.begin(), values.end(), l.muted);
            return true;
        }
        if (values.size() > l.volume.size()) return false;
        std::copy_n(l.volume.begin(), values.size(), values.begin());
        return true;
    }
    bool writeValues(uint32_t id, std::span<const uint32_t> values) override {
        m_.waitWhileHeld();
        std::string entry = "write " + std::to_string(id);
        for (uint32_t v : values) entry += " " + std::to_string(v);
        m_.calls.push_back(entry);
        if (m_.failWrites || lost_) return false;
        const size_t key = (id - 1) / 2;
        if (key >= m_.lines.size() || values.empty()) return false;
        Line& l = m_.lines[key];
        if (id == muteId(key)) {
            l.muted = values[0];
        } else {
            if (values.size() > l.volume.size()) return false;
            std::copy(values.begin(), values.end(), l.volume.begin());
        }
        m_.notify(id);
        return true;
    }
    std::vector<int> pollDescriptors() override {
        if (pipe_[0] < 0) return {};
        return {pipe_[0]};
    }
    bool lost() const override { return lost_; }
    void lose() {
        lost_ = true;
        if (pipe_[1] >= 0) ::close(pipe_[1]);  // the read end now reports end of file for ever
        pipe_[1] = -1;
    }
    std::vector<uint32_t> takeChangedControls() override {
        m_.calls.push_back("take");
        char buf[64];
        while (pipe_[0] >= 0 && read(pipe_[0], buf, sizeof buf) > 0) {
        }
        std::vector<uint32_t> out;
        out.swap(pending_);
        return out;
    }

    void notify(uint32_t id) {
        if (!watched_.count(id)) return;
        pending_.push_back(id);
        if (pipe_[1] >= 0) [[maybe_unused]]
            auto n = write(pipe_[1], "x", 1);
    }

private:
    MixerLine lineAt(size_t i) const {
        const Line& l = m_.lines[i];
        MixerLine line;
        line.componentType = l.componentType;
        line.channels = static_cast<uint32_t>(l.volume.size());
        line.connections = i == 0 ? static_cast<uint32_t>(m_.lines.size() - 1) : 0;
        line.name = l.name;
        line.key = static_cast<int>(i);
        return line;
    }

    FakeMixer& m_;
    int pipe_[2];
    bool lost_ = false;
    std::set<uint32_t> watched_;
    std::vector<uint32_t> pending_;
};

FakeMixer::FakeMixer() = default;
FakeMixer::~FakeMixer() = default;

unsigned FakeMixer::deviceCount() {
    return devices;
}

std::unique_ptr<MixerHandle> FakeMixer::open(unsigned device) {
    waitWhileHeld();
    calls.push_back("open");
    if (device >= devices) return nullptr;
    return std::make_unique<Handle>(*this);
}

void FakeMixer::notify(uint32_t id) {
    for (Handle* h : handles_) h->notify(id);
}

void FakeMixer::loseMixer() {
    for (Handle* h : handles_) h->lose();
}

void FakeMixer::hold() {
    std::lock_guard lock(heldMutex_);
    held_ = true;
}

void FakeMixer::release() {
    std::lock_guard lock(heldMutex_);
    held_ = false;
    heldChanged_.notify_all();
}

void FakeMixer::waitWhileHeld() {
    std::unique_lock lock(heldMutex_);
    heldChanged_.wait(lock, [this] { return !held_; });
}

void FakeMixer::changeFromOutside(size_t line, std::vector<uint32_t> volume, uint32_t muted) {
    if (line >= lines.size()) return;
    Line& l = lines[line];
    const bool volumeDiffers = l.volume != volume;
    const bool muteDiffers = l.muted != muted;
    l.volume = std::move(volume);
    l.muted = muted;
    if (volumeDiffers) notify(volumeId(line));
    if (muteDiffers) notify(muteId(line));
}

}  // namespace vesperon::volume
