#include "desktop/drop_sink.h"

#include <QAbstractScrollArea>
#include <QDropEvent>
#include <QMimeData>

#include "desktop/drop_data.h"

namespace vesperon::desktop {

DropSink::DropSink(QObject* parent) : QObject(parent) {}

DropSink::~DropSink() {
    detach();
}

bool DropSink::attach(QWidget* window) {
    if (!window) return false;
    detach();
    window_ = window;
    window->setAcceptDrops(true);
    window->installEventFilter(this);
    if (auto* area = qobject_cast<QAbstractScrollArea*>(window)) {
        viewport_ = area->viewport();
        viewport_->setAcceptDrops(true);
        viewport_->installEventFilter(this);
    }
    return true;
}

void DropSink::detach() {
    for (QWidget* w : {window_.data(), viewport_.data()}) {
        if (!w) continue;
        w->removeEventFilter(this);
        w->setAcceptDrops(false);
    }
    window_ = nullptr;
    viewport_ = nullptr;
}

void DropSink::dragEnter(const QMimeData& data, std::uint32_t keyState, std::uint32_t& effect) {
    // First format found wins; with no switch on the previous answer stands. Any question starts
    // from "no", so a drag that ended in a drop (no leave) does not carry its yes into the next.
    if (switches.text || switches.files || switches.url || switches.html) accepted_ = false;
    if (switches.text) accepted_ = offersText(data);
    if (!accepted_ && switches.files) accepted_ = offersFiles(data);
    if (!accepted_ && switches.url) accepted_ = offersUrl(data);
    if (!accepted_ && switches.html) accepted_ = offersHtml(data);
    decideEffect(accepted_, keyState, effect);
}

void DropSink::dragOver(std::uint32_t keyState, std::uint32_t& effect) {
    decideEffect(accepted_, keyState, effect);
}

void DropSink::dragLeave() {
    accepted_ = false;
}

void DropSink::drop(const QMimeData& data, std::uint32_t keyState, std::uint32_t& effect) {
    if (!decideEffect(accepted_, keyState, effect)) return;
    auto raise = [&](Event e, const std::string& text) {
        if (raise_) raise_(e, text);
    };
    // Plain text is skipped when the same data also carries HTML.
    if (switches.text && !offersHtml(data) && offersText(data)) raise(TextDropped, textOf(data));
    if (switches.html && offersHtml(data)) raise(HtmlDropped, htmlDropText(data.html()));
    if (switches.url && offersUrl(data)) raise(UrlDropped, urlOf(data));
    if (switches.files && offersFiles(data)) raise(FilesDropped, fileListText(filesOf(data)));
}

bool DropSink::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_ && watched != viewport_) return false;
    switch (event->type()) {
        case QEvent::DragEnter: {
            auto* e = static_cast<QDragEnterEvent*>(event);
            std::uint32_t effect = static_cast<std::uint32_t>(e->possibleActions()) & 7;
            dragEnter(*e->mimeData(), keyStateOf(e->modifiers()), effect);
            // Accepting the entry keeps the moves coming; each move then says yes or no.
            if (accepted_) {
                e->setDropAction(static_cast<Qt::DropAction>(effect));
                e->accept();
            } else {
                e->ignore();
            }
            return true;
        }
        case QEvent::DragMove: {
            auto* e = static_cast<QDragMoveEvent*>(event);
            std::uint32_t effect = static_cast<std::uint32_t>(e->possibleActions()) & 7;
            dragOver(keyStateOf(e->modifiers()), effect);
            if (effect != kEffectNone) {
                e->setDropAction(static_cast<Qt::DropAction>(effect));
                e->accept();
            } else {
                e->ignore();
            }
            return true;
        }
        case QEvent::DragLeave:
            dragLeave();
            return true;
        case QEvent::Drop: {
            auto* e = static_cast<QDropEvent*>(event);
            std::uint32_t effect = static_cast<std::uint32_t>(e->possibleActions()) & 7;
            drop(*e->mimeData(), keyStateOf(e->modifiers()), effect);
            e->setDropAction(Qt::IgnoreAction);
            e->ignore();
            return true;
        }
        default:
            return false;
    }
}

}  // namespace vesperon::desktop
