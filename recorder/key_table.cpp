#include "recorder/key_table.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace recorder {

namespace {

constexpr std::array kRows = {
    KeyRow{3, 1, 16, KeyAction::FullScreen},
    KeyRow{9, 2, 2, KeyAction::Split4},
    KeyRow{9, 3, 3, KeyAction::Split9},
    KeyRow{9, 4, 4, KeyAction::Split16},
    KeyRow{1, 1, 1, KeyAction::Sequence},
    KeyRow{1, 5, 5, KeyAction::Pip},
    KeyRow{1, 3, 3, KeyAction::Zoom},
    KeyRow{1, 6, 6, KeyAction::Freeze},
    KeyRow{0, 51, 51, KeyAction::Live},
    KeyRow{1, 10, 10, KeyAction::StatusOn},
    KeyRow{1, 18, 18, KeyAction::StatusOffStop},
    KeyRow{1, 9, 9, KeyAction::Playback},
    KeyRow{1, 2, 2, KeyAction::PtzMode},
    KeyRow{2, 3, 3, KeyAction::PlayBackward},
    KeyRow{2, 2, 2, KeyAction::PlayPause},
    KeyRow{2, 5, 5, KeyAction::PlaySlower},
    KeyRow{2, 8, 8, KeyAction::PlayFaster},
    KeyRow{2, 4, 4, KeyAction::StepBack},
    KeyRow{2, 6, 6, KeyAction::StepForward},
    KeyRow{2, 7, 7, KeyAction::PlayNormal},
    KeyRow{2, 9, 9, KeyAction::FastBackward},
    KeyRow{2, 10, 10, KeyAction::FastForward},
};

// Keys that change the split leave the special screens (picture-in-picture,
// sequence, zoom, freeze) for live, but keep playback and PTZ running.
void SetSplit(ScreenState* s, std::uint8_t layout, std::uint8_t first) {
    if (s->screenMode != kModePlay && s->screenMode != kModePtz) {
        s->screenMode = kModeLive;
        s->layoutExtra = 0;
    }
    s->layout = layout;
    s->layoutParam = first;
}

void SetMode(ScreenState* s, std::uint8_t mode) {
    if (s->screenMode == kModePip && mode != kModePip) {
        s->layoutExtra = 0;  // the inset channel means nothing outside picture-in-picture
    }
    s->screenMode = mode;
}

// Playback keys change the state byte only while playing. The position is
// re-anchored first so that what has been played so far is kept.
void ChangePlayback(const KeyContext& ctx, ScreenState* s, PlaybackClock* p, std::uint8_t newState,
                    double stepSeconds) {
    if (s->screenMode != kModePlay) {
        return;
    }
    if (!p->active) {
        StartPlayback(p, ctx.recorderNow, ctx.steadyNow);
    }
    p->anchorPosition += PlaybackRate(s->layoutExtra) * (ctx.steadyNow - p->anchorAt) + stepSeconds;
    p->anchorAt = ctx.steadyNow;
    s->layoutExtra = newState;
}

}  // namespace

std::span<const KeyRow> KeyTable() {
    return kRows;
}

const KeyRow* FindKey(std::uint8_t group, std::uint8_t code) {
    for (const KeyRow& row : kRows) {
        if (row.group == group && code >= row.firstCode && code <= row.lastCode) {
            return &row;
        }
    }
    return nullptr;
}

double PlaybackRate(std::uint8_t state) {
    if (state & kPlayPaused) {
        return 0;
    }
    const int speed = std::min<int>(state & kPlaySpeedMask, kPlaySpeedMax);
    const double rate = std::ldexp(1.0, speed - kPlaySpeedNormal);
    return (state & kPlayBackward) ? -rate : rate;
}

std::int64_t PlaybackPosition(const PlaybackClock& clock, std::uint8_t state, double now) {
    // Played backward long enough, playback stops at the start of the clock.
    const double position = clock.anchorPosition + PlaybackRate(state) * (now - clock.anchorAt);
    return static_cast<std::int64_t>(std::floor(std::max(position, 0.0)));
}

