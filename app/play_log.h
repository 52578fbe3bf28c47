#pragma once
// The play log: what played and what the schedule did, one JSON object per line, e.g.
//
//   {"time":"2026-12-08T17:52:03.123+01:00","event":"schedule_start","by":"schedule","missed":true}
//   {"time":"2026-12-08T17:52:03.140+01:00","event":"track","path":"/music/bell.mp3","by":"schedule"}
//
// `time` is local, with milliseconds and the zone's offset; `path` is there when a track is
// concerned, `by` when someone asked, `missed` only on a schedule event taken late, `message` on
// an `error` (what standard error said, for a program nobody watches).
//
// Strings are written as their bytes: valid UTF-8 as it is, '"' and '\' escaped, control
// characters as \u00XX, U+FEFF as \ufeff (a reader may take it for a byte-order mark and drop
// it), and each byte that is not part of valid UTF-8 as the lone surrogate \uDC80 .. \uDCFF (byte
// 0x80 + n is \uDC80 + n), the same convention as the session file, so a path that is not UTF-8
// can still be told apart and read back byte for byte.
//
// Writing never blocks the caller: lines go through a bounded queue to a writer thread, and lines
// that find the queue full are dropped and counted. The file is renamed to FILE.1 (replacing the
// one before) when the next line would take it past the rotation size. A failed append is
// reported once on the error stream; the first append that works again says so once.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace vesperon::app {

enum class LogEvent { ScheduleStart, ScheduleEnd, Track, Failed, Pause, Resume, Stop, Next, Previous, Quit, Error };
// Who asked; None leaves `by` out.
enum class LogBy { None, Schedule, Window, Hotkey, Mpris, CommandLine };

struct LogEntry {
    LogEntry(LogEvent e, LogBy b = LogBy::None, std::string p = {}, bool m = false)
        : event(e), by(b), path(std::move(p)), missed(m) {}
    LogEvent event;
    LogBy by = LogBy::None;
    std::string path;     // empty: no `path`
    bool missed = false;  // schedule events taken late
    std::string message;  // an error's one line; empty: no `message`
};

// Appends `bytes` as a JSON string, quotes included, as the header above says.
void AppendJsonString(std::string& out, std::string_view bytes);
// 2026-12-08T17:52:03.123+01:00 in the process's time zone.
std::string LocalIsoTime(std::chrono::system_clock::time_point when);
// One line of the log, newline included.
std::string FormatLogLine(const LogEntry& entry, std::chrono::system_clock::time_point when);
// $XDG_STATE_HOME/vesperon/play.log, or ~/.local/state/vesperon/play.log when that is unset or
// not absolute.
std::string DefaultPlayLogPath();

class PlayLog {
public:
    static constexpr std::size_t kRotateBytes = 1u << 20;
    static constexpr std::size_t kQueueLimit = 1024;

    struct Options {
        bool createDirectory = false;  // make the file's folder (0700) if it is missing
        std::size_t rotateBytes = kRotateBytes;
        // Where the log's own trouble is told (a line on standard error).
        std::function<void(const std::string&)> tell = nullptr;
    };

    explicit PlayLog(std::string path) : PlayLog(std::move(path), Options{}) {}
    PlayLog(std::string path, Options options);
    // Writes what is queued, then stops the writer.
    ~PlayLog();
    PlayLog(const PlayLog&) = delete;
    PlayLog& operator=(const PlayLog&) = delete;

    // Any thread; takes the time now and returns at once.
    void record(LogEntry entry);
    // Waits until everything recorded so far has been written (or has failed).
    void flush();
    std::uint64_t dropped() const;
    const std::string& path() const { return path_; }

private:
    struct Pending {
        LogEntry entry;
        std::chrono::system_clock::time_point when;
    };
    void run();
    // Writer thread only.
    bool open();
    void write(const std::string& line);
    void report(bool failed, const char* what, int error);

    const std::string path_;
    const Options options_;

    // Guarded by mutex_: shared by the callers of record() and the writer thread.
    mutable std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<Pending> queue_;
    bool stopping_ = false;
    bool writing_ = false;
    std::uint64_t dropped_ = 0;

    // The writer thread's own.
    int fd_ = -1;
    bool failing_ = false;

    std::thread writer_;
};

}  // namespace vesperon::app
