#pragma once
// The display's comb filter for interlaced NTSC pictures.
//
// Pictures are 24-bit, the bytes of a pixel in memory order c0, c1, c2 (blue,
// green, red), rows stride = width * 3 rounded up to a multiple of 4 bytes
// apart. Only odd rows other than the last one are ever changed. A pixel p of
// such a row, with a above and b below it, is combed when
//   m = 3 * ((b.c2 - p.c2) * (a.c2 - p.c2) + 2 * (b.c1 - p.c1) * (a.c1 - p.c1))
//       + (b.c0 - p.c0) * (a.c0 - p.c0)  >  400   (signed);
// a combed pixel is confirmed when another pixel of its 3 x 3 neighbourhood is
// combed too, and a confirmed pixel becomes (above + below) / 2, truncated, per
// byte, from the unfiltered rows.

#include <cstdint>
#include <vector>

class Deinterlacer {
public:
    // The largest picture filtered: stride * height of a 720 x 600 picture.
    static constexpr std::int64_t kMaxPictureBytes = 1296000;

    // Allocates the working memory for the largest picture once; filtering
    // allocates nothing.
    Deinterlacer();

    // Filters the picture in place. Returns false, leaving the picture as it is,
    // when width or height is not positive or stride * height exceeds
    // kMaxPictureBytes. `pixels` holds stride * height bytes; padding bytes at
    // row ends are neither changed nor needed beyond that size.
    // Not thread-safe: one filter per thread (it is the Display worker's).
    bool DeinterlaceRows(std::uint8_t* pixels, int width, int height);

private:
    // Comb flags (0 or 0xFF) of the row being filtered, at index x + 1, with a
    // zero guard at each end so that the neighbour test needs no edge cases.
    std::vector<std::uint8_t> m_combRow;
};

// The filter done the plain way, with a scratch picture and full comb and mask
// maps allocated per call; the yardstick for tests and benchmarks. Does nothing
// when width or height is not positive.
void DeinterlaceRowsReference(std::uint8_t* pixels, int width, int height);
