#include "app/session_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace vesperon::app {

namespace {

// ---- A JSON reader for untrusted text: bounded nesting, strict UTF-8, no exceptions ----

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json* member(std::string_view key) const {
        const Json* found = nullptr;
        for (const auto& [k, v] : members)
            if (k == key) found = &v;  // the last of repeated keys counts
        return found;
    }
};

constexpr int kMaxDepth = 64;

// Length of the UTF-8 sequence at `p` (shortest form, no surrogates, up to U+10FFFF), 0 if none.
std::size_t utf8Length(std::string_view s, std::size_t p) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned c = b(p);
    if (c < 0x80) return 1;
    std::size_t n;
    unsigned min;
    if (c >= 0xC2 && c <= 0xDF) n = 2, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF) n = 3, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4) n = 4, min = 0x10000;
    else return 0;
    if (p + n > s.size()) return 0;
    unsigned cp = c & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(p + i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(p + i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

void appendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

class Reader {
public:
    explicit Reader(std::string_view text) : s_(text) {}

    bool document(Json& out) {
        if (s_.substr(0, 3) == "\xEF\xBB\xBF") p_ = 3;  // a byte-order mark some editors write
        if (!value(out, 0)) return false;
        space();
        return p_ == s_.size() || fail("unexpected text after the end");
    }
    std::string error() const { return error_ + " at byte " + std::to_string(p_); }

private:
    bool fail(const char* what) {
        if (error_.empty()) error_ = what;
        return false;
    }
    void space() {
        while (p_ < s_.size() && (s_[p_] == ' ' || s_[p_] == '\t' || s_[p_] == '\n' || s_[p_] == '\r')) ++p_;
    }
    bool literal(std::string_view word) {
        if (s_.substr(p_, word.size()) != word) return fail("not JSON");
        p_ += word.size();
        return true;
    }

    bool value(Json& out, int depth) {
        if (depth > kMaxDepth) return fail("nested too deeply");
        space();
        if (p_ >= s_.size()) return fail("the text ends early");
        switch (s_[p_]) {
            case '{': return object(out, depth);
            case '[': return array(out, depth);
            case '"': out.kind = Json::String; return string(out.text);
            case 't': out.kind = Json::Bool; out.boolean = true; return literal("true");
            case 'f': out.kind = Json::Bool; return literal("false");
            case 'n': out.kind = Json::Null; return literal("null");
            default: out.kind = Json::Number; return number(out.number);
        }
    }

    bool object(Json& out, int depth) {
        out.kind = Json::Object;
        ++p_;
        space();
        if (p_ < s_.size() && s_[p_] == '}') return ++p_, true;
        for (;;) {
            space();
            std::string key;
            if (p_ >= s_.size() || s_[p_] != '"') return fail("a key was expected");
            if (!string(key)) return false;
            space();
            if (p_ >= s_.size() || s_[p_] != ':') return fail("':' was expected");
            ++p_;
            Json v;
            if (!value(v, depth + 1)) return false;
            out.members.emplace_back(std::move(key), std::move(v));
            space();
            if (p_ < s_.size() && s_[p_] == ',') { ++p_; continue; }
            if (p_ < s_.size() && s_[p_] == '}') return ++p_, true;
            return fail(p_ >= s_.size() ? "the text ends early" : "',' or '}' was expected");
        }
    }

    bool array(Json& out, int depth) {
        out.kind = Json::Array;
        ++p_;
        space();
        if (p_ < s_.size() && s_[p_] == ']') return ++p_, true;
        for (;;) {
            Json v;
            if (!value(v, depth + 1)) return false;
            out.items.push_back(std::move(v));
            space();
            if (p_ < s_.size() && s_[p_] == ',') { ++p_; continue; }
            if (p_ < s_.size() && s_[p_] == ']') return ++p_, true;
            return fail(p_ >= s_.size() ? "the text ends early" : "',' or ']' was expected");
        }
    }

    bool hex4(unsigned& v) {
        if (p_ + 4 > s_.size()) return fail("the text ends early");
        v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[p_++];
            v <<= 4;
            if (c >= '0' && c <= '9') v |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f') v |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') v |= unsigned(c - 'A' + 10);
            else return fail("bad \\u escape");
        }
        return true;
    }

    bool string(std::string& out) {
        ++p_;
        for (;;) {
            if (p_ >= s_.size()) return fail("the text ends early");
            const unsigned char c = static_cast<unsigned char>(s_[p_]);
            if (c == '"') return ++p_, true;
            if (c < 0x20) return fail("a control character inside a string");
            if (c != '\\') {
                const std::size_t n = utf8Length(s_, p_);
                if (n == 0) return fail("not UTF-8");
                out.append(s_.substr(p_, n));
                p_ += n;
                continue;
            }
            if (++p_ >= s_.size()) return fail("the text ends early");
            const char e = s_[p_++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    unsigned cp;
                    if (!hex4(cp)) return false;
                    if (cp >= 0xD800 && cp <= 0xDBFF && s_.substr(p_, 2) == "\\u") {
                        const std::size_t back = p_;
                        p_ += 2;
                        unsigned low;
                        if (!hex4(low)) return false;
                        if (low >= 0xDC00 && low <= 0xDFFF) {
                            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                        } else {
                            p_ = back;
                        }
                    }
                    if (cp == 0) return fail("a NUL character inside a string");
                    if (cp >= 0xDC80 && cp <= 0xDCFF) {
                        out += static_cast<char>(cp - 0xDC00);  // a raw byte of a non-UTF-8 path
                    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
                        return fail("a lone surrogate escape");
                    } else {
                        appendUtf8(out, cp);
                    }
                    break;
                }
                default: return fail("bad escape");
            }
        }
    }

    bool number(double& out) {
        // JSON's grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
        const std::size_t start = p_;
        const auto digits = [&] {
            const std::size_t from = p_;
            while (p_ < s_.size() && s_[p_] >= '0' && s_[p_] <= '9') ++p_;
            return p_ > from;
        };
        if (p_ < s_.size() && s_[p_] == '-') ++p_;
        if (p_ < s_.size() && s_[p_] == '0') ++p_;
        else if (!digits()) return fail("not JSON");
        if (p_ < s_.size() && s_[p_] == '.' && (++p_, !digits())) return fail("bad number");
        if (p_ < s_.size() && (s_[p_] == 'e' || s_[p_] == 'E')) {
            ++p_;
            if (p_ < s_.size() && (s_[p_] == '+' || s_[p_] == '-')) ++p_;
            if (!digits()) return fail("bad number");
        }
        const auto r = std::from_chars(s_.data() + start, s_.data() + p_, out);
        if (r.ec == std::errc::result_out_of_range) out = s_[start] == '-' ? -HUGE_VAL : HUGE_VAL;
        return true;
    }

    std::string_view s_;
    std::size_t p_ = 0;
    std::string error_;
};

