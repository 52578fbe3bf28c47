#include "ui/form.h"

#include <QApplication>
#include <QPushButton>
#include <QWidget>
#include <algorithm>

#include "ui/button.h"
#include "ui/runtime_error.h"
#include "ui/widget_types.h"
#include "ui/window_widget.h"

namespace vesperon::ui {

void markWindowStarted(QWidget* w);  // window_widget.cpp

namespace {
std::map<std::uint32_t, Form*>& forms() {
    static std::map<std::uint32_t, Form*> f;
    return f;
}
}  // namespace

Form::Form(const layout::FormLayout& layout, RoutineDispatcher dispatcher)
    : id_(layout.windowId()), dispatcher_(std::move(dispatcher)) {
    layout::Unit windowUnit;
    if (!layout.units.empty() && layout.units.front().kind == layout::Kind::Window)
        windowUnit = layout.units.front();
    windowUnit.kind = layout::Kind::Window;
    auto win = std::make_unique<WindowWidget>(*this, windowUnit);
    window_ = win.get();
    units_.push_back(std::move(win));
    for (const auto& b : windowUnit.bindings) bindings_[{windowUnit.id, b.event}] = b.routine;

    for (std::size_t i = 1; i < layout.units.size(); ++i) {
        const layout::Unit& u = layout.units[i];
        if (u.kind == layout::Kind::Window) continue;  // one window per form
        auto w = makeWidget(*this, u);
        if (!w) continue;
        order_.push_back(w.get());
        for (const auto& b : u.bindings) bindings_[{u.id, b.event}] = b.routine;
        units_.push_back(std::move(w));
    }

    window_->create(nullptr);
    // Parents first: a group box must exist before the widgets it contains. A widget whose parent
    // is missing (or would contain itself) goes on the window.
    std::vector<Widget*> pending = order_;
    while (!pending.empty()) {
        std::vector<Widget*> later;
        for (Widget* w : pending) {
            Widget* parent = w->parentId() ? find(w->parentId()) : nullptr;
            if (parent && parent != w && !parent->live() &&
                std::find(pending.begin(), pending.end(), parent) != pending.end()) {
                later.push_back(w);
                continue;
            }
            w->create(parent && parent != w && parent->live() ? parent->live() : window_->live());
        }
        if (later.size() == pending.size()) {
            for (Widget* w : later) w->create(window_->live());
            break;
        }
        pending = std::move(later);
    }
    forms()[id_] = this;
    if (qApp)
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { noteFocus(now); });
}

Form::~Form() {
    QPointer<QWidget> top = windowWidget();
    destroyWindow();
    auto it = forms().find(id_);
    if (it != forms().end() && it->second == this) forms().erase(it);
    // Units go before the Qt widgets they filter: the window widget is deleted last.
    units_.clear();
    delete top.data();
}

std::unique_ptr<Form> Form::load(const layout::FormLayout& layout, RoutineDispatcher dispatcher,
                                 LoadOptions options) {
    auto form = std::make_unique<Form>(layout, std::move(dispatcher));
    form->start(options);
    return form;
}

bool Form::isLoaded() const {
    return window_ && window_->live() && !destroying_;
}

QWidget* Form::windowWidget() const {
    return window_ ? window_->live() : nullptr;
}

Widget* Form::find(std::string_view name) const {
    for (Widget* w : order_)
        if (w->name() == name) return w;
    return nullptr;
}

Widget* Form::find(std::uint32_t id) const {
    if (window_ && window_->id() == id) return window_;
    for (Widget* w : order_)
        if (w->id() == id) return w;
    return nullptr;
}

void Form::bind(std::uint32_t widgetId, int event, layout::RoutineId routine) {
    bindings_[{widgetId, event}] = routine;
}

std::optional<layout::RoutineId> Form::bindingOf(std::uint32_t widgetId, int event) const {
    auto it = bindings_.find({widgetId, event});
    if (it == bindings_.end()) return std::nullopt;
    return it->second;
}

EventResult Form::raise(Widget& widget, int event, const std::vector<EventArg>& args) {
    auto routine = bindingOf(widget.id(), event);
    if (!routine || !dispatcher_) return {};
    EventCall call{*this, widget, event, args};
    return {true, dispatcher_(*routine, call)};
}

void Form::start(LoadOptions options) {
    for (int ev : {kWindowCreated, kWindowMoved, kWindowResized}) {
        if (!isLoaded()) return;
        window_->raiseEvent(ev);
    }
    if (!isLoaded()) return;
    if (Widget* first = firstFocusStop(); first && !lastFocused()) first->setFocus();
    markWindowStarted(windowWidget());
    if (options.show) windowWidget()->show();
}

