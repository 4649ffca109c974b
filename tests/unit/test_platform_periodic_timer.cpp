// The periodic timer thread: ticks, stopping from outside and inside, and the
// catch-up rule.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/events.h"
#include "platform/periodic_timer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr int kLongMs = 5000;

TEST(PeriodicTimer, TicksUntilStopped) {
    PeriodicTimer timer;
    std::atomic<int> ticks{0};
    AutoResetEvent reached;
    ASSERT_TRUE(timer.Start(1, [&] {
        if (++ticks == 20)
            reached.Set();
    }));
    EXPECT_TRUE(timer.Running());
    ASSERT_TRUE(reached.Wait(kLongMs));
    timer.Stop();
    EXPECT_FALSE(timer.Running());
    const int atStop = ticks.load();
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(ticks.load(), atStop);  // Stop joined: no tick after it
    timer.Stop();                     // twice is harmless
}

TEST(PeriodicTimer, RefusesBadStarts) {
    PeriodicTimer timer;
    EXPECT_FALSE(timer.Start(0, [] {}));
    EXPECT_FALSE(timer.Start(1, nullptr));
    EXPECT_FALSE(timer.Running());
    timer.Stop();  // never started
    ASSERT_TRUE(timer.Start(1, [] {}));
    EXPECT_FALSE(timer.Start(1, [] {}));  // already running
}

TEST(PeriodicTimer, RestartsAfterStop) {
    PeriodicTimer timer;
    AutoResetEvent ticked;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(timer.Start(1, [&] { ticked.Set(); }));
        EXPECT_TRUE(ticked.Wait(kLongMs));
        timer.Stop();
        ticked.Reset();
    }
}

TEST(PeriodicTimer, StopFromInsideTheTick) {
    PeriodicTimer timer;
    std::atomic<int> ticks{0};
    AutoResetEvent stopped;
    ASSERT_TRUE(timer.Start(1, [&] {
        if (++ticks == 3) {
            timer.Stop();  // must not try to join its own thread
            stopped.Set();
        }
    }));
    ASSERT_TRUE(stopped.Wait(kLongMs));
    EXPECT_FALSE(timer.Running());
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(ticks.load(), 3);
}

TEST(PeriodicTimer, DestroyedFromInsideTheTick) {
    auto timer = std::make_unique<PeriodicTimer>();
    AutoResetEvent destroyed;
    ASSERT_TRUE(timer->Start(1, [&] {
        if (timer) {
            timer.reset();
            destroyed.Set();
        }
    }));
    ASSERT_TRUE(destroyed.Wait(kLongMs));
    std::this_thread::sleep_for(5ms);  // let the detached thread finish its last tick
}

TEST(PeriodicTimer, DestructorStops) {
    std::atomic<int> ticks{0};
    AutoResetEvent ticked;
    {
        PeriodicTimer timer;
        ASSERT_TRUE(timer.Start(1, [&] {
            ++ticks;
            ticked.Set();
        }));
        ASSERT_TRUE(ticked.Wait(kLongMs));
    }
    const int atEnd = ticks.load();
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(ticks.load(), atEnd);
}

TEST(PeriodicTimer, NextDueCatchesUpSmallDelaysAndResynchronisesLargeOnes) {
    const Clock::time_point t0{};
    const struct {
        const char* name;
        Clock::duration nowAfterDue;
        Clock::time_point expected;
    } cases[] = {
        {"on time", 0ms, t0 + 1ms},
        {"early wake-up", -1ms, t0 + 1ms},
        {"50 ms late: keeps the schedule (catch-up)", 50ms, t0 + 1ms},
        {"exactly 100 ms behind the next tick", 101ms, t0 + 1ms},
        {"more than 100 ms behind: counts from now", 102ms, t0 + 103ms},
        {"far behind", 10s, t0 + 10s + 1ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PeriodicTimer::NextDue(t0, t0 + c.nowAfterDue, 1ms), c.expected);
    }
    EXPECT_EQ(PeriodicTimer::NextDue(t0, t0 + 140ms, 40ms), t0 + 40ms);
    EXPECT_EQ(PeriodicTimer::NextDue(t0, t0 + 141ms, 40ms), t0 + 181ms);
}

}  // namespace
