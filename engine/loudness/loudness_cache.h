#pragma once
// What has been measured, kept across runs in one JSON file ($XDG_CACHE_HOME/vesperon/
// loudness.json): an entry per path, valid while the file's size and modification time are those
// it was measured at. Bounded (the least recently used go first), written atomically (a
// temporary file renamed over it), and a file that does not read is set aside with one line on
// standard error, so a broken cache costs a re-measurement, never a failure. Thread-safe.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "engine/loudness/measure.h"

namespace vesperon::loudness {

// What identifies a file's content well enough to reuse its measurement.
struct FileStamp {
    std::int64_t size = -1;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};
// nullopt when the file cannot be looked at.
std::optional<FileStamp> stampOf(const std::string& path);

// The default place: $XDG_CACHE_HOME/vesperon/loudness.json, else ~/.cache/vesperon/...
std::string defaultCachePath();

class LoudnessCache {
public:
    static constexpr std::size_t kMaxEntries = 20000;

    explicit LoudnessCache(std::string path);
    // Reads the file; a missing one is an empty cache, a broken one is renamed to PATH.broken
    // (one line on standard error). True when a file was read whole.
    bool load();
    // Takes the entries of a cache file's text; false (and why) when it is not one, leaving the
    // entries as they were.
    bool read(const std::string& text, std::string* why);
    // Writes the file atomically when something changed since the last save. False on failure.
    bool save();

    // The measurement kept for this path at this stamp.
    std::optional<Loudness> find(const std::string& path, const FileStamp& stamp);
    void put(const std::string& path, const FileStamp& stamp, const Loudness& loudness);
    std::size_t size() const;
    const std::string& path() const { return path_; }

private:
    struct Entry {
        FileStamp stamp;
        Loudness loudness;
        std::uint64_t used = 0;  // larger: used more recently
    };

    const std::string path_;
    std::mutex saveMutex_;  // one save at a time (the measuring thread's and the owner's last)
    mutable std::mutex mutex_;
    // --- guarded by mutex_
    std::map<std::string, Entry> entries_;
    std::uint64_t clock_ = 0;
    bool dirty_ = false;
};

}  // namespace vesperon::loudness
