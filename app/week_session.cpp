#include "app/week_session.h"

#include <QJsonArray>
#include <cmath>
#include <cstdio>

namespace vesperon::app {

namespace {

using namespace std::chrono;

const char* kindName(const QJsonValue& v) {
    switch (v.type()) {
        case QJsonValue::Null: return "null";
        case QJsonValue::Bool: return "true or false";
        case QJsonValue::Double: return "a number";
        case QJsonValue::String: return "a string";
        case QJsonValue::Array: return "a list";
        case QJsonValue::Object: return "an object";
        case QJsonValue::Undefined: break;
    }
    return "missing";
}

bool refuse(std::string& error, const std::string& where, const std::string& what) {
    error = where + " is " + what;
    return false;
}

// Exactly YYYY-MM-DD, naming a day that exists.
std::optional<sys_days> parseDate(const QString& text) {
    const QByteArray s = text.toLatin1();
    if (text.size() != 10 || s[4] != '-' || s[7] != '-') return std::nullopt;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
    const year_month_day date{year{s.mid(0, 4).toInt()}, month{s.mid(5, 2).toUInt()}, day{s.mid(8, 2).toUInt()}};
    if (!date.ok()) return std::nullopt;
    return sys_days{date};
}

QString formatDate(sys_days d) { return QString::fromStdString(IsoDateText(d)); }

bool readDate(const QJsonValue& v, const std::string& where, sys_days& out, std::string& error) {
    if (!v.isString()) return refuse(error, where, std::string(kindName(v)) + ", not a date (YYYY-MM-DD)");
    const auto date = parseDate(v.toString());
    if (!date) return refuse(error, where, "\"" + v.toString().toStdString() + "\", not a date (YYYY-MM-DD)");
    out = *date;
    return true;
}

}  // namespace

bool ReadPeriodDays(const QJsonObject& period, const std::string& where, DayMask& out, std::string& error) {
    const QJsonValue v = period.value(QLatin1String("days"));
    if (v.isUndefined()) {
        out = kEveryDay;
        return true;
    }
    if (!v.isArray()) return refuse(error, where + ".days", std::string(kindName(v)) + ", not a list");
    const QJsonArray list = v.toArray();
    DayMask days = 0;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const std::string item = where + ".days[" + std::to_string(i) + "]";
        if (!list[i].isDouble()) return refuse(error, item, std::string(kindName(list[i])) + ", not a number");
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

void WritePeriodDays(QJsonObject& period, DayMask days) {
    if ((days & kEveryDay) == kEveryDay) {
        period.remove(QLatin1String("days"));
        return;
    }
    QJsonArray list;
    for (int d = 1; d <= 7; ++d)
        if (days & DayBit(d)) list.append(d);
    period.insert(QLatin1String("days"), list);
}

bool ReadRestDays(const QJsonObject& root, std::vector<DateRange>& out, std::string& error) {
    const QJsonValue v = root.value(QLatin1String("rest"));
    std::vector<DateRange> rest;
    if (!v.isUndefined()) {
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
            rest.push_back(range);
        }
    }
    out = std::move(rest);
    return true;
}

void WriteRestDays(QJsonObject& root, const std::vector<DateRange>& rest) {
    if (rest.empty()) {
        root.remove(QLatin1String("rest"));
        return;
    }
    QJsonArray list;
    for (const DateRange& r : rest) {
        if (r.from == r.to)
            list.append(formatDate(r.from));
        else
            list.append(QJsonObject{{QLatin1String("from"), formatDate(r.from)}, {QLatin1String("to"), formatDate(r.to)}});
    }
    root.insert(QLatin1String("rest"), list);
}

std::string IsoDateText(std::chrono::sys_days d) {
    const year_month_day date{d};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

int SessionVersionFor(const std::array<DayMask, kPeriodCount>& days, const std::vector<DateRange>& rest) {
    for (DayMask d : days)
        if ((d & kEveryDay) != kEveryDay) return kSessionVersionWeek;
    return rest.empty() ? 1 : kSessionVersionWeek;
}

}  // namespace vesperon::app
