#pragma once
// One player per session: the first instance owns a name on the session bus that stands for
// its session (the session file, or none); a later start with the same session hands its files
// to the owner over the bus and ends. Without a session bus every start runs on its own.
// Paths cross the bus as bytes ("aay"), exactly as the system named them, UTF-8 or not.

#include <QDBusConnection>
#include <QObject>
#include <QByteArrayList>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vesperon::desktop {

class InstanceChannel : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.vesperon.Instance")
public:
    static constexpr const char* kObjectPath = "/org/vesperon/Instance";

    enum class Outcome {
        NoBus,       // no session bus: run on
        First,       // this is the session's instance: run on and take hand-overs
        HandedOver,  // the session's instance took the files: end
        Alone,       // an owner is there but did not answer: the files may still reach it
    };
    using Files = std::vector<std::string>;

    // The bus name that stands for a session; `sessionKey` is empty for the default session.
    static QString busNameFor(const QString& sessionKey);

    // Claims the session's name, or hands `files` to its owner (waiting at most `timeoutMs` for
    // its answer, twice). The hand-over carries one id for both tries, so a call that timed out and
    // still landed is not applied again by the retry. On First, *channel receives the files of
    // later starts.
    static Outcome claim(QDBusConnection bus, const QString& sessionKey, const Files& files,
                         std::unique_ptr<InstanceChannel>* channel, int timeoutMs = 1500);
    ~InstanceChannel() override;

    // Where handed files go; files that came before it was set are passed on now.
    void setReceiver(std::function<void(const Files&)> receiver);

public slots:
    // Called over the bus by a later start of the same session (an empty list only raises);
    // a hand-over whose id was applied already is answered and ignored.
    Q_SCRIPTABLE void Open(const QByteArrayList& files, const QString& id);

private:
    explicit InstanceChannel(QDBusConnection bus) : bus_(std::move(bus)) {}
    QDBusConnection bus_;
    QString name_;
    std::function<void(const Files&)> receiver_;
    std::vector<Files> pending_;
    std::deque<QString> appliedIds_;  // the latest hand-overs, newest last
};

}  // namespace vesperon::desktop
