#include "engine/loudness/track_gain.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace vesperon::loudness {

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

double gainFor(const Loudness& l, double target) {
    if (!(l.lufs > kSilence)) return 0.0;
    return std::min(target - l.lufs, kPeakCeiling - l.peakDb);
}

std::vector<std::optional<double>> gainsFor(const std::vector<std::string>& list, const Settings& settings,
                                            const Lookup& lookup) {
    std::vector<std::optional<double>> out(list.size());
    if (settings.mode == Mode::Off) return out;
    std::vector<std::optional<Loudness>> measured(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) measured[i] = lookup(list[i]);
    if (settings.mode == Mode::Track) {
        for (std::size_t i = 0; i < list.size(); ++i)
            if (measured[i]) out[i] = gainFor(*measured[i], settings.target);
        return out;
    }
    struct Album {
        double energy = 0, seconds = 0, peak = -120;
    };
    std::map<std::string, Album> albums;
    std::map<std::string, bool> seen;  // a path listed twice counts once
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!measured[i] || seen[list[i]]) continue;
        seen[list[i]] = true;
        Album& a = albums[folderOf(list[i])];
        const Loudness& l = *measured[i];
        if (l.lufs > kSilence) {
            a.energy += l.seconds * std::pow(10.0, l.lufs / 10.0);
            a.seconds += l.seconds;
        }
        a.peak = std::max(a.peak, l.peakDb);
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!measured[i]) continue;
        const Album& a = albums[folderOf(list[i])];
        const Loudness together{a.seconds > 0 ? 10.0 * std::log10(a.energy / a.seconds) : kSilence, a.peak,
                                a.seconds};
        out[i] = gainFor(together, settings.target);
    }
    return out;
}

const char* modeName(Mode mode) {
    switch (mode) {
        case Mode::Track:
            return "track";
        case Mode::Album:
            return "album";
        case Mode::Off:
            break;
    }
    return "off";
}

std::optional<Mode> modeNamed(const std::string& name) {
    if (name == "track") return Mode::Track;
    if (name == "album") return Mode::Album;
    if (name == "off") return Mode::Off;
    return std::nullopt;
}

}  // namespace vesperon::loudness
