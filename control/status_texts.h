#pragma once
// The fixed texts of the status list: mode names, playback speed lines, the
// reception statistics line and the version text. Plain functions; the view
// translates and writes what they return.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace status_texts {

using LookupFn = std::function<std::u16string(std::u16string_view word)>;

// Name of the recorder's screen mode code ("LIVE MODE", ..., "NONE MODE").
std::u16string_view ModeName(int code);

// The playback line for a speed byte (bits 0-3 speed index, bit 4 paused,
// bit 5 backward), or nothing when bits 0-5 equal those of *lastSpeedByte.
// Updates *lastSpeedByte when a line is returned. Words go through lookup; the
// returned line is itself a key for the translating writer.
std::optional<std::u16string> SpeedLine(std::uint8_t speedByte, std::uint8_t* lastSpeedByte,
                                        const LookupFn& lookup);

// Reception statistics, counted once per received video frame.
struct FrameStats {
    std::uint32_t statSecond = 0;  // 0 = not started
    std::uint32_t statFrames = 0;
    std::uint32_t bytesReceived = 0;
};
// One statistics step at link-timer tick `tickCount`. Returns the line to
// write when a second has passed since the last one.
std::optional<std::string> CountFrame(FrameStats* stats, std::uint32_t tickCount);

// The version text, at most maxUnits - 1 UTF-16 units: "Ver a. b. c. d" from
// the file version words, or "Ver Unknown " when there is none. A version too
// long for the field is cut, never overflowing it.
std::u16string VersionText(std::optional<std::pair<std::uint32_t, std::uint32_t>> fileVersion,
                           std::size_t maxUnits);

}  // namespace status_texts
