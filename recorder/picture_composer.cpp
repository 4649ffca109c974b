#include "recorder/picture_composer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "media/screen_layout.h"

namespace recorder {

namespace {

using Bgr = std::array<std::uint8_t, 3>;

constexpr Bgr kBlack = {0, 0, 0};
constexpr Bgr kWhite = {255, 255, 255};
constexpr Bgr kYellow = {0, 255, 255};
constexpr Bgr kCellFrame = {32, 32, 32};

// Base colours {blue, green, red}, chosen far apart so that cells tell
// themselves apart at a glance and after compression.
constexpr Bgr kChannelColours[16] = {
    {40, 40, 220},  {240, 240, 30},  {30, 170, 30},   {100, 240, 170},
    {170, 30, 30},  {240, 100, 170}, {100, 100, 100}, {170, 170, 240},
    {30, 170, 170}, {30, 240, 100},  {30, 240, 240},  {100, 100, 240},
    {100, 240, 30}, {170, 30, 170},  {170, 170, 30},  {170, 240, 100},
};

// 5 x 7 glyphs; each row is five bits, the highest on the left.
struct Glyph {
    char ch;
    std::uint8_t rows[7];
};

constexpr Glyph kFont[] = {
    {' ', {0, 0, 0, 0, 0, 0, 0}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {'_', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F}},
    {'=', {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}},
};

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = 6;  // one column of space between letters

const Glyph& GlyphFor(char ch) {
    if (ch >= 'a' && ch <= 'z') {
        ch = static_cast<char>(ch - 'a' + 'A');
    }
    for (const Glyph& g : kFont) {
        if (g.ch == ch) {
            return g;
        }
    }
    return kFont[sizeof kFont / sizeof kFont[0] - 1];  // '?'
}

// n pixels of one colour from p on, by doubling copies.
void FillRow(std::uint8_t* p, int n, const Bgr& bgr) {
    if (n <= 0) {
        return;
    }
    p[0] = bgr[0];
    p[1] = bgr[1];
    p[2] = bgr[2];
    int filled = 1;
    while (filled < n) {
        const int copy = std::min(filled, n - filled);
        std::memcpy(p + 3 * filled, p, static_cast<std::size_t>(3 * copy));
        filled += copy;
    }
}

}  // namespace

PictureComposer::PictureComposer(int width, int height, int channelCount)
    : m_width(std::max(width, 1)),
      m_height(std::max(height, 1)),
      m_channelCount(std::max(channelCount, 0)),
      m_pixels(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height) * 3, 0) {}

std::array<std::uint8_t, 3> PictureComposer::ChannelColour(int channel) {
    return kChannelColours[static_cast<unsigned>(channel) % 16];
}

void PictureComposer::SetOverlayLine(int channel, const std::string& text) {
    if (channel >= 0 && channel < kOverlayChannels) {
        m_overlay[static_cast<std::size_t>(channel)] = text;
    }
}

void PictureComposer::FillRect(Rect r, const Bgr& bgr, const Rect& clip) {
    const int x0 = std::max({r.x, clip.x, 0});
    const int y0 = std::max({r.y, clip.y, 0});
    const int x1 = std::min({r.x + r.width, clip.x + clip.width, m_width});
    const int y1 = std::min({r.y + r.height, clip.y + clip.height, m_height});
    if (x0 >= x1 || y0 >= y1) {
        return;
    }
    const std::size_t stride = static_cast<std::size_t>(m_width) * 3;
    std::uint8_t* first =
        m_pixels.data() + static_cast<std::size_t>(y0) * stride + static_cast<std::size_t>(x0) * 3;
    const auto rowBytes = static_cast<std::size_t>(x1 - x0) * 3;
    FillRow(first, x1 - x0, bgr);
    for (int y = y0 + 1; y < y1; ++y) {
        std::memcpy(first + static_cast<std::size_t>(y - y0) * stride, first, rowBytes);
    }
}

void PictureComposer::DrawText(int x, int y, int scale, const std::string& text, const Bgr& bgr,
                               const Rect& clip) {
    for (char ch : text) {
        const Glyph& g = GlyphFor(ch);
        for (int row = 0; row < kGlyphHeight; ++row) {
            const unsigned bits = g.rows[row];
            int col = 0;
            while (col < kGlyphWidth) {
                if ((bits & (0x10u >> col)) == 0) {
                    ++col;
                    continue;
                }
                int end = col;
                while (end < kGlyphWidth && (bits & (0x10u >> end)) != 0) {
                    ++end;
                }
                FillRect({x + col * scale, y + row * scale, (end - col) * scale, scale}, bgr, clip);
                col = end;
            }
        }
        x += kGlyphAdvance * scale;
    }
}

