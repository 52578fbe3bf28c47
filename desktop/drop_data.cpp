#include "desktop/drop_data.h"

#include <QFile>
#include <QMimeData>
#include <QUrl>

namespace vesperon::desktop {

bool decideEffect(bool accepted, std::uint32_t keyState, std::uint32_t& effect) {
    const std::uint32_t allowed = effect;
    if (!accepted) {
        effect = kEffectNone;
        return false;
    }
    std::uint32_t wanted = kEffectNone;
    const bool control = keyState & kKeyControl, shift = keyState & kKeyShift;
    if (control && shift)
        wanted = kEffectLink;
    else if (control)
        wanted = kEffectCopy;
    else if (shift)
        wanted = kEffectMove;
    if (wanted != kEffectNone) {
        effect = (allowed & wanted) && wanted != kEffectLink ? wanted : kEffectNone;
        return effect != kEffectNone;
    }
    effect = kEffectNone;
    for (std::uint32_t e : {kEffectCopy, kEffectMove, kEffectLink}) {
        if (allowed & e) {
            effect = e;
            break;
        }
    }
    return effect != kEffectNone;
}

std::uint32_t keyStateOf(int qtModifiers) {
    std::uint32_t k = 0;
    if (qtModifiers & Qt::ControlModifier) k |= kKeyControl;
    if (qtModifiers & Qt::ShiftModifier) k |= kKeyShift;
    return k;
}

namespace {
std::string upToNul(const QByteArray& bytes) {
    const qsizetype nul = bytes.indexOf('\0');
    return std::string(bytes.constData(), static_cast<size_t>(nul < 0 ? bytes.size() : nul));
}

std::vector<QUrl> urlsOf(const QMimeData& data) {
    if (!data.hasUrls()) return {};
    const QList<QUrl> urls = data.urls();
    return {urls.begin(), urls.end()};
}
}  // namespace

std::string htmlDropText(const QString& html) {
    QString s = html;
    s.replace(QChar(0x00A0), QChar(' '));
    return upToNul(s.toUtf8());
}

std::string fileListText(const std::vector<std::string>& paths) {
    if (paths.size() == 1) return paths.front();
    std::string out;
    for (const auto& p : paths) out += p + "\r\n";
    return out;
}

bool offersText(const QMimeData& data) {
    return data.hasText();
}
bool offersHtml(const QMimeData& data) {
    return data.hasHtml();
}

bool offersUrl(const QMimeData& data) {
    const auto urls = urlsOf(data);
    return urls.size() == 1 && !urls.front().isLocalFile();
}

bool offersFiles(const QMimeData& data) {
    for (const QUrl& u : urlsOf(data))
        if (u.isLocalFile()) return true;
    return false;
}

std::string textOf(const QMimeData& data) {
    return upToNul(data.text().toUtf8());
}

std::string urlOf(const QMimeData& data) {
    const auto urls = urlsOf(data);
    return urls.empty() ? std::string() : upToNul(urls.front().toString().toUtf8());
}

std::vector<std::string> filesOf(const QMimeData& data) {
    std::vector<std::string> paths;
    for (const QUrl& u : urlsOf(data))
        if (u.isLocalFile()) paths.push_back(upToNul(QFile::encodeName(u.toLocalFile())));
    return paths;
}

}  // namespace vesperon::desktop
