#pragma once
// The link timer: a thread of its own that calls a function every periodMs
// (typically 1 ms).
//
// Ticks are scheduled on the steady clock, each one period after the one
// before, so short delays are caught up. A timer that has fallen more than
// kMaxLagMs behind starts counting afresh from now instead of firing the
// missed ticks in a burst.
//
// Start, Stop and Running may be called from any thread. Stop from any other
// thread returns after the timer thread has ended (no tick runs any more);
// Stop from inside the tick returns at once, and the thread ends when the tick
// returns. The tick must not throw. The destructor stops; it may run inside
// the tick too.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class PeriodicTimer {
public:
    static constexpr int kMaxLagMs = 100;

    PeriodicTimer() = default;
    ~PeriodicTimer();
    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;

    // Returns false when already running, when periodMs is 0 or tick is
    // empty, or when no thread can be started.
    bool Start(unsigned periodMs, std::function<void()> tick);
    // Safe to call when stopped and more than once.
    void Stop();
    bool Running() const;

    // The time of the tick after the one due at `due`, when the clock reads
    // `now`: due + period, or now + period when that is more than kMaxLagMs
    // in the past.
    static std::chrono::steady_clock::time_point NextDue(std::chrono::steady_clock::time_point due,
                                                         std::chrono::steady_clock::time_point now,
                                                         std::chrono::milliseconds period);

private:
    struct State;
    static void Run(std::shared_ptr<State> state);

    mutable std::mutex m_mutex;      // guards the two fields below
    std::shared_ptr<State> m_state;  // null when stopped; shared with the thread
    std::thread m_thread;
};