const char* kindName(Json::Kind k) {
    switch (k) {
        case Json::Null: return "null";
        case Json::Bool: return "true or false";
        case Json::Number: return "a number";
        case Json::String: return "a string";
        case Json::Array: return "a list";
        case Json::Object: return "an object";
    }
    return "?";
}

bool expect(const Json& v, Json::Kind kind, const std::string& where, std::string& error) {
    if (v.kind == kind) return true;
    error = where + " is " + kindName(v.kind) + ", not " + kindName(kind);
    return false;
}

bool readBool(const Json& root, const char* key, bool& out, std::string& error) {
    const Json* v = root.member(key);
    if (!v) return true;
    if (!expect(*v, Json::Bool, std::string("\"") + key + "\"", error)) return false;
    out = v->boolean;
    return true;
}

bool readTexts(const Json* v, const std::string& where, std::array<std::string, 3>& out, std::string& error) {
    if (!v) return true;
    if (!expect(*v, Json::Array, where, error)) return false;
    for (std::size_t k = 0; k < v->items.size(); ++k) {
        if (!expect(v->items[k], Json::String, where + "[" + std::to_string(k) + "]", error)) return false;
        if (k < out.size()) out[k] = v->items[k].text;  // hour, minute, second; more are ignored
    }
    return true;
}

// JSON text of a string; bytes that are not UTF-8 become \udc80-\udcff, which the reader turns
// back into the same bytes, so that any path survives a save and a load.
void appendQuoted(std::string& out, std::string_view s) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t p = 0; p < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[p]);
        const std::size_t n = utf8Length(s, p);
        if (n == 0 || c < 0x20 || c == '"' || c == '\\') {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else {
                const unsigned cp = n == 0 ? 0xDC00 + c : c;
                out += "\\u";
                for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 0xF];
            }
            ++p;
            continue;
        }
        out.append(s.substr(p, n));
        p += n;
    }
    out += '"';
}

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

