#pragma once
// Auto-reset events: the wake-up of the media workers.
//
// An event is signalled by Set and consumed by exactly one wait. A Set with
// nobody waiting stays until a wait consumes it; several Sets before that
// wait count as one. All members are thread-safe. An event must outlive every
// wait on it. No waits spin: waiters sleep on a condition variable.

#include <condition_variable>
#include <vector>

constexpr int kWaitTimeout = -1;
constexpr int kWaitFailed = -2;  // bad arguments to WaitAny
constexpr int kInfinite = -1;    // as timeoutMs: wait for ever

class AutoResetEvent {
public:
    explicit AutoResetEvent(bool initiallySet = false);
    ~AutoResetEvent();
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    void Set();
    void Reset();
    // Returns true when the event was (or became) signalled within timeoutMs,
    // consuming it; false on time-out. A negative timeoutMs waits for ever,
    // 0 only tests.
    bool Wait(int timeoutMs);

private:
    friend int WaitAny(AutoResetEvent* const* events, int count, int timeoutMs);
    // Guarded by the one mutex all events share (events.cpp), which is what
    // lets WaitAny look at several events atomically.
    bool m_signalled;
    std::vector<std::condition_variable*> m_waiters;
};

// Waits until one of events[0 .. count) is signalled. Returns the index of the
// lowest-numbered signalled event, which alone is reset; kWaitTimeout when
// timeoutMs passed first (negative = for ever); kWaitFailed when count < 1 or
// an entry is null.
int WaitAny(AutoResetEvent* const* events, int count, int timeoutMs);
