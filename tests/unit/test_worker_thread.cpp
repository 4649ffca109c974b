// The media workers' start, stop and wake-up rules.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "media/worker_thread.h"

using namespace std::chrono_literals;

TEST(WorkerThread, LabelsFollowTheName) {
    WorkerThread w("Decompress", [] {});
    EXPECT_EQ(w.CloseLabel(), "Decompress Close Event");
    EXPECT_EQ(w.WorkLabel(), "Decompress Work Event");
}

TEST(WorkerThread, StartStopAndRestart) {
    std::atomic<int> steps{0};
    WorkerThread w("Display", [&] { steps++; });
    w.Stop();  // stopped: nothing happens
    EXPECT_FALSE(w.Running());
    ASSERT_TRUE(w.Start());
    ASSERT_TRUE(w.Start());  // restarts
    EXPECT_TRUE(w.Running());
    w.SignalWork();
    for (int i = 0; i < 500 && steps == 0; ++i) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(steps, 1);
    w.Stop();
    EXPECT_FALSE(w.Running());
    w.SignalWork();  // ignored while stopped
    std::this_thread::sleep_for(5ms);
    EXPECT_EQ(steps, 1);
}

TEST(WorkerThread, ManySignalsDuringAStepCauseOneMoreStep) {
    std::atomic<int> steps{0};
    std::atomic<bool> release{false};
    std::atomic<bool> inStep{false};
    WorkerThread w("AudioIn", [&] {
        inStep = true;
        while (!release) std::this_thread::sleep_for(1ms);
        steps++;
        inStep = false;
    });
    ASSERT_TRUE(w.Start());
    w.SignalWork();
    while (!inStep) std::this_thread::sleep_for(1ms);
    for (int i = 0; i < 50; ++i) w.SignalWork();
    release = true;
    for (int i = 0; i < 1000 && steps < 2; ++i) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(steps, 2);
    w.Stop();
}

TEST(WorkerThread, StopWaitsForARunningStepToEnd) {
    std::atomic<bool> inStep{false};
    std::atomic<bool> finished{false};
    WorkerThread w("AudioOut", [&] {
        inStep = true;
        std::this_thread::sleep_for(350ms);  // longer than the old forced-stop limit
        finished = true;
    });
    ASSERT_TRUE(w.Start());
    w.SignalWork();
    while (!inStep) std::this_thread::sleep_for(1ms);
    w.Stop();
    EXPECT_TRUE(finished);  // joined, never cut off
}
