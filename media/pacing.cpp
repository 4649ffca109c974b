#include "media/pacing.h"

#include <algorithm>

std::uint32_t Pace(PacingState* state, const PacingInput& in) {
    constexpr std::uint32_t kBacklog = 10;
    state->lagMs += static_cast<std::int32_t>(in.elapsedMs) -
                    static_cast<std::int32_t>(in.frameIntervalMs);
    const std::uint32_t third = std::max<std::uint32_t>(in.frameRate, 3) / 3;
    const std::uint32_t queued = in.queuedFrames;

    if (state->lagMs < 0 && queued < third) {
        if (queued >= kBacklog) {
            return 0;
        }
        const std::int64_t ahead = std::min<std::int64_t>(-static_cast<std::int64_t>(state->lagMs),
                                                          in.streamIntervalMs);
        const std::int64_t sleepMs = std::max<std::int64_t>(ahead - in.queuedPictures, 0);
        state->lagMs = 0;
        return static_cast<std::uint32_t>(sleepMs);
    }
    // Compared unsigned, so a negative lag always counts as late.
    if (static_cast<std::uint32_t>(state->lagMs) >= in.frameIntervalMs) {
        state->lagMs -= static_cast<std::int32_t>(in.frameIntervalMs);
        state->skipCount = 1;
    }
    if (queued >= kBacklog) {
        state->skipCount += 2 * (queued / third);
        state->lagMs = 0;
    }
    return 0;
}
