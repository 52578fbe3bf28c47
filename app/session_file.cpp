#include "app/session_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "app/play_log.h"  // AppendJsonString: bytes that are not UTF-8 as \udc80-\udcff

namespace vesperon::app {

namespace {

using namespace std::chrono;

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

// Deeper documents are refused before they are parsed (no session nests more than 3 levels).
constexpr int kMaxDepth = 64;

// The keys this program reads; the values of any other key are skipped unparsed.
constexpr std::string_view kKnownKeys[] = {"version",  "playlist", "periods", "random",  "loop",
                                           "schedule", "rest",     "folder",  "stopped", "loudness"};

bool knownKey(std::string_view key) {
    // A key spelled with escapes is kept for the parser to judge.
    if (key.find('\\') != std::string_view::npos) return true;
    for (std::string_view k : kKnownKeys)
        if (key == k) return true;
    return false;
}

// Checks the raw text for what the JSON parser would pass over (bytes that are not UTF-8,
// brackets nested too deeply, counted outside strings) and returns the first fault, or null.
// On success *kept is the text to parse: the top-level object with the members under unknown
// keys left out, so that memory and time follow what is read, not what a file may carry. It
// stays empty unless the root object closes and only blanks follow it (a truncated file is
// parsed whole, and refused); what an unknown key holds is checked only for its brackets.
const char* rawFault(std::string_view s, std::string* kept) {
    int depth = 0;
    std::string open;  // the brackets not yet closed, innermost last
    bool inString = false;
    // Spans of the root object's members: [memberStart, p) once a member's value ends.
    std::size_t stringStart = 0, memberStart = std::string_view::npos, rootOpen = std::string_view::npos;
    std::string_view key;
    bool expectKey = false, cut = false, closed = false, trailing = false;
    std::string out;
    auto endMember = [&](std::size_t end) {
        if (memberStart == std::string_view::npos) return;
        if (knownKey(key)) {
            if (out.size() > 1) out += ',';
            out.append(s.substr(memberStart, end - memberStart));
        } else {
            cut = true;
        }
        memberStart = std::string_view::npos;
    };
    for (std::size_t p = 0; p < s.size();) {
        const char c = s[p];
        const std::size_t n = utf8Length(s, p);
        if (n == 0) return "not UTF-8";
        if (closed && c != ' ' && c != '\t' && c != '\n' && c != '\r') trailing = true;
        if (inString && c == '\\') {
            p += 2;
            continue;
        }
        if (c == '"') {
            inString = !inString;
            if (inString) {
                stringStart = p;
            } else if (depth == 1 && expectKey) {
                key = s.substr(stringStart + 1, p - stringStart - 1);
                memberStart = stringStart;
                expectKey = false;
            }
        } else if (!inString) {
            if (c == '[' || c == '{') {
                if (++depth > kMaxDepth) return "nested too deeply";
                open += c;
            }
            if (c == ']' || c == '}') {
                if (open.empty() || open.back() != (c == ']' ? '[' : '{')) return "brackets that do not match";
                open.pop_back();
            }
            if (c == '{' && depth == 1 && rootOpen == std::string_view::npos) {
                rootOpen = p;
                out = "{";
                expectKey = true;
            }
            if (c == ']' || c == '}') {
                if (depth == 1 && c == '}' && rootOpen != std::string_view::npos && !closed) {
                    endMember(p);
                    closed = true;
                    p += n;
                    --depth;
                    continue;
                }
                --depth;
            }
            if (c == ',' && depth == 1) {
                endMember(p);
                expectKey = true;
            }
        }
        p += n;
    }
    if (cut && closed && !trailing && !inString) *kept = out + "}";
    return nullptr;
}

void appendUtf8(std::string& out, char32_t cp) {
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

// The bytes of a decoded string: \udc80-\udcff stand for the raw bytes of a path that is not
// UTF-8 (as the writer puts them); any other lone surrogate, or NUL, makes the file bad.
bool bytesOf(const QString& text, std::string& out, std::string& error) {
    out.clear();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == 0) return error = "a NUL character inside a string", false;
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
            appendUtf8(out, QChar::surrogateToUcs4(u, text[i + 1].unicode()));
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out += static_cast<char>(u - 0xDC00);
        } else if (QChar::isSurrogate(u)) {
            return error = "a lone surrogate escape", false;
        } else {
            appendUtf8(out, u);
        }
    }
    return true;
}

