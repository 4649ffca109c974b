#pragma once
// The remote keys the simulated recorder answers (PT_REMOTE_KEY: int32 2, byte
// 4 group, byte 5 code) and what each does to the screen it streams. The table
// is the one place that maps keys to behaviour; docs/recorder.md shows it.
//
// Plain logic without locks or clocks of its own: the recorder calls ApplyKey
// under its lock with the time passed in, so the rules are tested directly.

#include <cstddef>
#include <cstdint>
#include <span>

#include "recorder/recorder_packets.h"

namespace recorder {

enum class KeyAction : std::uint8_t {
    FullScreen,     // layout 1 from channel code - 1; in PTZ mode selects the PTZ channel
    Split4,         // layout 4 from channel 0
    Split9,         // layout 9 from channel 0
    Split16,        // layout 16 from channel 0
    Sequence,       // mode 3
    Pip,            // mode 4: main = current first channel, inset = the next
    Zoom,           // mode 5
    Freeze,         // mode 6
    Live,           // mode 0, layout kept
    StatusOn,       // bit 0x100 on every channel status word
    StatusOffStop,  // bit 0x100 cleared; in PLAY mode also back to live
    Playback,       // mode 1, playback state 0x05, position an hour back
    PtzMode,        // mode 8, PTZ channel = current first channel
    PlayBackward,   // toggle 0x20
    PlayPause,      // toggle 0x10
    PlaySlower,     // speed index - 1, min 0
    PlayFaster,     // speed index + 1, max 10
    StepBack,       // pause set, position - 1 s
    StepForward,    // pause set, position + 1 s
    PlayNormal,     // 0x05: forward, normal speed, running
    FastBackward,   // 0x2A: backward, fastest, running
    FastForward,    // 0x0A: forward, fastest, running
};

struct KeyRow {
    std::uint8_t group = 0;
    std::uint8_t firstCode = 0;  // codes firstCode..lastCode
    std::uint8_t lastCode = 0;
    KeyAction action = KeyAction::Live;
};

// Every row, in the order docs/recorder.md lists them.
std::span<const KeyRow> KeyTable();
// The row for a key, or null for a key the recorder does not know.
const KeyRow* FindKey(std::uint8_t group, std::uint8_t code);

// Screen modes of header byte 8 the keys use.
constexpr std::uint8_t kModeLive = 0;
constexpr std::uint8_t kModePlay = 1;
constexpr std::uint8_t kModeSequence = 3;
constexpr std::uint8_t kModePip = 4;
constexpr std::uint8_t kModeZoom = 5;
constexpr std::uint8_t kModeFreeze = 6;
constexpr std::uint8_t kModePtz = 8;

// Playback state (header byte 11 in PLAY mode): low four bits the speed index
// 0..10 (5 normal), 0x10 paused, 0x20 backward.
constexpr std::uint8_t kPlaySpeedMask = 0x0F;
constexpr std::uint8_t kPlayPaused = 0x10;
constexpr std::uint8_t kPlayBackward = 0x20;
constexpr std::uint8_t kPlaySpeedNormal = 5;
constexpr std::uint8_t kPlaySpeedMax = 10;
constexpr std::uint32_t kStatusShownBit = 0x100;
// Playback starts this far behind the recorder's clock.
constexpr std::int64_t kPlaybackLagSeconds = 3600;

// Where playback stands: the position (seconds since 1970, the recorder's
// clock) at a moment of the steady clock, and how fast it runs from there.
struct PlaybackClock {
    bool active = false;
    double anchorPosition = 0;  // s, recorder clock
    double anchorAt = 0;        // s, steady clock
};

// Playback rate for a state byte: 2^(speed - 5), negative backward, 0 paused.
double PlaybackRate(std::uint8_t state);
// The playback position at steady time `now`, whole seconds.
std::int64_t PlaybackPosition(const PlaybackClock& clock, std::uint8_t state, double now);
// Starts the clock at recorderNow - kPlaybackLagSeconds.
void StartPlayback(PlaybackClock* clock, std::int64_t recorderNow, double now);

struct KeyContext {
    int channels = 16;             // channel count of the recorder
    std::int64_t recorderNow = 0;  // the recorder's clock, seconds since 1970
    double steadyNow = 0;          // the steady clock, seconds
};

// Applies one key of the table (code: the key's code byte) to the screen
// state and the playback clock.
void ApplyKey(const KeyRow& row, std::uint8_t code, const KeyContext& context, ScreenState* screen,
              PlaybackClock* playback);

}  // namespace recorder
