#include "app/session_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
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

// Why a session is refused, thrown by the readers below and caught once, in ParseSession, which
// makes it the Result every caller sees. Errors name the key in the file's own words:
// "periods"[0].days[2] is 8, not a day from 1 to 7.
struct Refused {
    std::string why;
};

[[noreturn]] void refuse(const std::string& where, const std::string& what) {
    throw Refused{where + " is " + what};
}

// The bytes of a decoded string: \udc80-\udcff stand for the raw bytes of a path that is not
// UTF-8 (as the writer puts them); any other lone surrogate, or NUL, makes the file bad.
std::string bytesOf(const QString& text) {
    std::string out;
    qsizetype run = 0;  // where the text not yet in `out` begins
    const auto take = [&](qsizetype end) {
        out += QStringView(text).mid(run, end - run).toUtf8().toStdString();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == 0) throw Refused{"a NUL character inside a string"};
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text[i + 1].unicode())) {
            ++i;
        } else if (QChar::isSurrogate(u)) {
            if (u < 0xDC80 || u > 0xDCFF) throw Refused{"a lone surrogate escape"};
            take(i);
            out += static_cast<char>(u - 0xDC00);
            run = i + 1;
        }
    }
    take(text.size());
    return out;
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

void expect(const QJsonValue& v, QJsonValue::Type type, const std::string& where) {
    if (v.type() != type) refuse(where, std::string(kindName(v)) + ", not " + kindName(QJsonValue(type)));
}

void readBool(const QJsonObject& root, const char* key, bool& out) {
    const QJsonValue v = root.value(QLatin1String(key));
    if (v.isUndefined()) return;
    expect(v, QJsonValue::Bool, std::string("\"") + key + "\"");
    out = v.toBool();
}

std::string readString(const QJsonValue& v, const std::string& where) {
    expect(v, QJsonValue::String, where);
    return bytesOf(v.toString());
}

void readTexts(const QJsonValue& v, const std::string& where, std::array<std::string, 3>& out) {
    if (v.isUndefined()) return;
    expect(v, QJsonValue::Array, where);
    const QJsonArray items = v.toArray();
    for (qsizetype k = 0; k < items.size(); ++k) {
        std::string text = readString(items[k], where + "[" + std::to_string(k) + "]");
        if (k < static_cast<qsizetype>(out.size()))
            out[static_cast<std::size_t>(k)] = std::move(text);  // more are ignored
    }
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

sys_days readDate(const QJsonValue& v, const std::string& where) {
    if (!v.isString()) refuse(where, std::string(kindName(v)) + ", not a date (YYYY-MM-DD)");
    const auto date = parseDate(v.toString());
    if (!date) refuse(where, "\"" + v.toString().toStdString() + "\", not a date (YYYY-MM-DD)");
    return *date;
}

// `period` is one object of "periods", named by `where`.
void readPeriodDays(const QJsonObject& period, const std::string& where, DayMask& out) {
    const QJsonValue v = period.value(QLatin1String("days"));
    if (v.isUndefined()) return;
    if (!v.isArray()) refuse(where + ".days", std::string(kindName(v)) + ", not a list");
    const QJsonArray list = v.toArray();
    DayMask days = 0;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const std::string item = where + ".days[" + std::to_string(i) + "]";
        if (!list[i].isDouble()) refuse(item, std::string(kindName(list[i])) + ", not a number");
        const double d = list[i].toDouble();
        if (!(d >= 1 && d <= 7) || d != std::floor(d)) {
            char shown[32];
            std::snprintf(shown, sizeof shown, "%g", d);
            refuse(item, std::string(shown) + ", not a day from 1 to 7");
        }
        days |= DayBit(static_cast<int>(d));
    }
    out = days;
}

std::vector<DateRange> readRestDays(const QJsonObject& root) {
    std::vector<DateRange> out;
    const QJsonValue v = root.value(QLatin1String("rest"));
    if (v.isUndefined()) return out;
    if (!v.isArray()) refuse("\"rest\"", std::string(kindName(v)) + ", not a list");
    const QJsonArray list = v.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const std::string where = "\"rest\"[" + std::to_string(i) + "]";
        DateRange range;
        if (list[i].isObject()) {
            const QJsonObject o = list[i].toObject();
            range.from = readDate(o.value(QLatin1String("from")), where + ".from");
            range.to = readDate(o.value(QLatin1String("to")), where + ".to");
            if (range.from > range.to) refuse(where, "a range whose \"from\" comes after its \"to\"");
        } else {
            range.from = range.to = readDate(list[i], where);
        }
        out.push_back(range);
    }
    return out;
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

// A temporary file the writer before QSaveFile left beside `target` when a save was killed:
// TARGET.tmp- and six more bytes. QSaveFile's own leaves none: on Linux it writes an unnamed file
// and gives it a name (TARGET. and six letters) only for the moment before its rename, a name a
// user's TARGET.backup could have, so that one is not looked for.
bool isTemporaryOf(std::string_view name, std::string_view base) {
    return name.size() == base.size() + 11 && name.substr(0, base.size()) == base &&
           name.substr(base.size(), 5) == ".tmp-";
}

