#pragma once
// The mixer layer SysVolume sits on: lines found by component type, controls found by type on a
// line, per-channel unsigned values, and change notices read from poll descriptors. The ALSA
// binding is the real one; tests of the player logic may stand a fake in (useMixerSystem).

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vesperon::volume {

// Control types and line component types: the numbers the SysVolume widget's callers pass
// (SelectLine(4) is the speakers' line), kept so that those callers keep working.
inline constexpr uint32_t kVolumeControlType = 0x50030001;
inline constexpr uint32_t kMuteControlType = 0x20010002;
inline constexpr uint32_t kSpeakersDestination = 4;
inline constexpr uint32_t kLineInSource = 0x1002;
inline constexpr uint32_t kMicrophoneSource = 0x1003;
inline constexpr uint32_t kSynthesizerSource = 0x1004;
inline constexpr uint32_t kCompactDiscSource = 0x1005;
inline constexpr uint32_t kTelephoneSource = 0x1006;
inline constexpr uint32_t kWaveOutSource = 0x1008;
inline constexpr uint32_t kAnalogSource = 0x100A;

struct MixerLine {
    uint32_t componentType = 0;
    uint32_t channels = 0;
    uint32_t connections = 0;  // source lines connected to a destination line
    std::string name;
    int key = -1;  // the binding's own reference to the line
};

struct MixerControl {
    uint32_t id = 0;
    std::string name;
    uint32_t minimum = 0;
    uint32_t maximum = 0;
};

// One open handle on a mixer device.
class MixerHandle {
public:
    virtual ~MixerHandle() = default;
    virtual std::optional<MixerLine> lineByType(uint32_t componentType) = 0;
    virtual std::optional<MixerLine> sourceLine(const MixerLine& destination, uint32_t index) = 0;
    // The one control of the type on the line. A control found here is watched: its changes are
    // reported by takeChangedControls.
    virtual std::optional<MixerControl> findControl(const MixerLine& line, uint32_t controlType) = 0;
    // Reads or writes values.size() channels (a mute control has one, uniform).
    virtual bool readValues(uint32_t controlId, std::span<uint32_t> values) = 0;
    virtual bool writeValues(uint32_t controlId, std::span<const uint32_t> values) = 0;
    // Writes `values` unless the control's value now (its second channel, or its only one) is none
    // of `expected`: then nothing is written and *seen says what is there. The look and the write
    // come as close together as the mixer allows, so that another program's change lands before
    // the look (and is seen) rather than between the two (and is overwritten). This one reads and
    // then writes; a value that cannot be read does not hold the write back.
    virtual bool writeValuesIf(uint32_t controlId, const std::vector<int>& expected,
                               std::span<const uint32_t> values, std::optional<int>* seen);
    // Descriptors that become readable when the mixer has news; takeChangedControls then reads
    // the news and returns the ids of the watched controls whose values changed.
    virtual std::vector<int> pollDescriptors() = 0;
    virtual std::vector<uint32_t> takeChangedControls() = 0;
    // True once the mixer is gone (its server died): the descriptors stay readable for ever and
    // must not be watched any more; reads and writes fail from then on.
    virtual bool lost() const { return false; }
};

class MixerSystem {
public:
    virtual ~MixerSystem() = default;
    virtual unsigned deviceCount() = 0;
    virtual std::unique_ptr<MixerHandle> open(unsigned device) = 0;
};

// The mixer system SysVolume widgets use: the ALSA binding unless a test chose another.
MixerSystem& mixerSystem();
void useMixerSystem(std::shared_ptr<MixerSystem> system);  // nullptr: back to ALSA

}  // namespace vesperon::volume