void StartPlayback(PlaybackClock* clock, std::int64_t recorderNow, double now) {
    clock->active = true;
    clock->anchorPosition = static_cast<double>(recorderNow - kPlaybackLagSeconds);
    clock->anchorAt = now;
}

void ApplyKey(const KeyRow& row, std::uint8_t code, const KeyContext& ctx, ScreenState* s,
              PlaybackClock* p) {
    const std::uint8_t state = s->layoutExtra;
    const std::uint8_t speed = state & kPlaySpeedMask;
    const std::uint8_t flags = state & ~kPlaySpeedMask;
    const int channels = ctx.channels > 0 ? ctx.channels : ScreenState::kStatusWords;
    switch (row.action) {
        case KeyAction::FullScreen:
            SetSplit(s, 1, static_cast<std::uint8_t>(code - 1));
            break;
        case KeyAction::Split4:
            SetSplit(s, 4, 0);
            break;
        case KeyAction::Split9:
            SetSplit(s, 9, 0);
            break;
        case KeyAction::Split16:
            SetSplit(s, 16, 0);
            break;
        case KeyAction::Sequence:
            SetMode(s, kModeSequence);
            break;
        case KeyAction::Pip:
            if (s->screenMode != kModePip) {
                const std::uint8_t main = s->layoutParam;
                s->screenMode = kModePip;
                s->layoutExtra = static_cast<std::uint8_t>((main + 1) % channels);
            }
            break;
        case KeyAction::Zoom:
            SetMode(s, kModeZoom);
            break;
        case KeyAction::Freeze:
            SetMode(s, kModeFreeze);
            break;
        case KeyAction::Live:
            SetMode(s, kModeLive);
            s->layoutExtra = 0;
            break;
        case KeyAction::StatusOn:
        case KeyAction::StatusOffStop:
            for (auto& word : s->channelStatus) {
                word = row.action == KeyAction::StatusOn ? (word | kStatusShownBit)
                                                         : (word & ~kStatusShownBit);
            }
            if (row.action == KeyAction::StatusOffStop && s->screenMode == kModePlay) {
                s->screenMode = kModeLive;
                s->layoutExtra = 0;
                p->active = false;
            }
            break;
        case KeyAction::Playback:
            SetMode(s, kModePlay);
            s->layoutExtra = kPlaySpeedNormal;
            StartPlayback(p, ctx.recorderNow, ctx.steadyNow);
            break;
        case KeyAction::PtzMode:
            SetMode(s, kModePtz);
            break;
        case KeyAction::PlayBackward:
            ChangePlayback(ctx, s, p, state ^ kPlayBackward, 0);
            break;
        case KeyAction::PlayPause:
            ChangePlayback(ctx, s, p, state ^ kPlayPaused, 0);
            break;
        case KeyAction::PlaySlower:
            ChangePlayback(ctx, s, p, flags | (speed > 0 ? speed - 1 : 0), 0);
            break;
        case KeyAction::PlayFaster:
            ChangePlayback(ctx, s, p, flags | std::min<std::uint8_t>(speed + 1, kPlaySpeedMax), 0);
            break;
        case KeyAction::StepBack:
            ChangePlayback(ctx, s, p, state | kPlayPaused, -1);
            break;
        case KeyAction::StepForward:
            ChangePlayback(ctx, s, p, state | kPlayPaused, 1);
            break;
        case KeyAction::PlayNormal:
            ChangePlayback(ctx, s, p, kPlaySpeedNormal, 0);
            break;
        case KeyAction::FastBackward:
            ChangePlayback(ctx, s, p, kPlayBackward | kPlaySpeedMax, 0);
            break;
        case KeyAction::FastForward:
            ChangePlayback(ctx, s, p, kPlaySpeedMax, 0);
            break;
    }
}

}  // namespace recorder
