#include "desktop/single_instance.h"

#include <QCryptographicHash>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QUuid>
#include <QVariant>
#include <algorithm>

#include "desktop/program_info.h"

namespace vesperon::desktop {

namespace {

constexpr const char* kInterface = "org.vesperon.Instance";
// A caller on the bus is not trusted: a hand-over larger than this is refused whole.
constexpr qsizetype kMaxFiles = 100000;
// Enough to cover the retries of every start racing at once; older ids cannot come back.
constexpr size_t kRememberedIds = 64;

}  // namespace

QString InstanceChannel::busNameFor(const QString& sessionKey) {
    if (sessionKey.isEmpty()) return QString::fromLatin1(applicationId());
    // Bus name elements allow only [A-Za-z0-9_]: a digest of the path names the session.
    const QByteArray digest = QCryptographicHash::hash(sessionKey.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QString::fromLatin1(applicationId()) + QStringLiteral(".session_") + QString::fromLatin1(digest.left(24));
}

InstanceChannel::Outcome InstanceChannel::claim(QDBusConnection bus, const QString& sessionKey,
                                                const Files& files,
                                                std::unique_ptr<InstanceChannel>* channel, int timeoutMs) {
    if (!bus.isConnected() || !bus.interface()) return Outcome::NoBus;
    // Paths go as "aay": the list of byte arrays must be known to the bus layer on both ends.
    static const QMetaType registered = qDBusRegisterMetaType<QByteArrayList>();
    (void)registered;
    const QString name = busNameFor(sessionKey);
    std::unique_ptr<InstanceChannel> own(new InstanceChannel(bus));
    // The object is there before the name, so whoever sees the name can reach it.
    if (!bus.registerObject(kObjectPath, own.get(), QDBusConnection::ExportScriptableSlots)) return Outcome::Alone;
    QByteArrayList bytes;
    bytes.reserve(qsizetype(files.size()));
    for (const std::string& f : files) bytes << QByteArray::fromStdString(f);
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    // Twice: the owner may end between our request and our call.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto reply = bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                                            QDBusConnectionInterface::DontAllowReplacement);
        if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
            own->name_ = name;
            *channel = std::move(own);
            return Outcome::First;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(name, kObjectPath, kInterface, QStringLiteral("Open"));
        call << QVariant::fromValue(bytes) << id;
        // Events are served while waiting: an owner in this very process (tests) can answer.
        const QDBusMessage answer = bus.call(call, QDBus::BlockWithGui, timeoutMs);
        if (answer.type() == QDBusMessage::ReplyMessage) {
            bus.unregisterObject(kObjectPath);
            return Outcome::HandedOver;
        }
    }
    bus.unregisterObject(kObjectPath);
    return Outcome::Alone;
}

InstanceChannel::~InstanceChannel() {
    if (!name_.isEmpty()) bus_.unregisterService(name_);
    bus_.unregisterObject(kObjectPath);
}

void InstanceChannel::setReceiver(std::function<void(const Files&)> receiver) {
    receiver_ = std::move(receiver);
    std::vector<Files> pending;
    pending.swap(pending_);
    for (const Files& files : pending) receiver_(files);
}

void InstanceChannel::Open(const QByteArrayList& list, const QString& id) {
    if (list.size() > kMaxFiles) return;
    if (!id.isEmpty()) {
        if (std::find(appliedIds_.begin(), appliedIds_.end(), id) != appliedIds_.end()) return;
        appliedIds_.push_back(id);
        if (appliedIds_.size() > kRememberedIds) appliedIds_.pop_front();
    }
    Files files;
    files.reserve(size_t(list.size()));
    for (const QByteArray& f : list) files.push_back(f.toStdString());
    if (receiver_)
        receiver_(files);
    else if (pending_.size() < 64)
        pending_.push_back(files);
}

}  // namespace vesperon::desktop
