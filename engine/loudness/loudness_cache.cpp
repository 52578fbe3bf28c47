#include "engine/loudness/loudness_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace vesperon::loudness {

namespace {

constexpr std::size_t kMaxFileBytes = 16u << 20;

// A reader for the one shape this file has: {"version":1,"tracks":[{...}, ...]}, each track an
// object of a string and numbers. Anything else is a broken file.
class Reader {
public:
    explicit Reader(const std::string& text) : s_(text) {}

    bool parse(std::vector<std::pair<std::string, std::map<std::string, std::string>>>* tracks,
               std::string* why) {
        if (!expect('{')) return fail(why, "not an object");
        bool first = true;
        while (!peekIs('}')) {
            if (!first && !expect(',')) return fail(why, "expected ','");
            first = false;
            std::string key;
            if (!string(&key) || !expect(':')) return fail(why, "bad key");
            if (key == "tracks") {
                if (!trackList(tracks)) return fail(why, "bad track list");
            } else {
                double ignored;
                if (!number(&ignored)) return fail(why, "bad value of " + key);
            }
        }
        ++pos_;
        skip();
        if (pos_ != s_.size()) return fail(why, "text after the end");
        return true;
    }

private:
    bool trackList(std::vector<std::pair<std::string, std::map<std::string, std::string>>>* tracks) {
        if (!expect('[')) return false;
        bool first = true;
        while (!peekIs(']')) {
            if (!first && !expect(',')) return false;
            first = false;
            if (!expect('{')) return false;
            std::string path;
            std::map<std::string, std::string> numbers;
            bool firstField = true;
            while (!peekIs('}')) {
                if (!firstField && !expect(',')) return false;
                firstField = false;
                std::string key;
                if (!string(&key) || !expect(':')) return false;
                if (key == "path") {
                    if (!string(&path)) return false;
                } else {
                    double v;
                    if (!number(&v)) return false;
                    numbers[key] = lastNumber_;
                }
            }
            ++pos_;
            tracks->emplace_back(std::move(path), std::move(numbers));
        }
        ++pos_;
        return true;
    }
    void skip() {
        while (pos_ < s_.size() && std::strchr(" \t\r\n", s_[pos_]) && s_[pos_]) ++pos_;
    }
    bool peekIs(char c) {
        skip();
        return pos_ < s_.size() && s_[pos_] == c;
    }
    bool expect(char c) {
        if (!peekIs(c)) return false;
        ++pos_;
        return true;
    }
    bool string(std::string* out) {
        if (!expect('"')) return false;
        while (pos_ < s_.size()) {
            char c = s_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out->push_back(c);
                continue;
            }
            if (pos_ >= s_.size()) return false;
            c = s_[pos_++];
            switch (c) {
                case '"':
                case '\\':
                case '/':
                    out->push_back(c);
                    break;
                case 'n':
                    out->push_back('\n');
                    break;
                case 't':
                    out->push_back('\t');
                    break;
                case 'r':
                    out->push_back('\r');
                    break;
                case 'b':
                    out->push_back('\b');
                    break;
                case 'f':
                    out->push_back('\f');
                    break;
                case 'u': {
                    // Only what save() writes: control characters as \u00XX.
                    if (pos_ + 4 > s_.size()) return false;
                    char* end = nullptr;
                    const std::string hex = s_.substr(pos_, 4);
                    const long v = std::strtol(hex.c_str(), &end, 16);
                    if (end != hex.c_str() + 4 || v < 0 || v > 0x7f) return false;
                    out->push_back(char(v));
                    pos_ += 4;
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }
    bool number(double* out) {
        skip();
        const std::size_t start = pos_;
        while (pos_ < s_.size() && std::strchr("+-0123456789.eE", s_[pos_]) && s_[pos_]) ++pos_;
        if (pos_ == start || pos_ - start > 40) return false;
        const std::string text = s_.substr(start, pos_ - start);
        lastNumber_ = text;
        char* end = nullptr;
        *out = std::strtod(text.c_str(), &end);
        return end == text.c_str() + text.size() && std::isfinite(*out);
    }
    static bool fail(std::string* why, const std::string& what) {
        *why = what;
        return false;
    }

    const std::string& s_;
    std::size_t pos_ = 0;
    std::string lastNumber_;  // the text of the last number read (whole numbers beyond a double's 53 bits)
};

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

bool makeFolders(const std::string& file) {
    for (std::size_t slash = file.find('/', 1); slash != std::string::npos;
         slash = file.find('/', slash + 1)) {
        const std::string folder = file.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

std::optional<FileStamp> stampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return FileStamp{std::int64_t(st.st_size),
                     std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::string defaultCachePath() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && home[0] ? home : "/tmp") + "/.cache";
    }
    return base + "/vesperon/loudness.json";
}

LoudnessCache::LoudnessCache(std::string path) : path_(std::move(path)) {}

bool LoudnessCache::load() {
    std::ifstream in(path_, std::ios::binary);
    if (!in) return false;
    std::string text;
    std::vector<char> buf(65536);
    while (in && text.size() <= kMaxFileBytes) {
        in.read(buf.data(), std::streamsize(buf.size()));
        text.append(buf.data(), std::size_t(in.gcount()));
    }
    std::string why;
    if (text.size() > kMaxFileBytes) why = "larger than 16 MiB";
    if (!why.empty() || !read(text, &why)) {
        const std::string aside = path_ + ".broken";
        std::rename(path_.c_str(), aside.c_str());
        std::fprintf(stderr, "vesperon: the loudness cache %s does not read (%s); set aside as %s\n",
                     path_.c_str(), why.c_str(), aside.c_str());
        return false;
    }
    return true;
}

bool LoudnessCache::read(const std::string& text, std::string* why) {
    std::vector<std::pair<std::string, std::map<std::string, std::string>>> tracks;
    if (!Reader(text).parse(&tracks, why)) return false;
    std::lock_guard lock(mutex_);
    for (const auto& track : tracks) {
        const std::string& path = track.first;
        const auto& n = track.second;  // not a structured binding: the lambdas below take it
        // Sizes and nanosecond times are whole numbers too long for a double: read as integers.
        auto whole = [&](const char* key) -> std::optional<std::int64_t> {
            auto it = n.find(key);
            if (it == n.end()) return std::nullopt;
            char* end = nullptr;
            errno = 0;
            const long long v = std::strtoll(it->second.c_str(), &end, 10);
            if (errno || *end) return std::nullopt;
            return v;
        };
        auto real = [&](const char* key) -> std::optional<double> {
            auto it = n.find(key);
            return it == n.end() ? std::nullopt
                                 : std::optional<double>(std::strtod(it->second.c_str(), nullptr));
        };
        auto size = whole("size"), mtime = whole("mtime");
        auto lufs = real("lufs"), peak = real("peak"), seconds = real("seconds");
        if (path.empty() || !size || !mtime || !lufs || !peak || !seconds) continue;
        Entry e;
        e.stamp = FileStamp{*size, *mtime};
        e.loudness = Loudness{*lufs, *peak, *seconds};
        e.used = ++clock_;
        entries_[path] = e;
    }
    return true;
}

bool LoudnessCache::save() {
    std::lock_guard saving(saveMutex_);
    std::string text;
    {
        std::lock_guard lock(mutex_);
        if (!dirty_) return true;
        if (entries_.size() > kMaxEntries) {
            std::vector<std::uint64_t> uses;
            for (const auto& [p, e] : entries_) uses.push_back(e.used);
            std::nth_element(uses.begin(), uses.end() - kMaxEntries, uses.end());
            const std::uint64_t keepFrom = *(uses.end() - kMaxEntries);
            std::erase_if(entries_, [&](const auto& kv) { return kv.second.used < keepFrom; });
        }
        std::ostringstream out;
        out.precision(17);
        out << "{\"version\":1,\"tracks\":[";
        bool first = true;
        for (const auto& [p, e] : entries_) {
            out << (first ? "\n" : ",\n") << "{\"path\":" << quoted(p) << ",\"size\":" << e.stamp.size
                << ",\"mtime\":" << e.stamp.mtimeNs << ",\"lufs\":" << e.loudness.lufs
                << ",\"peak\":" << e.loudness.peakDb << ",\"seconds\":" << e.loudness.seconds << "}";
            first = false;
        }
        out << "\n]}\n";
        text = out.str();
        dirty_ = false;
    }
    if (!makeFolders(path_)) return false;
    const std::string temp = path_ + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += std::size_t(n);
    }
    const bool written = done == text.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!written || std::rename(temp.c_str(), path_.c_str()) != 0) {
        ::unlink(temp.c_str());
        std::lock_guard lock(mutex_);
        dirty_ = true;
        return false;
    }
    return true;
}

std::optional<Loudness> LoudnessCache::find(const std::string& path, const FileStamp& stamp) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(path);
    if (it == entries_.end() || !(it->second.stamp == stamp)) return std::nullopt;
    it->second.used = ++clock_;
    return it->second.loudness;
}

void LoudnessCache::put(const std::string& path, const FileStamp& stamp, const Loudness& loudness) {
    std::lock_guard lock(mutex_);
    entries_[path] = Entry{stamp, loudness, ++clock_};
    dirty_ = true;
}

std::size_t LoudnessCache::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace vesperon::loudness