const char* kindName(const QJsonValue& v) {
    switch (v.type()) {
        case QJsonValue::Null:
            return "null";
        case QJsonValue::Bool: return "true or false";
        case QJsonValue::Double: return "a number";
        case QJsonValue::String: return "a string";
        case QJsonValue::Array: return "a list";
        case QJsonValue::Object: return "an object";
        case QJsonValue::Undefined:
            break;
    }
    return "missing";
}

// Errors name the key in the file's own words: "periods"[0].days[2] is 8, not a day from 1 to 7.
bool refuse(std::string& error, const std::string& where, const std::string& what) {
    error = where + " is " + what;
    return false;
}

bool expect(const QJsonValue& v, QJsonValue::Type type, const std::string& where, std::string& error) {
    return v.type() == type ||
           refuse(error, where, std::string(kindName(v)) + ", not " + kindName(QJsonValue(type)));
}

bool readBool(const QJsonObject& root, const char* key, bool& out, std::string& error) {
    const QJsonValue v = root.value(QLatin1String(key));
    if (v.isUndefined()) return true;
    if (!expect(v, QJsonValue::Bool, std::string("\"") + key + "\"", error)) return false;
    out = v.toBool();
    return true;
}

bool readString(const QJsonValue& v, const std::string& where, std::string& out, std::string& error) {
    return expect(v, QJsonValue::String, where, error) && bytesOf(v.toString(), out, error);
}

bool readTexts(const QJsonValue& v, const std::string& where, std::array<std::string, 3>& out, std::string& error) {
    if (v.isUndefined()) return true;
    if (!expect(v, QJsonValue::Array, where, error)) return false;
    const QJsonArray items = v.toArray();
    for (qsizetype k = 0; k < items.size(); ++k) {
        std::string text;
        if (!readString(items[k], where + "[" + std::to_string(k) + "]", text, error)) return false;
        if (k < static_cast<qsizetype>(out.size())) out[static_cast<std::size_t>(k)] = text;  // more are ignored
    }
    return true;
}

// Exactly YYYY-MM-DD, naming a day that exists.
std::optional<sys_days> parseDate(const QString& text) {
    const QByteArray s = text.toLatin1();
    if (text.size() != 10 || s[4] != '-' || s[7] != '-') return std::nullopt;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
    const year_month_day date{year{s.mid(0, 4).toInt()}, month{s.mid(5, 2).toUInt()},
                              day{s.mid(8, 2).toUInt()}};
    if (!date.ok()) return std::nullopt;
    return sys_days{date};
}

std::string isoDate(sys_days d) {
    const year_month_day date{d};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

// A local time of day on a date, YYYY-MM-DDTHH:MM:SS, as a count of local seconds from 1970-01-01.
std::optional<std::int64_t> parseLocalTime(const QString& text) {
    const QByteArray s = text.toLatin1();
    if (text.size() != 19 || s[10] != 'T' || s[13] != ':' || s[16] != ':') return std::nullopt;
    const auto date = parseDate(text.left(10));
    if (!date) return std::nullopt;
    int fields[3];
    for (int k = 0; k < 3; ++k) {
        const char a = s[11 + 3 * k], b = s[12 + 3 * k];
        if (a < '0' || a > '9' || b < '0' || b > '9') return std::nullopt;
        fields[k] = (a - '0') * 10 + (b - '0');
    }
    if (fields[0] > 23 || fields[1] > 59 || fields[2] > 59) return std::nullopt;
    return std::int64_t{date->time_since_epoch().count()} * 86400 + fields[0] * 3600 + fields[1] * 60 +
           fields[2];
}

std::string localTimeText(std::int64_t seconds) {
    std::int64_t day = seconds / 86400;
    if (seconds % 86400 < 0) --day;
    const std::int64_t sod = seconds - day * 86400;
    char time[16];
    std::snprintf(time, sizeof time, "T%02d:%02d:%02d", static_cast<int>(sod / 3600),
                  static_cast<int>(sod / 60 % 60), static_cast<int>(sod % 60));
    return isoDate(sys_days{days{day}}) + time;
}

bool readDate(const QJsonValue& v, const std::string& where, sys_days& out, std::string& error) {
    if (!v.isString()) return refuse(error, where, std::string(kindName(v)) + ", not a date (YYYY-MM-DD)");
    const auto date = parseDate(v.toString());
    if (!date) return refuse(error, where, "\"" + v.toString().toStdString() + "\", not a date (YYYY-MM-DD)");
    out = *date;
    return true;
}

// `period` is one object of "periods", named by `where`.
bool readPeriodDays(const QJsonObject& period, const std::string& where, DayMask& out, std::string& error) {
    const QJsonValue v = period.value(QLatin1String("days"));
    if (v.isUndefined()) return true;
    if (!v.isArray()) return refuse(error, where + ".days", std::string(kindName(v)) + ", not a list");
    const QJsonArray list = v.toArray();
    DayMask days = 0;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const std::string item = where + ".days[" + std::to_string(i) + "]";
        if (!list[i].isDouble())
            return refuse(error, item, std::string(kindName(list[i])) + ", not a number");
        const double d = list[i].toDouble();
        if (!(d >= 1 && d <= 7) || d != std::floor(d)) {
            char shown[32];
            std::snprintf(shown, sizeof shown, "%g", d);
            return refuse(error, item, std::string(shown) + ", not a day from 1 to 7");
        }
        days |= DayBit(static_cast<int>(d));
    }
    out = days;
    return true;
}

