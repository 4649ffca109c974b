#pragma once
// The recorder's one picture for its whole screen, as the encoder takes it:
// 24-bit BGR, rows top-down, width * 3 bytes apart.
//
// Each visible channel gets a test picture of its own in its cell of the
// current layout (media/screen_layout.h decides the cells): a vertical ramp of
// the channel's colour, the channel number (1-based, two digits) in large
// figures in the upper part, a box in the inverse colour that slides to and
// fro across the lower middle with the frame number, a one-pixel dark frame
// round the cell, and an optional overlay line of text along the cell's
// bottom. The recorder's clock "YYYY-MM-DD HH:MM:SS" is burnt in at the
// picture's top left, over everything. Cells without a channel stay black.
//
// A cell's content depends only on the cell's size, its channel, the frame
// number and its overlay line, never on where the cell sits; so a channel
// drawn alone into a picture of a cell's size matches that cell pixel for
// pixel (the clock corner aside).
//
// Not thread-safe; one composer belongs to one thread. Compose writes into a
// buffer allocated once, at construction.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "recorder/recorder_packets.h"

namespace recorder {

class PictureComposer {
public:
    static constexpr int kOverlayChannels = 16;

    // width and height are clamped to at least 1. channelCount is the
    // recorder's channel count; cells of channels at or above it stay black.
    PictureComposer(int width, int height, int channelCount);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    const std::uint8_t* Pixels() const { return m_pixels.data(); }
    std::size_t SizeBytes() const { return m_pixels.size(); }

    // A line of text drawn along the bottom of the channel's cell from the next
    // Compose on; empty removes it. Channels 0..15; others are ignored. Letters
    // are drawn in capitals; characters the font lacks show as "?".
    void SetOverlayLine(int channel, const std::string& text);

    // The screen in `screen` (mode 4: picture-in-picture with layoutParam as
    // the main channel and layoutExtra as the inset; otherwise a split of
    // `layout` cells from channel layoutParam), with the moving parts placed
    // for frameNumber and `clock` burnt in.
    void Compose(const ScreenState& screen, const DateTime& clock, std::uint64_t frameNumber);

    // Blocks of 4 x 4 pixels in random colours, different for every seed: a
    // picture that compresses badly (some 10 KB a frame at 320x240, 40 KB at
    // 720x480), for bursts of large frames.
    void ComposeNoise(std::uint32_t seed);

    // The base colour of a channel's picture, {blue, green, red}; the sixteen
    // channels have sixteen clearly different colours, repeating after that.
    static std::array<std::uint8_t, 3> ChannelColour(int channel);

private:
    struct Rect {
        int x = 0, y = 0, width = 0, height = 0;
    };

    void FillRect(Rect r, const std::array<std::uint8_t, 3>& bgr, const Rect& clip);
    void DrawText(int x, int y, int scale, const std::string& text,
                  const std::array<std::uint8_t, 3>& bgr, const Rect& clip);
    void DrawChannel(const Rect& cell, int channel, std::uint64_t frameNumber);
    void DrawClock(const DateTime& clock);

    int m_width;
    int m_height;
    int m_channelCount;
    std::vector<std::uint8_t> m_pixels;
    std::array<std::string, kOverlayChannels> m_overlay;
};

}  // namespace recorder
