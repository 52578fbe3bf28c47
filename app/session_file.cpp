#include "app/session_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "app/week_session.h"

namespace vesperon::app {

namespace {

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

// The first fault of the raw text that the JSON parser would pass over: bytes that are not
// UTF-8, or brackets nested too deeply (counted outside strings).
const char* rawFault(std::string_view s) {
    int depth = 0;
    bool inString = false;
    for (std::size_t p = 0; p < s.size();) {
        const char c = s[p];
        const std::size_t n = utf8Length(s, p);
        if (n == 0) return "not UTF-8";
        if (inString && c == '\\') {
            p += 2;
            continue;
        }
        if (c == '"') inString = !inString;
        if (!inString && (c == '[' || c == '{') && ++depth > kMaxDepth) return "nested too deeply";
        if (!inString && (c == ']' || c == '}')) --depth;
        p += n;
    }
    return nullptr;
}

void appendUtf8(std::string& out, char32_t cp) {
    const QString one = QString::fromUcs4(&cp, 1);
    out += one.toUtf8().toStdString();
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
        case QJsonValue::Bool: return "true or false";
        case QJsonValue::Double: return "a number";
        case QJsonValue::String: return "a string";
        case QJsonValue::Array: return "a list";
        case QJsonValue::Object: return "an object";
        default: return "null";
    }
}

bool expect(const QJsonValue& v, QJsonValue::Type type, const std::string& where, std::string& error) {
    if (v.type() == type) return true;
    error = where + " is " + kindName(v) + ", not " + kindName(QJsonValue(type));
    return false;
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
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark some editors write
    if (const char* fault = rawFault(text)) {
        error = std::string("not valid JSON (") + fault + ")";
        return false;
    }
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
            if (!readString(items[i], "\"playlist\"[" + std::to_string(i) + "]", path, error)) return false;
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
            SessionPeriod& p = i < static_cast<qsizetype>(d.periods.size()) ? d.periods[static_cast<std::size_t>(i)]
                                                                           : ignored;
            if (!readTexts(period.value(QLatin1String("from")), where + ".from", p.from, error) ||
                !readTexts(period.value(QLatin1String("to")), where + ".to", p.to, error) ||
                !ReadPeriodDays(period, where, p.days, error))
                return false;
        }
    }
    if (!ReadRestDays(root, d.rest, error)) return false;
    if (!readBool(root, "random", d.random, error) || !readBool(root, "loop", d.loop, error) ||
        !readBool(root, "schedule", d.schedule, error))
        return false;
    out = std::move(d);
    return true;
}

std::string FormatSession(const SessionData& data) {
    const int version = SessionVersionFor(periodDaysOf(data.periods), data.rest);
    std::string out = "{\"version\": " + std::to_string(version) + ",\n \"playlist\": [";
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
        out += "]";
        if (const DayMask days = data.periods[i].days; (days & kEveryDay) != kEveryDay) {
            out += ", \"days\": [";
            for (int d = 1, n = 0; d <= 7; ++d)
                if (days & DayBit(d)) out += (n++ ? ", " : "") + std::to_string(d);
            out += "]";
        }
        out += "}";
    }
    out += "]";
    if (!data.rest.empty()) {
        out += ",\n \"rest\": [";
        for (std::size_t i = 0; i < data.rest.size(); ++i) {
            const DateRange& r = data.rest[i];
            out += i ? ", " : "";
            if (r.from == r.to)
                out += "\"" + IsoDateText(r.from) + "\"";
            else
                out += "{\"from\": \"" + IsoDateText(r.from) + "\", \"to\": \"" + IsoDateText(r.to) + "\"}";
        }
        out += "]";
    }
    out += ",\n \"random\": ";
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