bool readRestDays(const QJsonObject& root, std::vector<DateRange>& out, std::string& error) {
    const QJsonValue v = root.value(QLatin1String("rest"));
    if (v.isUndefined()) return true;
    if (!v.isArray()) return refuse(error, "\"rest\"", std::string(kindName(v)) + ", not a list");
    const QJsonArray list = v.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const std::string where = "\"rest\"[" + std::to_string(i) + "]";
        DateRange range;
        if (list[i].isObject()) {
            const QJsonObject o = list[i].toObject();
            if (!readDate(o.value(QLatin1String("from")), where + ".from", range.from, error) ||
                !readDate(o.value(QLatin1String("to")), where + ".to", range.to, error))
                return false;
            if (range.from > range.to)
                return refuse(error, where, "a range whose \"from\" comes after its \"to\"");
        } else {
            if (!readDate(list[i], where, range.from, error)) return false;
            range.to = range.from;
        }
        out.push_back(range);
    }
    return true;
}

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// The file a path names through any symbolic links, also when the last link dangles (its target
// is then where the file is to be made).
std::string linkTarget(const std::string& path) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::string to(PATH_MAX, '\0');
        const ssize_t n = readlink(p.c_str(), to.data(), to.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= to.size()) return p;
        to.resize(static_cast<std::size_t>(n));
        if (to[0] != '/') to = p.substr(0, p.rfind('/') + 1) + to;
        p = to;
    }
    return p;
}

std::string folderOf(const std::string& file) {
    return file.find('/') == std::string::npos ? "." : file.substr(0, file.rfind('/') + 1);
}

// The name the writer gives a temporary file beside `target`: TARGET.tmp- and six more bytes.
bool isTemporaryOf(std::string_view name, std::string_view base) {
    return name.size() == base.size() + 11 && name.substr(0, base.size()) == base &&
           name.substr(base.size(), 5) == ".tmp-";
}

