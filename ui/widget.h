#pragma once
// The widget base: what every widget of a form shares. A widget is addressed by (window
// identifier, widget identifier); its properties by number (0-7 common, 8 and up per type) and a
// part selector (-1 for the whole value, else one attribute of a font). Each widget keeps its
// stored values and, while it exists, a live Qt widget; reads of the common properties prefer
// the live widget and fall back to the stored values once it is gone.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/handle_registry.h"
#include "ui/layout/form_layout.h"
#include "ui/value.h"

class QWidget;
class QEvent;

namespace vesperon::ui {

class Form;

// Common property numbers.
enum CommonProperty : int {
    kLeft = 0,
    kTop = 1,
    kWidth = 2,
    kHeight = 3,
    kTag = 4,
    kVisible = 5,
    kDisabled = 6,
    kMousePointer = 7,
};

// The common input events, raised for the widget that has the input before it sees it.
enum InputEvent : int {
    kLeftDown = -1,
    kLeftUp = -2,
    kDoubleClick = -3,
    kRightDown = -4,
    kRightUp = -5,
    kMouseMove = -6,
    kGotFocus = -7,
    kLostFocus = -8,
    kKeyDown = -9,
    kKeyUp = -10,
    kCharacter = -11,
    kWheel = -12,
};

// Key state bits of the input events.
inline constexpr std::int32_t kKeyStateCtrl = 1, kKeyStateShift = 2, kKeyStateAlt = 4;

class Widget : public QObject, public MessageReceiver {
    Q_OBJECT
public:
    Widget(Form& form, const layout::Unit& unit);
    ~Widget() override;
    Widget(const Widget&) = delete;
    Widget& operator=(const Widget&) = delete;

    Form& form() const { return form_; }
    std::uint32_t id() const { return id_; }
    const std::string& name() const { return name_; }
    layout::Kind kind() const { return kind_; }
    std::uint32_t parentId() const { return parentId_; }
    std::uint32_t tabOrder() const { return tabOrder_; }
    bool isFocusStop() const { return focusStop_; }

    // The live Qt widget, null before creation and after "widget destroyed".
    QWidget* live() const { return live_.data(); }
    // The window handle other threads and components address this widget by; 0 when not live.
    WindowHandle handle() const { return handle_; }

    // Reads a property: -1 (or an empty value) for an unknown number. A type property of a widget
    // whose live window is gone is a fatal run-time error.
    virtual Value property(int number, int part = -1);
    // Writes a property; false for an unknown number. Never raises the widget's own events.
    virtual bool setProperty(int number, const Value& value, int part = -1);
    std::int32_t intProperty(int number) { return intOf(property(number)); }
    std::string textProperty(int number) { return textOf(property(number)); }

    // Raises one of this widget's events through the bound routine.
    EventResult raiseEvent(int event, const std::vector<EventArg>& args = {});

    // Gives this widget the keyboard focus.
    void setFocus();

    // The framework's steps: build the live widget under `parent`; forget it ("widget destroyed").
    void create(QWidget* parent);
    void destroyLive();

    std::intptr_t receiveMessage(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) override;

protected:
    // Builds the type's Qt widget from the stored values (geometry is applied afterwards).
    virtual QWidget* createLive(QWidget* parent) = 0;
    // Type properties (8 and up); called only while the live widget exists.
    virtual Value typeProperty(int number);
    virtual bool setTypeProperty(int number, const Value& value);
    // The type's font property number, or -1; part selectors address its attributes.
    virtual int fontPropertyNumber() const { return -1; }
    // False for widgets whose window always stays hidden (timer, system volume, drop target).
    virtual bool showsLive() const { return true; }
    // Called before the live widget goes away (timers stop here).
    virtual void liveDestroying() {}
    // Qt widgets whose input counts as this widget's input (default: the live widget).
    virtual std::vector<QWidget*> inputWidgets() const;
    // Geometry in the coordinates of the Qt parent (the window overrides for its frame).
    virtual void applyGeometry();
    virtual std::int32_t liveGeometry(int number) const;

    bool eventFilter(QObject* watched, QEvent* event) override;
    // Installs the input filter on more Qt widgets created later (e.g. a viewport).
    void watchInput(QWidget* w);

    // Reports the fatal "live window missing" error; returns false for the caller's convenience.
    bool liveWindowMissing() const;

    std::int32_t storedLeft_ = 0, storedTop_ = 0, storedWidth_ = 0, storedHeight_ = 0;
    bool storedVisible_ = true, storedDisabled_ = false;

private:
    bool filterInput(QWidget* watched, QEvent* event);
    void applyPointer();

    Form& form_;
    std::uint32_t id_;
    std::string name_;
    layout::Kind kind_;
    std::uint32_t parentId_;
    std::uint32_t tabOrder_;
    bool focusStop_;
    std::string tag_;
    layout::MousePointer pointer_;
    QPointer<QWidget> live_;
    WindowHandle handle_ = 0;
    bool replaying_ = false;  // a replaced character is being handed on
};

}  // namespace vesperon::ui
