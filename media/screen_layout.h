#pragma once
// Where each channel sits in the recorder's one picture for its whole screen.
// The recorder composes its picture by this rule and the display places the
// camera titles by it, so it is defined once, here.
//
// Split screen, SetDivision(layout, first):
//   layout = number of cells: 1, 4, 9 or 16 (any other value counts as 1);
//   cells are n x n equal parts of the picture (n = 1, 2, 3, 4), row by row;
//   cell i shows channel first + i (0-based channels); a cell whose channel is
//   not below the recorder's channel count shows nothing.
// Picture-in-picture, SetDivisionPIP(main, sub):
//   channel `main` fills the picture; channel `sub` is an inset of one third
//   of the width and height, its right and bottom edges 1/24 of the width and
//   height in from the picture's.
// Pixel edges are integer divisions of the picture size, so cells tile the
// picture exactly.

#include <cstdint>

namespace screen_layout {

struct Cell {
    int channel;  // 0-based
    int x, y, width, height;
};

constexpr int kMaxCells = 16;

struct Cells {
    int count = 0;
    Cell cell[kMaxCells] = {};
};

constexpr int SideOf(int layout) {
    switch (layout) {
        case 4: return 2;
        case 9: return 3;
        case 16: return 4;
        default: return 1;
    }
}

// Split screen: the visible cells with their channels.
inline Cells Division(int layout, int first, int channelCount, int width, int height) {
    Cells out;
    const int n = SideOf(layout);
    for (int i = 0; i < n * n; ++i) {
        const int channel = first + i;
        if (channel < 0 || channel >= channelCount) {
            continue;
        }
        const int col = i % n;
        const int row = i / n;
        const int x0 = col * width / n;
        const int y0 = row * height / n;
        const int x1 = (col + 1) * width / n;
        const int y1 = (row + 1) * height / n;
        out.cell[out.count++] = Cell{channel, x0, y0, x1 - x0, y1 - y0};
    }
    return out;
}

// Picture-in-picture: the main channel first, then the inset.
inline Cells PictureInPicture(int mainChannel, int subChannel, int channelCount, int width,
                              int height) {
    Cells out;
    if (mainChannel >= 0 && mainChannel < channelCount) {
        out.cell[out.count++] = Cell{mainChannel, 0, 0, width, height};
    }
    if (subChannel >= 0 && subChannel < channelCount) {
        const int w = width / 3;
        const int h = height / 3;
        const int x = width - width / 24 - w;
        const int y = height - height / 24 - h;
        out.cell[out.count++] = Cell{subChannel, x, y, w, h};
    }
    return out;
}

}  // namespace screen_layout