bool parseSession(std::string_view text, SessionData& out, std::string& error) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark some editors write
    std::string kept;
    if (const char* fault = rawFault(text, &kept)) {
        error = std::string("not valid JSON (") + fault + ")";
        return false;
    }
    if (!kept.empty()) text = kept;
    QJsonParseError parsed;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())), &parsed);
    if (parsed.error != QJsonParseError::NoError) {
        error = "not valid JSON (" + parsed.errorString().toStdString() + " at byte " +
                std::to_string(parsed.offset) + ")";
        return false;
    }
    if (!doc.isObject()) return error = std::string("the file is ") + (doc.isArray() ? "a list" : "not an object") +
                                        ", not an object", false;
    const QJsonObject root = doc.object();
    SessionData d;
    if (const QJsonValue v = root.value(QLatin1String("version")); !v.isUndefined()) {
        if (!expect(v, QJsonValue::Double, "\"version\"", error)) return false;
        if (v.toDouble() != std::floor(v.toDouble())) {
            char shown[32];
            std::snprintf(shown, sizeof shown, "%.17g", v.toDouble());
            error = std::string("\"version\" is ") + shown + ", not a whole number";
            return false;
        }
        if (v.toDouble() != 1 && v.toDouble() != kSessionVersion) {
            char shown[32];
            std::snprintf(shown, sizeof shown, "%g", v.toDouble());
            error = std::string("version ") + shown +
                    (v.toDouble() > kSessionVersion
                         ? " is newer than this program reads (" + std::to_string(kSessionVersion) + ")"
                         : std::string(" is not one this program reads"));
            return false;
        }
    }
    if (const QJsonValue v = root.value(QLatin1String("playlist")); !v.isUndefined()) {
        if (!expect(v, QJsonValue::Array, "\"playlist\"", error)) return false;
        const QJsonArray items = v.toArray();
        for (qsizetype i = 0; i < items.size(); ++i) {
            std::string path;
            const std::string where = "\"playlist\"[" + std::to_string(i) + "]";
            // Before its bytes are made: no path is longer (in UTF-16 units, it is no shorter).
            if (items[i].isString() && items[i].toString().size() >= PATH_MAX)
                return error = where + " is longer than a path can be", false;
            if (!readString(items[i], where, path, error)) return false;
            d.playlist.push_back(std::move(path));
        }
    }
    if (const QJsonValue v = root.value(QLatin1String("periods")); !v.isUndefined()) {
        if (!expect(v, QJsonValue::Array, "\"periods\"", error)) return false;
        const QJsonArray items = v.toArray();
        for (qsizetype i = 0; i < items.size(); ++i) {
            const std::string where = "\"periods\"[" + std::to_string(i) + "]";
            if (!expect(items[i], QJsonValue::Object, where, error)) return false;
            const QJsonObject period = items[i].toObject();
            SessionPeriod ignored;
            std::optional<std::int64_t> ignoredStart;
            const bool kept = i < static_cast<qsizetype>(d.periods.size());
            SessionPeriod& p = kept ? d.periods[static_cast<std::size_t>(i)] : ignored;
            if (!readTexts(period.value(QLatin1String("from")), where + ".from", p.from, error) ||
                !readTexts(period.value(QLatin1String("to")), where + ".to", p.to, error) ||
                !readPeriodDays(period, where, p.days, error))
                return false;
            if (const QJsonValue started = period.value(QLatin1String("started")); !started.isUndefined()) {
                const auto at = started.isString() ? parseLocalTime(started.toString()) : std::nullopt;
                if (!at)
                    return refuse(error, where + ".started",
                                  (started.isString() ? "\"" + started.toString().toStdString() + "\""
                                                      : std::string(kindName(started))) +
                                      ", not a local time (YYYY-MM-DDTHH:MM:SS)");
                (kept ? d.started[static_cast<std::size_t>(i)] : ignoredStart) = at;
            }
        }
    }
    if (!readRestDays(root, d.rest, error)) return false;
    if (!ReadLoudnessKeys(root, d.loudness, error)) return false;
    if (!readBool(root, "random", d.random, error) || !readBool(root, "loop", d.loop, error) ||
        !readBool(root, "schedule", d.schedule, error) || !readBool(root, "stopped", d.stopped, error))
        return false;
    if (const QJsonValue v = root.value(QLatin1String("folder")); !v.isUndefined())
        if (!readString(v, "\"folder\"", d.folder, error)) return false;
    out = std::move(d);
    return true;
}

}  // namespace

Result<SessionData> ParseSession(std::string_view text) {
    Result<SessionData> parsed;
    if (!parseSession(text, parsed.value, parsed.error)) parsed.value = {};
    return parsed;
}

std::string FormatSession(const SessionData& data) {
    // Days or rest days make version 2, so that a program that reads only version 1 sets the file
    // aside instead of ringing on a rest day; without them the file stays as version 1 wrote it.
    bool week = !data.rest.empty();
    for (const SessionPeriod& p : data.periods) week |= (p.days & kEveryDay) != kEveryDay;
    const int version = week ? kSessionVersion : 1;
    std::string out = "{\"version\": " + std::to_string(version) + ",\n \"playlist\": [";
    for (std::size_t i = 0; i < data.playlist.size(); ++i) {
        out += i ? ",\n              " : "";
        AppendJsonString(out, data.playlist[i]);
    }
    out += "],\n \"periods\": [";
    for (std::size_t i = 0; i < data.periods.size(); ++i) {
        out += i ? ",\n             " : "";
        for (int half = 0; half < 2; ++half) {
            const auto& texts = half ? data.periods[i].to : data.periods[i].from;
            out += half ? "], \"to\": [" : "{\"from\": [";
            for (std::size_t k = 0; k < texts.size(); ++k) {
                out += k ? ", " : "";
                AppendJsonString(out, texts[k]);
            }
        }
        out += "]";
        if (const DayMask days = data.periods[i].days; (days & kEveryDay) != kEveryDay) {
            out += ", \"days\": [";
            for (int d = 1, n = 0; d <= 7; ++d)
                if (days & DayBit(d)) out += (n++ ? ", " : "") + std::to_string(d);
            out += "]";
        }
        if (const auto& started = data.started[i])
            out += ", \"started\": \"" + localTimeText(*started) + "\"";
        AppendPeriodLevel(out, data.loudness, i);
        out += "}";
    }
    out += "]";
    if (!data.rest.empty()) {
        out += ",\n \"rest\": [";
        for (std::size_t i = 0; i < data.rest.size(); ++i) {
            const DateRange& r = data.rest[i];
            out += i ? ", " : "";
            if (r.from == r.to)
                out += "\"" + isoDate(r.from) + "\"";
            else
                out += "{\"from\": \"" + isoDate(r.from) + "\", \"to\": \"" + isoDate(r.to) + "\"}";
        }
        out += "]";
    }
    out += ",\n \"random\": ";
    out += data.random ? "true" : "false";
    out += ", \"loop\": ";
    out += data.loop ? "true" : "false";
    out += ", \"schedule\": ";
    out += data.schedule ? "true" : "false";
    if (data.stopped) out += ", \"stopped\": true";
    AppendLoudnessKeys(out, data.loudness);
    if (!data.folder.empty()) {
        out += ",\n \"folder\": ";
        AppendJsonString(out, data.folder);
    }
    out += "}\n";
    return out;
}

