#include "platform/events.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace {

// One lock for every event. Sets happen a few hundred times a second at most,
// so sharing it costs nothing measurable and makes WaitAny simple and exact.
std::mutex& EventsMutex() {
    static std::mutex m;
    return m;
}

}  // namespace

AutoResetEvent::AutoResetEvent(bool initiallySet) : m_signalled(initiallySet) {}

AutoResetEvent::~AutoResetEvent() = default;

void AutoResetEvent::Set() {
    std::lock_guard<std::mutex> lock(EventsMutex());
    m_signalled = true;
    // Every waiter on this event is woken: one of them may meanwhile be
    // taking another event, and must not swallow this wake-up.
    for (std::condition_variable* cv : m_waiters) {
        cv->notify_one();
    }
}

void AutoResetEvent::Reset() {
    std::lock_guard<std::mutex> lock(EventsMutex());
    m_signalled = false;
}

bool AutoResetEvent::Wait(int timeoutMs) {
    AutoResetEvent* self = this;
    return WaitAny(&self, 1, timeoutMs) == 0;
}

int WaitAny(AutoResetEvent* const* events, int count, int timeoutMs) {
    if (events == nullptr || count < 1 ||
        std::any_of(events, events + count, [](auto* e) { return !e; })) {
        return kWaitFailed;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::condition_variable cv;
    bool registered = false;
    std::unique_lock<std::mutex> lock(EventsMutex());
    const auto unregister = [&] {
        if (!registered) {
            return;
        }
        for (int i = 0; i < count; ++i) {
            auto& w = events[i]->m_waiters;
            w.erase(std::remove(w.begin(), w.end(), &cv), w.end());
        }
    };
    for (;;) {
        for (int i = 0; i < count; ++i) {
            if (events[i]->m_signalled) {
                events[i]->m_signalled = false;
                unregister();
                return i;
            }
        }
        if (timeoutMs == 0 || (timeoutMs > 0 && std::chrono::steady_clock::now() >= deadline)) {
            unregister();
            return kWaitTimeout;
        }
        if (!registered) {
            for (int i = 0; i < count; ++i) {
                events[i]->m_waiters.push_back(&cv);
            }
            registered = true;
        }
        if (timeoutMs < 0) {
            cv.wait(lock);
        } else {
            cv.wait_until(lock, deadline);
        }
    }
}
