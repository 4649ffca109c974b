// Auto-reset events and waits on several of them, with real threads.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/events.h"

namespace {

constexpr int kLongMs = 5000;  // bound for waits that must succeed

TEST(AutoResetEvent, SetIsConsumedByExactlyOneWait) {
    AutoResetEvent ev;
    EXPECT_FALSE(ev.Wait(0));
    ev.Set();
    ev.Set();
    ev.Set();  // several Sets before a wait count as one
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_FALSE(ev.Wait(0));
    EXPECT_FALSE(ev.Wait(10));  // times out
}

TEST(AutoResetEvent, ResetClearsAndInitialStateIsHonoured) {
    AutoResetEvent initially(true);
    EXPECT_TRUE(initially.Wait(0));
    AutoResetEvent ev;
    ev.Set();
    ev.Reset();
    EXPECT_FALSE(ev.Wait(0));
}

TEST(AutoResetEvent, WakesAWaiterBlockedForEver) {
    AutoResetEvent ev;
    auto waiter = std::async(std::launch::async, [&] { return ev.Wait(kInfinite); });
    ev.Set();
    ASSERT_EQ(waiter.wait_for(std::chrono::milliseconds(kLongMs)), std::future_status::ready);
    EXPECT_TRUE(waiter.get());
    EXPECT_FALSE(ev.Wait(0));  // the waiter consumed it
}

TEST(AutoResetEvent, OneSetReleasesOnlyOneOfTwoWaiters) {
    AutoResetEvent ev;
    std::atomic<int> released{0};
    auto wait = [&] {
        if (ev.Wait(kLongMs))
            ++released;
    };
    std::thread a(wait), b(wait);
    ev.Set();
    for (int i = 0; i < kLongMs && released.load() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(released.load(), 1);
    EXPECT_FALSE(ev.Wait(0));  // nothing left over
    ev.Set();
    a.join();
    b.join();
    EXPECT_EQ(released.load(), 2);
}

TEST(WaitAny, ReturnsLowestSignalledAndResetsOnlyThatOne) {
    AutoResetEvent e0, e1, e2;
    AutoResetEvent* events[] = {&e0, &e1, &e2};
    e2.Set();
    e1.Set();
    EXPECT_EQ(WaitAny(events, 3, 0), 1);
    EXPECT_EQ(WaitAny(events, 3, 0), 2);
    EXPECT_EQ(WaitAny(events, 3, 0), kWaitTimeout);
    EXPECT_EQ(WaitAny(events, 3, 10), kWaitTimeout);
}

TEST(WaitAny, WakesForAnEventSetByAnotherThread) {
    AutoResetEvent e0, e1;
    AutoResetEvent* events[] = {&e0, &e1};
    auto waiter = std::async(std::launch::async, [&] { return WaitAny(events, 2, kInfinite); });
    e1.Set();
    ASSERT_EQ(waiter.wait_for(std::chrono::milliseconds(kLongMs)), std::future_status::ready);
    EXPECT_EQ(waiter.get(), 1);
    EXPECT_EQ(WaitAny(events, 2, 0), kWaitTimeout);
}

TEST(WaitAny, RejectsBadArguments) {
    AutoResetEvent e;
    AutoResetEvent* withNull[] = {&e, nullptr};
    EXPECT_EQ(WaitAny(nullptr, 1, 0), kWaitFailed);
    EXPECT_EQ(WaitAny(withNull, 0, 0), kWaitFailed);
    EXPECT_EQ(WaitAny(withNull, 2, 0), kWaitFailed);
}

// A ping-pong in which every wake-up must arrive: a lost one stalls the
// exchange and the bounded wait reports it.
TEST(WaitAny, NoWakeUpIsLostUnderLoad) {
    constexpr int kRounds = 5000;
    AutoResetEvent work, quit, ack;
    AutoResetEvent* events[] = {&quit, &work};
    std::atomic<int> handled{0};
    std::thread worker([&] {
        for (;;) {
            const int which = WaitAny(events, 2, kLongMs);
            if (which != 1)
                return;  // quit or stalled
            ++handled;
            ack.Set();
        }
    });
    int acknowledged = 0;
    for (int i = 0; i < kRounds; ++i) {
        work.Set();
        if (!ack.Wait(kLongMs))
            break;
        ++acknowledged;
    }
    quit.Set();
    worker.join();
    EXPECT_EQ(acknowledged, kRounds);
    EXPECT_EQ(handled.load(), kRounds);
}

}  // namespace
