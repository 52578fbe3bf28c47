#pragma once
// The drop target's sink: watches one registered window's drag and drop events, decides whether
// the dragged data is accepted and with which effect, and turns a drop into up to four events.
// The source is always told that the drop was not performed, so a move never deletes anything.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

class QMimeData;
class QEvent;

namespace vesperon::desktop {

class DropSink : public QObject {
    Q_OBJECT
public:
    enum Event { TextDropped = 0, HtmlDropped = 1, UrlDropped = 2, FilesDropped = 3 };
    struct Switches {
        bool text = false, html = false, url = false, files = false;
    };
    using Raise = std::function<void(int event, const std::string& text)>;

    explicit DropSink(QObject* parent = nullptr);
    ~DropSink() override;

    Switches switches;
    void setRaise(Raise r) { raise_ = std::move(r); }

    // Starts watching the window (and a scroll area's viewport, where drops really land).
    bool attach(QWidget* window);
    void detach();
    bool accepted() const { return accepted_; }

    // The sink's steps, as the window's events call them; public for the tests.
    void dragEnter(const QMimeData& data, std::uint32_t keyState, std::uint32_t& effect);
    void dragOver(std::uint32_t keyState, std::uint32_t& effect);
    void dragLeave();
    void drop(const QMimeData& data, std::uint32_t keyState, std::uint32_t& effect);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool accepted_ = false;
    Raise raise_;
    QPointer<QWidget> window_;
    QPointer<QWidget> viewport_;
};

}  // namespace vesperon::desktop