bool ParseSession(std::string_view text, SessionData& out, std::string& error) {
    Json root;
    Reader reader(text);
    if (!reader.document(root)) {
        error = "not valid JSON (" + reader.error() + ")";
        return false;
    }
    if (!expect(root, Json::Object, "the file", error)) return false;
    SessionData d;
    if (const Json* v = root.member("version")) {
        if (!expect(*v, Json::Number, "\"version\"", error)) return false;
        if (v->number != kSessionVersion) {
            char shown[32];
            std::snprintf(shown, sizeof shown, "%g", v->number);
            error = std::string("version ") + shown +
                    (v->number > kSessionVersion ? " is newer than this program reads (1)" : " is not one this program reads");
            return false;
        }
    }
    if (const Json* v = root.member("playlist")) {
        if (!expect(*v, Json::Array, "\"playlist\"", error)) return false;
        for (std::size_t i = 0; i < v->items.size(); ++i) {
            if (!expect(v->items[i], Json::String, "\"playlist\"[" + std::to_string(i) + "]", error)) return false;
            d.playlist.push_back(v->items[i].text);
        }
    }
    if (const Json* v = root.member("periods")) {
        if (!expect(*v, Json::Array, "\"periods\"", error)) return false;
        for (std::size_t i = 0; i < v->items.size(); ++i) {
            const std::string where = "\"periods\"[" + std::to_string(i) + "]";
            const Json& period = v->items[i];
            if (!expect(period, Json::Object, where, error)) return false;
            SessionPeriod ignored;
            SessionPeriod& p = i < d.periods.size() ? d.periods[i] : ignored;
            if (!readTexts(period.member("from"), where + ".from", p.from, error) ||
                !readTexts(period.member("to"), where + ".to", p.to, error))
                return false;
        }
    }
    if (!readBool(root, "random", d.random, error) || !readBool(root, "loop", d.loop, error) ||
        !readBool(root, "schedule", d.schedule, error))
        return false;
    out = std::move(d);
    return true;
}

std::string FormatSession(const SessionData& data) {
    std::string out = "{\"version\": 1,\n \"playlist\": [";
    for (std::size_t i = 0; i < data.playlist.size(); ++i) {
        out += i ? ",\n              " : "";
        appendQuoted(out, data.playlist[i]);
    }
    out += "],\n \"periods\": [";
    for (std::size_t i = 0; i < data.periods.size(); ++i) {
        out += i ? ",\n             " : "";
        for (int half = 0; half < 2; ++half) {
            const auto& texts = half ? data.periods[i].to : data.periods[i].from;
            out += half ? "], \"to\": [" : "{\"from\": [";
            for (std::size_t k = 0; k < texts.size(); ++k) {
                out += k ? ", " : "";
                appendQuoted(out, texts[k]);
            }
        }
        out += "]}";
    }
    out += "],\n \"random\": ";
    out += data.random ? "true" : "false";
    out += ", \"loop\": ";
    out += data.loop ? "true" : "false";
    out += ", \"schedule\": ";
    out += data.schedule ? "true" : "false";
    out += "}\n";
    return out;
}

SessionRead ReadSessionFile(const std::string& path, SessionData& out, std::string& error) {
    // Non-blocking, so that a FIFO named by mistake cannot hang the start-up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return SessionRead::Missing;
        error = systemError("cannot open it");
        return SessionRead::Bad;
    }
    std::string text;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error = systemError("cannot read it");
    } else if (!S_ISREG(st.st_mode)) {
        error = "it is not a regular file";
    } else if (static_cast<std::uint64_t>(st.st_size) > kMaxSessionBytes) {
        error = "it is larger than " + std::to_string(kMaxSessionBytes >> 20) + " MiB";
    } else {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error = systemError("cannot read it");
                break;
            }
            if (n == 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
            if (text.size() > kMaxSessionBytes) {
                error = "it is larger than " + std::to_string(kMaxSessionBytes >> 20) + " MiB";
                break;
            }
        }
    }
    ::close(fd);
    if (!error.empty()) return SessionRead::Bad;
    return ParseSession(text, out, error) ? SessionRead::Loaded : SessionRead::Bad;
}

bool WriteSessionFile(const std::string& path, const SessionData& data, std::string& error) {
    // Through a symbolic link to the file it names, so that the link stays.
    std::string target = path;
    if (char* real = realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    const std::string text = FormatSession(data);
    std::string temp = target + ".tmp-XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        error = systemError("cannot create " + temp);
        return false;
    }
    struct stat old {};
    if (stat(target.c_str(), &old) == 0) (void)fchmod(fd, old.st_mode & 07777);
    bool ok = true;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = systemError("cannot write " + temp);
            ok = false;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    if (ok && fsync(fd) != 0) ok = false, error = systemError("cannot flush " + temp);
    if (::close(fd) != 0 && ok) ok = false, error = systemError("cannot write " + temp);
    if (ok && std::rename(temp.c_str(), target.c_str()) != 0) ok = false, error = systemError("cannot rename " + temp);
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const std::string folder = target.find('/') == std::string::npos ? "." : target.substr(0, target.rfind('/') + 1);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace vesperon::app