bool Form::close() {
    QWidget* w = windowWidget();
    if (!w || destroying_) return false;
    w->close();
    return !isLoaded();
}

void Form::destroyWindow() {
    if (!isLoaded()) return;
    window_->raiseEvent(kWindowDestroying);
    destroying_ = true;
    QWidget* top = window_->live();
    for (Widget* w : order_) w->destroyLive();
    window_->destroyLive();
    if (top) {
        top->hide();
        top->deleteLater();
    }
    emit windowDestroyed();
}

bool Form::handleDialogKey(int qtKey) {
    if (!isLoaded()) return false;
    const layout::WindowProps& p = window_->props();
    auto clickable = [](Widget* w) {
        auto* b = dynamic_cast<Button*>(w);
        return b && b->live() && b->live()->isEnabled() && b->props().defaultButton ? b : nullptr;
    };
    switch (qtKey) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (Button* b = clickable(unitOf(QApplication::focusWidget()))) {
                b->button()->click();
                return true;
            }
            if (p.enterMovesFocus) {
                focusNext(true);
                return true;
            }
            for (Widget* w : order_)
                if (Button* b = clickable(w)) {
                    b->button()->click();
                    return true;
                }
            return false;
        case Qt::Key_Escape:
            if (!p.escCloses) return false;
            close();
            return true;
        case Qt::Key_F1:
            // There is no help viewer; with the setting on the key is used up all the same.
            return p.f1OpensHelp != 0;
        default:
            return false;
    }
}

std::vector<Widget*> Form::focusStopsInOrder() const {
    std::vector<Widget*> stops;
    QWidget* top = windowWidget();
    for (Widget* w : order_) {
        QWidget* q = w->live();
        if (w->isFocusStop() && q && q->isEnabled() && (top ? q->isVisibleTo(top) : !q->isHidden()))
            stops.push_back(w);
    }
    std::stable_sort(stops.begin(), stops.end(),
                     [](Widget* a, Widget* b) { return a->tabOrder() < b->tabOrder(); });
    return stops;
}

Widget* Form::firstFocusStop() const {
    auto stops = focusStopsInOrder();
    return stops.empty() ? nullptr : stops.front();
}

void Form::focusNext(bool forward) {
    auto stops = focusStopsInOrder();
    if (stops.empty()) return;
    Widget* focused = unitOf(QApplication::focusWidget());
    auto current = std::find(stops.begin(), stops.end(), focused);
    Widget* next;
    if (current == stops.end())
        next = forward ? stops.front() : stops.back();
    else if (forward)
        next = (current + 1 == stops.end()) ? stops.front() : *(current + 1);
    else
        next = (current == stops.begin()) ? stops.back() : *(current - 1);
    if (next->live()) next->live()->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

void Form::noteFocus(QWidget* now) {
    QWidget* top = windowWidget();
    if (now && top && top->isAncestorOf(now)) lastFocus_ = now;
}

Widget* Form::lastFocused() const {
    return unitOf(lastFocus_.data());
}

Widget* Form::unitOf(QWidget* q) const {
    // The nearest unit: a group box contains the widgets inside it.
    for (; q; q = q->parentWidget()) {
        for (Widget* w : order_)
            if (w->live() == q) return w;
        if (q->isWindow()) break;
    }
    return nullptr;
}

Form* Form::loadedForm(std::uint32_t windowId) {
    auto it = forms().find(windowId);
    return it != forms().end() && it->second->isLoaded() ? it->second : nullptr;
}

namespace {
Widget* addressed(std::uint32_t windowId, std::uint32_t widgetId) {
    Form* form = Form::loadedForm(windowId);
    if (!form) {
        reportRuntimeError(std::nullopt, kErrorWindowNotLoaded);
        return nullptr;
    }
    Widget* w = form->find(widgetId);
    if (!w) reportRuntimeError(std::nullopt, kErrorLiveWindowMissing);
    return w;
}
}  // namespace

Value readProperty(std::uint32_t windowId, std::uint32_t widgetId, int number, int part) {
    Widget* w = addressed(windowId, widgetId);
    return w ? w->property(number, part) : Value(std::int32_t(-1));
}

bool writeProperty(std::uint32_t windowId, std::uint32_t widgetId, int number, const Value& value, int part) {
    Widget* w = addressed(windowId, widgetId);
    return w && w->setProperty(number, value, part);
}

}  // namespace vesperon::ui
