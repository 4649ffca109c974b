#pragma once
// Posting and sending window messages by handle, from any thread.
//
// Every message target (a Window or a MessageWindow, see window.h) has a handle
// that stays unique for the life of the process. A message to a handle whose
// target is gone is dropped; nothing is ever delivered to a destroyed object.

#include <cstdint>

#include "platform/wintypes.h"

// A message that lends buffers to its receiver carries a ticket. The poster
// learns through it when the buffers may be taken back.
class MessageTicket {
public:
    // Asked on the receiver's thread right before the message is handled.
    // false drops the message (for example: it belongs to a connection that
    // has ended since it was posted).
    virtual bool Deliverable() const { return true; }
    // Called exactly once: after the message was handled, or when it is dropped
    // (target gone, not deliverable, or PostMessage failed). May run on any
    // thread; the ticket must not be used afterwards.
    virtual void Finished() = 0;

protected:
    ~MessageTicket() = default;
};

// Queues the message for the target's thread. Returns false when no target has
// that handle; the ticket, if any, is then finished before the call returns.
// Steady-state posting allocates nothing.
bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                 MessageTicket* ticket = nullptr);

// Calls the target's window procedure and returns its result. On the target's
// own thread the call is direct; from another thread the message is queued and
// the caller blocks until it has been handled. Returns 0 when the target does
// not exist or is destroyed before handling the message.
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Handles the messages that other threads have sent to targets of the calling
// thread and are waiting on. The event loop does this by itself; a thread that
// blocks for a while in some other wait calls it so that senders go on.
void DispatchSentMessages();

// True while a target with this handle exists.
bool IsWindow(HWND hwnd);
