#include "app/play_log.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/report.h"

namespace vesperon::app {

namespace {

// Length of the valid UTF-8 sequence at `p` (no overlong forms, surrogates or values past
// U+10FFFF), or 0 when the byte there does not begin one.
std::size_t utf8Length(std::string_view s, std::size_t p) {
    const unsigned c = static_cast<unsigned char>(s[p]);
    if (c < 0x80) return 1;
    std::size_t n;
    unsigned cp, min;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (p + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const unsigned b = static_cast<unsigned char>(s[p + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

const char* eventName(LogEvent e) {
    switch (e) {
    case LogEvent::ScheduleStart: return "schedule_start";
    case LogEvent::ScheduleEnd: return "schedule_end";
    case LogEvent::Track: return "track";
    case LogEvent::Failed: return "failed";
    case LogEvent::Pause: return "pause";
    case LogEvent::Resume: return "resume";
    case LogEvent::Stop: return "stop";
    case LogEvent::Next: return "next";
    case LogEvent::Previous: return "previous";
    case LogEvent::Quit: return "quit";
    case LogEvent::Error: return "error";
    }
    return "unknown";
}

const char* byName(LogBy b) {
    switch (b) {
    case LogBy::None: return nullptr;
    case LogBy::Schedule: return "schedule";
    case LogBy::Window: return "window";
    case LogBy::Hotkey: return "hotkey";
    case LogBy::Mpris: return "mpris";
    case LogBy::CommandLine: return "command_line";
    }
    return nullptr;
}

// mkdir -p for the folders above `path`, each new one private to the user.
void makeParents(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0700);
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view s) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t p = 0; p < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[p]);
        const std::size_t n = utf8Length(s, p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (n == 0 || c < 0x20 || s.substr(p, n) == "\xEF\xBB\xBF") {
            // U+FEFF escaped too: Qt's reader drops it as a byte-order mark at a string's start.
            const unsigned cp = n == 0 ? 0xDC00 + c : n == 3 ? 0xFEFF : c;
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 0xF];
        } else {
            out.append(s.substr(p, n));
            p += n;
            continue;
        }
        p += n == 0 ? 1 : n;
    }
    out += '"';
}

std::string LocalIsoTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto secs = floor<seconds>(when);
    const int ms = static_cast<int>(duration_cast<milliseconds>(when - secs).count());
    const std::time_t t = static_cast<std::time_t>(secs.time_since_epoch().count());
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    const long offset = tm.tm_gmtoff < 0 ? -tm.tm_gmtoff : tm.tm_gmtoff;
    std::snprintf(text + n, sizeof text - n, ".%03d%c%02ld:%02ld", ms, tm.tm_gmtoff < 0 ? '-' : '+', offset / 3600,
                  offset % 3600 / 60);
    return text;
}

std::string FormatLogLine(const LogEntry& entry, std::chrono::system_clock::time_point when) {
    std::string line = "{\"time\":\"" + LocalIsoTime(when) + "\",\"event\":\"" + eventName(entry.event) + "\"";
    if (!entry.path.empty()) {
        line += ",\"path\":";
        AppendJsonString(line, entry.path);
    }
    if (const char* by = byName(entry.by)) line += std::string(",\"by\":\"") + by + "\"";
    if (entry.missed) line += ",\"missed\":true";
    if (!entry.message.empty()) {
        line += ",\"message\":";
        AppendJsonString(line, entry.message);
    }
    line += "}\n";
    return line;
}

std::string DefaultPlayLogPath() {
    std::string state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && xdg[0] == '/') {
        state = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd* pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : "/";
        }
        state = std::string(home) + "/.local/state";
    }
    return state + "/vesperon/play.log";
}

namespace {
PlayLog::Options toldOnStandardError(PlayLog::Options options) {
    if (!options.tell) options.tell = reportLine;
    return options;
}
}  // namespace

PlayLog::PlayLog(std::string path, Options options)
    : path_(std::move(path)), options_(toldOnStandardError(std::move(options))) {
    writer_ = std::thread([this] { run(); });
}

PlayLog::~PlayLog() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    writer_.join();
    if (fd_ >= 0) ::close(fd_);
    if (dropped_ > 0)
        options_.tell(std::to_string(dropped_) + " lines of the play log were dropped (" + path_ + ")");
}

void PlayLog::record(LogEntry entry) {
    const auto now = std::chrono::system_clock::now();
    {
        std::lock_guard lock(mutex_);
        if (queue_.size() >= kQueueLimit) {
            ++dropped_;
            return;
        }
        queue_.push_back({std::move(entry), now});
    }
    wake_.notify_one();
}

void PlayLog::flush() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !writing_; });
}

std::uint64_t PlayLog::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

void PlayLog::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, and everything is written
        std::deque<Pending> batch;
        batch.swap(queue_);
        writing_ = true;
        lock.unlock();
        for (const Pending& p : batch) write(FormatLogLine(p.entry, p.when));
        lock.lock();
        writing_ = false;
        idle_.notify_all();
    }
}

void PlayLog::report(bool failed, const char* what, int error) {
    if (failed == failing_) return;
    failing_ = failed;
    if (failed)
        options_.tell("the play log cannot be written (" + path_ + ": " + what + ": " + std::strerror(error) +
                      ")");
    else
        options_.tell("the play log is written again (" + path_ + ")");
}

bool PlayLog::open() {
    if (options_.createDirectory) makeParents(path_);
    // Non-blocking, so that a FIFO with no reader cannot hold the writer (and the quit) up.
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd_ < 0) report(true, "open", errno);
    return fd_ >= 0;
}

void PlayLog::write(const std::string& line) {
    struct stat held {}, named {};
    // Reopen when the file was moved or removed under us (rotated by hand, folder recreated).
    if (fd_ >= 0 && (::fstat(fd_, &held) != 0 || ::stat(path_.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
                     held.st_ino != named.st_ino)) {
        ::close(fd_);
        fd_ = -1;
    }
    if (fd_ < 0 && !open()) return;
    if (::fstat(fd_, &held) == 0 && S_ISREG(held.st_mode) && held.st_size > 0 &&
        static_cast<std::size_t>(held.st_size) + line.size() > options_.rotateBytes) {
        ::close(fd_);
        fd_ = -1;
        if (::rename(path_.c_str(), (path_ + ".1").c_str()) != 0) return report(true, "rename", errno);
        if (!open()) return;
    }
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd_);
            fd_ = -1;
            return report(true, "write", error);
        }
        done += static_cast<std::size_t>(n);
    }
    report(false, "", 0);
}

}  // namespace vesperon::app
