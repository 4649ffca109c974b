#pragma once
// A moving test scene for encoder samples: scrolling colour gradients, a band
// of blocky texture that slides sideways and a bright box that bounces about.
// Every picture differs clearly from the one before, and the texture gives
// the encoder real work, so a decode of the result costs about what a camera
// picture costs. Deterministic: picture n is always the same.
//
// Header-only: used by the benchmark program and by the tests.

#include <cstdint>
#include <cstdlib>

namespace bench {

// Writes picture `index` of the scene: width * height pixels of 3 bytes
// (blue, green, red), rows top-down, width * 3 bytes apart.
inline void DrawTestPicture(int width, int height, int index, std::uint8_t* bgr) {
    const int bandTop = height / 3;
    const int bandBottom = 2 * height / 3;
    const int boxW = width / 6 > 0 ? width / 6 : 1;
    const int boxH = height / 6 > 0 ? height / 6 : 1;
    // Triangle waves so that the box bounces between the edges.
    auto bounce = [](int t, int span) {
        if (span <= 0)
            return 0;
        const int period = 2 * span;
        const int p = t % period;
        return p < span ? p : period - p;
    };
    const int boxX = bounce(index * 5, width - boxW);
    const int boxY = bounce(index * 3, height - boxH);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bgr + static_cast<std::size_t>(y) * width * 3;
        const bool inBand = y >= bandTop && y < bandBottom;
        for (int x = 0; x < width; ++x) {
            std::uint8_t b = static_cast<std::uint8_t>(x + index * 3);
            std::uint8_t g = static_cast<std::uint8_t>(y * 2 + index);
            std::uint8_t r = static_cast<std::uint8_t>((x + y) / 2 + index * 5);
            if (inBand) {
                // 4x4 blocks of hashed grey, moving 2 pixels per picture.
                const std::uint32_t bx = static_cast<std::uint32_t>(x + 2 * index) / 4;
                const std::uint32_t by = static_cast<std::uint32_t>(y) / 4;
                std::uint32_t h = bx * 73856093u ^ by * 19349663u;
                h = (h ^ (h >> 13)) * 2654435761u;
                const std::uint8_t v = static_cast<std::uint8_t>(h >> 24);
                b = static_cast<std::uint8_t>((b + 3 * v) / 4);
                g = static_cast<std::uint8_t>((g + 3 * v) / 4);
                r = static_cast<std::uint8_t>((r + 3 * v) / 4);
            }
            if (x >= boxX && x < boxX + boxW && y >= boxY && y < boxY + boxH) {
                b = 40;
                g = 220;
                r = 250;
            }
            row[x * 3 + 0] = b;
            row[x * 3 + 1] = g;
            row[x * 3 + 2] = r;
        }
    }
}

}  // namespace bench
