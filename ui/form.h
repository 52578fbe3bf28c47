#pragma once
// A loaded window: the window unit and its widgets built from a form layout, the event bindings,
// keyboard focus, and the window's life from creation to destruction.

#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/layout/form_layout.h"
#include "ui/widget.h"

class QWidget;

namespace vesperon::ui {

class WindowWidget;

// What a bound routine is called with.
struct EventCall {
    Form& form;
    Widget& widget;
    int event;
    const std::vector<EventArg>& args;
};

// Runs the routine a binding names. A routine that returns nothing returns std::nullopt.
using RoutineDispatcher = std::function<std::optional<std::int64_t>(layout::RoutineId, const EventCall&)>;

struct LoadOptions {
    bool show = true;  // show the window after events 0, 3, 4
};

class Form : public QObject {
    Q_OBJECT
public:
    // Creates every unit of the layout (refused units are left out). Events are not raised yet.
    Form(const layout::FormLayout& layout, RoutineDispatcher dispatcher);
    ~Form() override;

    // Loads a window: creates it, raises events 0, 3 and 4 (each only while the window still
    // exists), then shows it. The returned form stays registered until it is destroyed.
    static std::unique_ptr<Form> load(const layout::FormLayout& layout, RoutineDispatcher dispatcher,
                                      LoadOptions options = {});

    std::uint32_t id() const { return id_; }
    // True from creation until the window is destroyed.
    bool isLoaded() const;
    WindowWidget& window() const { return *window_; }
    // The top-level Qt widget (the client area), null once destroyed.
    QWidget* windowWidget() const;

    Widget* find(std::string_view name) const;
    Widget* find(std::uint32_t id) const;
    template <class T>
    T* findAs(std::string_view name) const {
        return dynamic_cast<T*>(find(name));
    }
    // Every widget except the window, in record order.
    const std::vector<Widget*>& widgets() const { return order_; }

    // Bindings: those of the record, plus any added here (tests, components that add handlers).
    void bind(std::uint32_t widgetId, int event, layout::RoutineId routine);
    std::optional<layout::RoutineId> bindingOf(std::uint32_t widgetId, int event) const;
    void setDispatcher(RoutineDispatcher dispatcher) { dispatcher_ = std::move(dispatcher); }

    // Runs the routine bound to (widget, event), if any, synchronously.
    EventResult raise(Widget& widget, int event, const std::vector<EventArg>& args);

    // Raises 0, 3, 4 and shows the window (what load does after construction).
    void start(LoadOptions options = {});
    // Closes as the user would: event 1 may veto; true when the window was destroyed.
    bool close();
    // Destroys the window without asking: event 2, then every widget reports itself destroyed.
    void destroyWindow();

    // Enter, Esc and F1 as the window's settings and default buttons want them, before the
    // focused widget sees the key. True when the key was used here.
    bool handleDialogKey(int qtKey);

    // Keyboard focus over the focus stops in tab order.
    Widget* firstFocusStop() const;
    void focusNext(bool forward);
    // The widget that had the focus last, if it is still one of this window's.
    Widget* lastFocused() const;
    // The widget a Qt widget belongs to (itself or the nearest that contains it), or null.
    Widget* unitOf(QWidget* q) const;

    // Forms by window identifier, for addressing by (window, widget).
    static Form* loadedForm(std::uint32_t windowId);

signals:
    void windowDestroyed();

private:
    friend class WindowWidget;
    void noteFocus(QWidget* now);
    std::vector<Widget*> focusStopsInOrder() const;

    std::uint32_t id_;
    std::vector<std::unique_ptr<Widget>> units_;
    std::vector<Widget*> order_;
    WindowWidget* window_ = nullptr;
    std::map<std::pair<std::uint32_t, int>, layout::RoutineId> bindings_;
    RoutineDispatcher dispatcher_;
    QPointer<QWidget> lastFocus_;
    bool destroying_ = false;
};

// Addressing by identifiers. A window that is not loaded is a fatal run-time error; so is an
// unknown widget of a loaded window. Reads return -1 and writes false after a reported error.
Value readProperty(std::uint32_t windowId, std::uint32_t widgetId, int number, int part = -1);
bool writeProperty(std::uint32_t windowId, std::uint32_t widgetId, int number, const Value& value,
                   int part = -1);

}  // namespace vesperon::ui
