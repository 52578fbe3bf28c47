#include "app/loudness_keys.h"

#include <QJsonArray>
#include <QJsonValue>
#include <cmath>
#include <cstdio>

namespace vesperon::app {

namespace {

std::string shown(const QJsonValue& v) {
    if (v.isDouble()) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", v.toDouble());
        return text;
    }
    if (v.isString()) return "\"" + v.toString().toStdString() + "\"";
    if (v.isBool()) return v.toBool() ? "true" : "false";
    if (v.isArray()) return "a list";
    if (v.isObject()) return "an object";
    return "null";
}

bool refuse(std::string& error, const std::string& where, const QJsonValue& v, const std::string& wanted) {
    error = where + " is " + shown(v) + ", not " + wanted;
    return false;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

}  // namespace

bool ReadLoudnessKeys(const QJsonObject& root, SessionLoudness& out, std::string& error) {
    SessionLoudness d;
    if (const QJsonValue v = root.value(QLatin1String("loudness")); !v.isUndefined()) {
        if (!v.isObject()) return refuse(error, "\"loudness\"", v, "an object");
        const QJsonObject o = v.toObject();
        if (const QJsonValue t = o.value(QLatin1String("target")); !t.isUndefined()) {
            if (!t.isDouble() || !(t.toDouble() >= loudness::kLowestTarget) ||
                !(t.toDouble() <= loudness::kHighestTarget))
                return refuse(error, "\"loudness\".target", t, "a loudness from -23 to -14 (LUFS)");
            d.settings.target = t.toDouble();
        }
        if (const QJsonValue m = o.value(QLatin1String("mode")); !m.isUndefined()) {
            const auto mode = m.isString() ? loudness::modeNamed(m.toString().toStdString()) : std::nullopt;
            if (!mode) return refuse(error, "\"loudness\".mode", m, "\"track\", \"album\" or \"off\"");
            d.settings.mode = *mode;
        }
    }
    const QJsonArray periods = root.value(QLatin1String("periods")).toArray();
    for (qsizetype i = 0; i < periods.size() && i < qsizetype(d.levels.size()); ++i) {
        const QJsonValue v = periods[i].toObject().value(QLatin1String("level"));
        if (v.isUndefined()) continue;
        const double level = v.toDouble(-1);
        if (!v.isDouble() || level != std::floor(level) || level < 0 || level > 100)
            return refuse(error, "\"periods\"[" + std::to_string(i) + "].level", v,
                          "a whole per cent from 0 to 100");
        d.levels[std::size_t(i)] = int(level);
    }
    out = d;
    return true;
}

void AppendPeriodLevel(std::string& out, const SessionLoudness& data, std::size_t period) {
    if (period < data.levels.size() && data.levels[period] != 100)
        out += ", \"level\": " + std::to_string(data.levels[period]);
}

void AppendLoudnessKeys(std::string& out, const SessionLoudness& data) {
    if (data.settings.mode == loudness::Mode::Off && data.settings.target == loudness::kDefaultTarget) return;
    out += ",\n \"loudness\": {\"target\": " + number(data.settings.target) + ", \"mode\": \"" +
           loudness::modeName(data.settings.mode) + "\"}";
}

}  // namespace vesperon::app
