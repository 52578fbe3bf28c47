#pragma once
// Process-wide window handles. Every live widget (and anything else that wants to receive
// numbered messages, such as the hot-key feedback window) gets an integer handle. Other threads
// reach the user-interface thread only by posting a message to a handle; the message is
// delivered on the UI thread, and dropped if the handle has died in the meantime. Handles are
// never reused, so a stale handle can never reach a newer widget.

#include <cstdint>
#include <functional>
#include <optional>

#include "engine/port/message_port.h"

class QWidget;

namespace vesperon::ui {

using WindowHandle = std::intptr_t;
// The engine's notice to the window (progress, end of track, forwarded hot keys); one number for both.
using engine::kPlayerNotifyMessage;

// What a handle delivers its messages to. Runs on the UI thread.
class MessageReceiver {
public:
    virtual ~MessageReceiver() = default;
    virtual std::intptr_t receiveMessage(std::uint32_t message, std::intptr_t wParam,
                                         std::intptr_t lParam) = 0;
};

// A filter that sees a handle's messages before its receiver: a value it returns is the
// message's result and the receiver is not called (the hot keys use this).
using MessageFilter = std::function<std::optional<std::intptr_t>(std::uint32_t message, std::intptr_t wParam,
                                                                 std::intptr_t lParam)>;

// UI thread. `widget` may be null for a receiver without a window of its own.
WindowHandle registerHandle(MessageReceiver* receiver, QWidget* widget = nullptr);
// UI thread. Pending posted messages to the handle are dropped from now on.
void unregisterHandle(WindowHandle handle);

// UI thread: the widget / receiver of a live handle, or null.
QWidget* widgetOfHandle(WindowHandle handle);
MessageReceiver* receiverOfHandle(WindowHandle handle);
// The handle of a widget that has one, or 0.
WindowHandle handleOfWidget(const QWidget* widget);

// Adds / removes a filter in front of the handle's receiver (UI thread). Filters added later run
// first. Returns an identifier for removal, 0 when the handle is not live.
int addMessageFilter(WindowHandle handle, MessageFilter filter);
void removeMessageFilter(WindowHandle handle, int filterId);

// Any thread. True when the handle names a live receiver.
bool isWindow(WindowHandle handle);
// Any thread. Queues the message for the UI thread; false when the handle is not live now.
bool postMessage(WindowHandle handle, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam);
// On the UI thread calls the receiver straight away; from another thread waits until the UI
// thread has handled it. 0 when the handle is not live.
std::intptr_t sendMessage(WindowHandle handle, std::uint32_t message, std::intptr_t wParam,
                          std::intptr_t lParam);

}  // namespace vesperon::ui