void PictureComposer::DrawChannel(const Rect& cell, int channel, std::uint64_t frameNumber) {
    const int w = cell.width;
    const int h = cell.height;
    if (w <= 0 || h <= 0) {
        return;
    }
    const Bgr base = ChannelColour(channel);

    // Ramp from 3/8 of the colour at the top to all of it at the bottom.
    const std::size_t stride = static_cast<std::size_t>(m_width) * 3;
    std::uint8_t* row = m_pixels.data() + static_cast<std::size_t>(cell.y) * stride +
                        static_cast<std::size_t>(cell.x) * 3;
    for (int y = 0; y < h; ++y, row += stride) {
        const int f = 96 + 160 * y / h;
        const Bgr c = {static_cast<std::uint8_t>(base[0] * f / 256),
                       static_cast<std::uint8_t>(base[1] * f / 256),
                       static_cast<std::uint8_t>(base[2] * f / 256)};
        FillRow(row, w, c);
    }

    // Channel number, 1-based, in the band from 1/8 to 3/8 of the height.
    char number[8];
    std::snprintf(number, sizeof number, "%02d", (channel + 1) % 100);
    const int textWidthUnits = 2 * kGlyphAdvance - 1;
    const int scale = std::max(1, std::min(h / 4 / kGlyphHeight, w / 2 / textWidthUnits));
    const int tx = cell.x + (w - textWidthUnits * scale) / 2;
    const int ty = cell.y + h / 8;
    DrawText(tx + std::max(1, scale / 4), ty + std::max(1, scale / 4), scale, number, kBlack, cell);
    DrawText(tx, ty, scale, number, kWhite, cell);

    // The moving box: across and back along the lower middle, about two
    // seconds a crossing at 30 frames per second whatever the cell's width.
    const int side = std::max(2, h / 5);
    const int range = w - 2 - side;
    int bx = 1;
    if (range > 0) {
        const std::uint64_t speed = static_cast<std::uint64_t>(std::max(1, w / 64));
        const auto period = static_cast<std::uint64_t>(2 * range);
        const auto pos = static_cast<int>(frameNumber * speed % period);
        bx = 1 + (pos <= range ? pos : 2 * range - pos);
    }
    const Bgr inverse = {static_cast<std::uint8_t>(255 - base[0]),
                         static_cast<std::uint8_t>(255 - base[1]),
                         static_cast<std::uint8_t>(255 - base[2])};
    FillRect({cell.x + bx, cell.y + h / 2, side, side}, inverse, cell);

    // Overlay line along the bottom, on a black strip.
    if (channel >= 0 && channel < kOverlayChannels &&
        !m_overlay[static_cast<std::size_t>(channel)].empty()) {
        const int os = h >= 200 && w >= 320 ? 2 : 1;
        const int stripHeight = (kGlyphHeight + 2) * os;
        const int sy = cell.y + h - 1 - stripHeight;
        FillRect({cell.x + 1, sy, w - 2, stripHeight}, kBlack, cell);
        DrawText(cell.x + 1 + 2 * os, sy + os, os, m_overlay[static_cast<std::size_t>(channel)],
                 kYellow, {cell.x + 1, sy, w - 2, stripHeight});
    }

    // A dark frame round the cell, so that the split shows.
    FillRect({cell.x, cell.y, w, 1}, kCellFrame, cell);
    FillRect({cell.x, cell.y + h - 1, w, 1}, kCellFrame, cell);
    FillRect({cell.x, cell.y, 1, h}, kCellFrame, cell);
    FillRect({cell.x + w - 1, cell.y, 1, h}, kCellFrame, cell);
}

void PictureComposer::DrawClock(const DateTime& clock) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", clock.year % 10000,
                  clock.month % 100, clock.day % 100, clock.hour % 100, clock.minute % 100,
                  clock.second % 100);
    const int scale = m_height >= 360 && m_width >= 480 ? 2 : 1;
    const int length = static_cast<int>(std::strlen(text));
    const Rect all{0, 0, m_width, m_height};
    const int pad = 2 * scale;
    FillRect(
        {4, 4, length * kGlyphAdvance * scale - scale + 2 * pad, kGlyphHeight * scale + 2 * pad},
        kBlack, all);
    DrawText(4 + pad, 4 + pad, scale, text, kWhite, all);
}

void PictureComposer::Compose(const ScreenState& screen, const DateTime& clock,
                              std::uint64_t frameNumber) {
    std::fill(m_pixels.begin(), m_pixels.end(), std::uint8_t{0});
    const screen_layout::Cells cells =
        screen.screenMode == 4
            ? screen_layout::PictureInPicture(screen.layoutParam, screen.layoutExtra,
                                              m_channelCount, m_width, m_height)
            : screen_layout::Division(screen.layout, screen.layoutParam, m_channelCount, m_width,
                                      m_height);
    for (int i = 0; i < cells.count; ++i) {
        const screen_layout::Cell& c = cells.cell[i];
        DrawChannel({c.x, c.y, c.width, c.height}, c.channel, frameNumber);
    }
    DrawClock(clock);
}

void PictureComposer::ComposeNoise(std::uint32_t seed) {
    std::uint32_t state = seed * 2654435761u + 0x9E3779B9u;
    if (state == 0) {
        state = 1;
    }
    const Rect all{0, 0, m_width, m_height};
    constexpr int kBlock = 4;
    for (int y = 0; y < m_height; y += kBlock) {
        for (int x = 0; x < m_width; x += kBlock) {
            state ^= state << 13;  // xorshift32
            state ^= state >> 17;
            state ^= state << 5;
            const Bgr c = {static_cast<std::uint8_t>(state), static_cast<std::uint8_t>(state >> 8),
                           static_cast<std::uint8_t>(state >> 16)};
            FillRect({x, y, kBlock, kBlock}, c, all);
        }
    }
}

}  // namespace recorder