// The whole document; Qt's parser holds it to UTF-8 and to a depth of 1024 (no session nests
// more than 3 levels), and the file's size is bounded where it is read.
QJsonObject parseDocument(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark some editors write
    QJsonParseError parsed;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())), &parsed);
    if (parsed.error != QJsonParseError::NoError) {
        const std::string fault = parsed.error == QJsonParseError::IllegalUTF8String ? "not UTF-8"
                                  : parsed.error == QJsonParseError::DeepNesting
                                      ? "nested too deeply"
                                      : parsed.errorString().toStdString();
        throw Refused{"not valid JSON (" + fault + " at byte " + std::to_string(parsed.offset) + ")"};
    }
    if (!doc.isObject())
        throw Refused{std::string("the file is ") + (doc.isArray() ? "a list" : "not an object") +
                      ", not an object"};
    return doc.object();
}

void readVersion(const QJsonObject& root) {
    const QJsonValue v = root.value(QLatin1String("version"));
    if (v.isUndefined()) return;
    expect(v, QJsonValue::Double, "\"version\"");
    const double n = v.toDouble();
    char shown[32];
    if (n != std::floor(n)) {
        std::snprintf(shown, sizeof shown, "%.17g", n);
        refuse("\"version\"", std::string(shown) + ", not a whole number");
    }
    if (n != 1 && n != kSessionVersion) {
        std::snprintf(shown, sizeof shown, "%g", n);
        throw Refused{std::string("version ") + shown +
                      (n > kSessionVersion
                           ? " is newer than this program reads (" + std::to_string(kSessionVersion) + ")"
                           : std::string(" is not one this program reads"))};
    }
}

std::vector<std::string> readPlaylist(const QJsonObject& root) {
    std::vector<std::string> out;
    const QJsonValue v = root.value(QLatin1String("playlist"));
    if (v.isUndefined()) return out;
    expect(v, QJsonValue::Array, "\"playlist\"");
    const QJsonArray items = v.toArray();
    for (qsizetype i = 0; i < items.size(); ++i) {
        const std::string where = "\"playlist\"[" + std::to_string(i) + "]";
        // Before its bytes are made: no path is longer (in UTF-16 units, it is no shorter).
        if (items[i].isString() && items[i].toString().size() >= PATH_MAX)
            refuse(where, "longer than a path can be");
        out.push_back(readString(items[i], where));
    }
    return out;
}

void readPeriods(const QJsonObject& root, SessionData& d) {
    const QJsonValue v = root.value(QLatin1String("periods"));
    if (v.isUndefined()) return;
    expect(v, QJsonValue::Array, "\"periods\"");
    const QJsonArray items = v.toArray();
    for (qsizetype i = 0; i < items.size(); ++i) {
        const std::string where = "\"periods\"[" + std::to_string(i) + "]";
        expect(items[i], QJsonValue::Object, where);
        const QJsonObject period = items[i].toObject();
        // A period past the fifth is read, to be judged, and left out.
        SessionPeriod ignored;
        std::optional<std::int64_t> ignoredStart;
        const bool kept = i < static_cast<qsizetype>(d.periods.size());
        SessionPeriod& p = kept ? d.periods[static_cast<std::size_t>(i)] : ignored;
        readTexts(period.value(QLatin1String("from")), where + ".from", p.from);
        readTexts(period.value(QLatin1String("to")), where + ".to", p.to);
        readPeriodDays(period, where, p.days);
        if (const QJsonValue started = period.value(QLatin1String("started")); !started.isUndefined()) {
            const auto at = started.isString() ? parseLocalTime(started.toString()) : std::nullopt;
            if (!at)
                refuse(where + ".started",
                       (started.isString() ? "\"" + started.toString().toStdString() + "\""
                                           : std::string(kindName(started))) +
                           ", not a local time (YYYY-MM-DDTHH:MM:SS)");
            (kept ? d.started[static_cast<std::size_t>(i)] : ignoredStart) = at;
        }
    }
}

}  // namespace

Result<SessionData> ParseSession(std::string_view text) {
    try {
        const QJsonObject root = parseDocument(text);
        SessionData d;
        readVersion(root);
        d.playlist = readPlaylist(root);
        readPeriods(root, d);
        d.rest = readRestDays(root);
        if (std::string why; !ReadLoudnessKeys(root, d.loudness, why)) throw Refused{why};
        readBool(root, "random", d.random);
        readBool(root, "loop", d.loop);
        readBool(root, "schedule", d.schedule);
        readBool(root, "stopped", d.stopped);
        if (const QJsonValue v = root.value(QLatin1String("folder")); !v.isUndefined())
            d.folder = readString(v, "\"folder\"");
        return d;
    } catch (const Refused& r) {
        return Result<SessionData>::failed(r.why);
    }
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
    // QSaveFile takes names as text: a path that would not come back as the same bytes is refused
    // rather than written somewhere else.
    const QString name = QFile::decodeName(QByteArray::fromStdString(path));
    if (QFile::encodeName(name).toStdString() != path) return Done::failed("its name is not UTF-8");
    // QSaveFile writes through a symbolic link to the file it names (made when the link dangles),
    // so that the link stays, and keeps an existing file's mode; a new one is private.
    const bool made = !QFileInfo::exists(name);
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) ||
        (made && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)))
        return Done::failed("cannot create it: " + file.errorString().toStdString());
    const std::string text = FormatSession(data);
    if (file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
        !file.commit())
        return Done::failed("cannot write it: " + file.errorString().toStdString());
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(folderOf(linkTarget(path)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
