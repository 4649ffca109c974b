// The display pacing on scripted sequences.

#include <gtest/gtest.h>

#include "media/pacing.h"

namespace {
struct Step {
    const char* what;
    PacingState before;
    PacingInput in;  // elapsed, frame interval, stream interval, rate, queued frames, pictures
    std::uint32_t sleepMs;
    PacingState after;
};
}  // namespace

TEST(Pacing, Rules) {
    // 30 frames per second: interval 33 ms, a third of a second is 10 frames.
    const Step steps[] = {
        {"ahead, short ring: sleep the lead less the pictures waiting", {0, 0},
         {5, 33, 33, 30, 1, 1}, 27, {0, 0}},
        {"ahead with 10 queued: a negative lag counts as late", {0, 0},
         {5, 33, 33, 30, 10, 0}, 0, {0, 3}},
        {"behind by less than an interval: lag kept", {0, 0},
         {50, 33, 33, 30, 2, 0}, 0, {17, 0}},
        {"behind by an interval: skip one, keep the rest", {17, 0},
         {50, 33, 33, 30, 2, 0}, 0, {1, 1}},
        {"backlog of two thirds of a second: skip 1 + 2*2, lag forgotten", {0, 0},
         {70, 33, 33, 30, 25, 0}, 0, {0, 5}},
        {"nothing drawn counts as 0 ms", {0, 0},
         {0, 33, 33, 30, 0, 0}, 33, {0, 0}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        PacingState state = s.before;
        EXPECT_EQ(Pace(&state, s.in), s.sleepMs);
        EXPECT_EQ(state.lagMs, s.after.lagMs);
        EXPECT_EQ(state.skipCount, s.after.skipCount);
    }
}

TEST(Pacing, AheadWithABacklogBelowAThirdButTenOrMoreKeepsTheLag) {
    // 60 fps: a third is 20 frames; 12 queued is >= 10 but < 20.
    PacingState state;
    EXPECT_EQ(Pace(&state, {5, 16, 16, 60, 12, 0}), 0u);
    EXPECT_EQ(state.lagMs, -11);
    EXPECT_EQ(state.skipCount, 0u);
}

TEST(Pacing, SleepIsBoundedByTheStreamIntervalAndNeverNegative) {
    PacingState state{-500, 0};
    EXPECT_EQ(Pace(&state, {0, 33, 40, 30, 0, 0}), 40u);
    EXPECT_EQ(state.lagMs, 0);
    PacingState full{-2, 0};
    EXPECT_EQ(Pace(&full, {0, 0, 33, 30, 0, 3}), 0u);  // 2 ms ahead, 3 pictures waiting
}

TEST(Pacing, LowFrameRatesNeverDivideByZero) {
    for (std::uint32_t rate : {0u, 1u, 2u, 3u}) {
        PacingState state;
        Pace(&state, {900, 500, 500, rate, 40, 0});
        EXPECT_GE(state.skipCount, 1u) << rate;
    }
}
