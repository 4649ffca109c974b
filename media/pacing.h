#pragma once
// The display worker's pacing: it compares the time spent showing a picture
// with the stream's frame interval. Ahead with a short backlog, it sleeps;
// behind, or with a backlog of 10 frames or more, it skips drawing coming
// pictures in proportion to the backlog counted in thirds of a second.

#include <cstdint>

struct PacingState {
    std::int32_t lagMs = 0;        // accumulated display-time error
    std::uint32_t skipCount = 0;   // coming pictures to take without drawing
};

struct PacingInput {
    std::uint32_t elapsedMs;        // time spent on this picture (0 when not drawn)
    std::uint32_t frameIntervalMs;  // of the picture
    std::uint32_t streamIntervalMs; // of the stream (the last video header): bounds a sleep
    std::uint32_t frameRate;        // frames per second of the stream
    std::uint32_t queuedFrames;     // records waiting in the video ring
    std::uint32_t queuedPictures;   // decoded pictures waiting
};

// One pacing step after a picture; returns the milliseconds to sleep.
// A frame rate below 3 counts as 3, so the backlog measure never divides by 0.
std::uint32_t Pace(PacingState* state, const PacingInput& in);
