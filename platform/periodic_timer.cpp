#include "platform/periodic_timer.h"

#include <condition_variable>
#include <system_error>

// What the thread needs lives here, owned jointly with the thread, so that a
// timer destroyed from inside its own tick leaves the thread nothing dangling.
struct PeriodicTimer::State {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;  // guarded by mutex
    std::chrono::milliseconds period{1};
    std::function<void()> tick;
};

PeriodicTimer::~PeriodicTimer() {
    Stop();
}

std::chrono::steady_clock::time_point PeriodicTimer::NextDue(
    std::chrono::steady_clock::time_point due, std::chrono::steady_clock::time_point now,
    std::chrono::milliseconds period) {
    const auto next = due + period;
    return now - next > std::chrono::milliseconds(kMaxLagMs) ? now + period : next;
}

bool PeriodicTimer::Start(unsigned periodMs, std::function<void()> tick) {
    if (periodMs == 0 || !tick) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state) {
        return false;
    }
    auto state = std::make_shared<State>();
    state->period = std::chrono::milliseconds(periodMs);
    state->tick = std::move(tick);
    try {
        m_thread = std::thread(&PeriodicTimer::Run, state);
    } catch (const std::system_error&) {
        return false;
    }
    m_state = std::move(state);
    return true;
}

void PeriodicTimer::Stop() {
    std::shared_ptr<State> state;
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        state = std::move(m_state);
        thread = std::move(m_thread);
    }
    if (!state) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->stop = true;
    }
    state->wake.notify_all();
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();  // called from the tick: the thread ends when it returns
    } else if (thread.joinable()) {
        thread.join();
    }
}

bool PeriodicTimer::Running() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state != nullptr;
}

void PeriodicTimer::Run(std::shared_ptr<State> state) {
    auto due = std::chrono::steady_clock::now() + state->period;
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        if (state->wake.wait_until(lock, due, [&] { return state->stop; })) {
            return;
        }
        lock.unlock();
        state->tick();
        lock.lock();
        due = NextDue(due, std::chrono::steady_clock::now(), state->period);
    }
}