Result<std::optional<SessionData>> ReadSessionFile(const std::string& path) {
    using Read = Result<std::optional<SessionData>>;
    // Non-blocking, so that a FIFO named by mistake cannot hang the start-up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return errno == ENOENT ? Read{} : Read::failed(systemError("cannot open it"));
    std::string text, error;
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
    if (!error.empty()) return Read::failed(error);
    Result<SessionData> parsed = ParseSession(text);
    if (!parsed) return Read::failed(parsed.error);
    return {std::move(parsed.value)};
}

Done WriteSessionFile(const std::string& path, const SessionData& data) {
    // Through a symbolic link to the file it names (made when the link dangles), so that the
    // link stays.
    const std::string target = linkTarget(path);
    const std::string text = FormatSession(data);
    std::string temp = target + ".tmp-XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return Done::failed(systemError("cannot create " + temp));
    std::string error;
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
        return Done::failed(error);
    }
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)fsync(dir);
        ::close(dir);
    }
    return {};
}

int RemoveSessionTemporaries(const std::string& path) {
    const std::string target = linkTarget(path);
    const std::string base = target.substr(target.rfind('/') + 1);
    DIR* dir = opendir(folderOf(target).c_str());
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* e = readdir(dir))
        if (isTemporaryOf(e->d_name, base) && unlinkat(dirfd(dir), e->d_name, 0) == 0) ++removed;
    closedir(dir);
    return removed;
}

std::string ResolvedSessionPath(const std::string& path) {
    const std::string target = linkTarget(path);
    char folder[PATH_MAX];
    if (!realpath(folderOf(target).c_str(), folder)) return target;
    return std::string(folder) + "/" + target.substr(target.rfind('/') + 1);
}

namespace {

bool present(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// A rename that never replaces what is at `to`.
bool renameAside(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without it: only one player touches a session, so a look first will do.
    if (present(to)) return errno = EEXIST, false;
    return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

Result<std::string> SetAsideSessionFile(const std::string& path) {
    using Aside = Result<std::string>;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? Aside{} : Aside::failed(systemError("cannot look at it"));
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode))
        return Aside::failed("it is not a file");
    const auto aside = [&](int n) { return path + ".bad" + (n > 0 ? "." + std::to_string(n) : ""); };
    std::vector<int> numbered;
    for (int n = 1; n < kSetAsideKept; ++n)
        if (present(aside(n))) numbered.push_back(n);
    if (numbered.size() == kSetAsideKept - 1) {
        // Full. A folder set aside is not thrown away: then this one stays where it is.
        if (::unlink(aside(numbered.front()).c_str()) != 0)
            return Aside::failed(systemError("cannot make room for it beside " + aside(0)));
        numbered.erase(numbered.begin());
    }
    // Numbered from 1 with no gaps (a move cut short may have left one), in the same order.
    for (std::size_t i = 0; i < numbered.size(); ++i) {
        const int want = static_cast<int>(i) + 1;
        if (numbered[i] != want && !renameAside(aside(numbered[i]), aside(want)))
            return Aside::failed(systemError("cannot move " + aside(numbered[i])));
        numbered[i] = want;
    }
    const std::string where =
        numbered.empty() && !present(aside(0)) ? aside(0) : aside(static_cast<int>(numbered.size()) + 1);
    if (!renameAside(path, where)) return Aside::failed(systemError("cannot move it to " + where));
    return where;
}

}  // namespace vesperon::app
