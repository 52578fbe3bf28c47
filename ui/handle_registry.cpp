#include "ui/handle_registry.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace vesperon::ui {
namespace {

struct Entry {
    MessageReceiver* receiver = nullptr;
    QPointer<QWidget> widget;
    std::vector<std::pair<int, MessageFilter>> filters;
};

const QEvent::Type kMessageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class MessageEvent : public QEvent {
public:
    MessageEvent(WindowHandle h, std::uint32_t m, std::intptr_t w, std::intptr_t l)
        : QEvent(kMessageEventType), handle(h), message(m), wParam(w), lParam(l) {}
    ~MessageEvent() override {
        // A send whose handle died before delivery still gets its answer.
        if (reply && !answered) reply->set_value(0);
    }
    WindowHandle handle;
    std::uint32_t message;
    std::intptr_t wParam, lParam;
    std::promise<std::intptr_t>* reply = nullptr;
    bool answered = false;
};

class Dispatcher : public QObject {
public:
    bool event(QEvent* e) override;
};

struct Registry {
    std::mutex mutex;
    std::map<WindowHandle, Entry> entries;
    WindowHandle next = 0x10000;  // far from 0 and from small numbers a caller might mistake for one
    int nextFilter = 1;
    Dispatcher* dispatcher = nullptr;  // lives on the UI thread; intentionally never deleted
};

Registry& registry() {
    static Registry r;
    return r;
}

bool onUiThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

std::intptr_t deliver(WindowHandle handle, std::uint32_t message, std::intptr_t w, std::intptr_t l) {
    MessageReceiver* receiver = nullptr;
    std::vector<MessageFilter> filters;
    {
        std::lock_guard lock(registry().mutex);
        auto it = registry().entries.find(handle);
        if (it == registry().entries.end()) return 0;
        receiver = it->second.receiver;
        for (auto f = it->second.filters.rbegin(); f != it->second.filters.rend(); ++f)
            filters.push_back(f->second);
    }
    for (auto& f : filters) {
        if (auto r = f(message, w, l)) return *r;
        if (!isWindow(handle)) return 0;  // a filter may destroy the target
    }
    return receiver ? receiver->receiveMessage(message, w, l) : 0;
}

bool Dispatcher::event(QEvent* e) {
    if (e->type() != kMessageEventType) return QObject::event(e);
    auto* m = static_cast<MessageEvent*>(e);
    std::intptr_t result = deliver(m->handle, m->message, m->wParam, m->lParam);
    if (m->reply) {
        m->reply->set_value(result);
        m->answered = true;
    }
    return true;
}

}  // namespace

WindowHandle registerHandle(MessageReceiver* receiver, QWidget* widget) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (!r.dispatcher) r.dispatcher = new Dispatcher;
    WindowHandle h = r.next++;
    r.entries[h] = Entry{receiver, widget, {}};
    return h;
}

void unregisterHandle(WindowHandle handle) {
    std::lock_guard lock(registry().mutex);
    registry().entries.erase(handle);
}

QWidget* widgetOfHandle(WindowHandle handle) {
    std::lock_guard lock(registry().mutex);
    auto it = registry().entries.find(handle);
    return it == registry().entries.end() ? nullptr : it->second.widget.data();
}

MessageReceiver* receiverOfHandle(WindowHandle handle) {
    std::lock_guard lock(registry().mutex);
    auto it = registry().entries.find(handle);
    return it == registry().entries.end() ? nullptr : it->second.receiver;
}

WindowHandle handleOfWidget(const QWidget* widget) {
    if (!widget) return 0;
    std::lock_guard lock(registry().mutex);
    for (auto& [h, e] : registry().entries)
        if (e.widget == widget) return h;
    return 0;
}

int addMessageFilter(WindowHandle handle, MessageFilter filter) {
    std::lock_guard lock(registry().mutex);
    auto it = registry().entries.find(handle);
    if (it == registry().entries.end() || !filter) return 0;
    int id = registry().nextFilter++;
    it->second.filters.emplace_back(id, std::move(filter));
    return id;
}

void removeMessageFilter(WindowHandle handle, int filterId) {
    std::lock_guard lock(registry().mutex);
    auto it = registry().entries.find(handle);
    if (it == registry().entries.end()) return;
    std::erase_if(it->second.filters, [&](const auto& f) { return f.first == filterId; });
}

bool isWindow(WindowHandle handle) {
    std::lock_guard lock(registry().mutex);
    return registry().entries.count(handle) != 0;
}

bool postMessage(WindowHandle handle, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (!r.dispatcher || !r.entries.count(handle) || !QCoreApplication::instance()) return false;
    QCoreApplication::postEvent(r.dispatcher, new MessageEvent(handle, message, wParam, lParam));
    return true;
}

std::intptr_t sendMessage(WindowHandle handle, std::uint32_t message, std::intptr_t wParam,
                          std::intptr_t lParam) {
    if (onUiThread()) return deliver(handle, message, wParam, lParam);
    std::promise<std::intptr_t> reply;
    auto answer = reply.get_future();
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        if (!r.dispatcher || !r.entries.count(handle) || !QCoreApplication::instance()) return 0;
        auto* e = new MessageEvent(handle, message, wParam, lParam);
        e->reply = &reply;
        QCoreApplication::postEvent(r.dispatcher, e);
    }
    return answer.get();
}

}  // namespace vesperon::ui
