#include "media/deinterlace.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Why the filter can work in place, one row at a time: only odd rows are tested
// for combing, so the 3 x 3 neighbourhood of a combed pixel holds other combed
// pixels only in its own row (the rows above and below are even). Confirmation
// therefore looks at left and right neighbours only, and interpolation reads
// even rows, which the filter never writes. No scratch picture is needed and
// every row is finished in one sweep while it is still in cache.

namespace {

constexpr int kCombThreshold = 400;

std::int64_t StrideOf(int width) {
    return (static_cast<std::int64_t>(width) * 3 + 3) & ~std::int64_t{3};
}

inline int CombMetric(const std::uint8_t* a, const std::uint8_t* p, const std::uint8_t* b) {
    const int p0 = p[0], p1 = p[1], p2 = p[2];
    return 3 * ((b[2] - p2) * (a[2] - p2) + 2 * (b[1] - p1) * (a[1] - p1)) +
           (b[0] - p0) * (a[0] - p0);
}

// Comb flags of pixels [from, to) of one row into comb[x + 1].
void CombFlagsScalar(const std::uint8_t* a, const std::uint8_t* p, const std::uint8_t* b,
                     std::uint8_t* comb, int from, int to) {
    for (int x = from; x < to; ++x) {
        const int i = 3 * x;
        comb[x + 1] = CombMetric(a + i, p + i, b + i) > kCombThreshold ? 0xFF : 0;
    }
}

// Confirmation and interpolation of pixels [from, to) of one row.
void InterpolateScalar(const std::uint8_t* a, std::uint8_t* p, const std::uint8_t* b,
                       const std::uint8_t* comb, int from, int to) {
    for (int x = from; x < to; ++x) {
        if (comb[x + 1] & (comb[x] | comb[x + 2])) {
            const int i = 3 * x;
            p[i] = static_cast<std::uint8_t>((a[i] + b[i]) >> 1);
            p[i + 1] = static_cast<std::uint8_t>((a[i + 1] + b[i + 1]) >> 1);
            p[i + 2] = static_cast<std::uint8_t>((a[i + 2] + b[i + 2]) >> 1);
        }
    }
}

#if defined(__SSE2__)

// Six registers, 96 bytes. Named rather than an array so that the compiler
// keeps them in registers without unrolling loops.
struct Block {
    __m128i v0, v1, v2, v3, v4, v5;
};

// One round interleaves register j with register j + 3, which moves the byte at
// stream position q < 95 to 2q mod 95 (the last byte stays).
inline Block InterleaveRound(const Block& v) {
    return {_mm_unpacklo_epi8(v.v0, v.v3), _mm_unpackhi_epi8(v.v0, v.v3),
            _mm_unpacklo_epi8(v.v1, v.v4), _mm_unpackhi_epi8(v.v1, v.v4),
            _mm_unpacklo_epi8(v.v2, v.v5), _mm_unpackhi_epi8(v.v2, v.v5)};
}

// Splits 32 pixels into planes: v0, v1 hold c0 of pixels 0-15 and 16-31, v2, v3
// c1 and v4, v5 c2. After five rounds the byte of pixel x, channel c, at
// q = 3x + c, sits at 32q mod 95 = 32c + x.
inline Block Deinterleave32(const std::uint8_t* src) {
    auto load = [src](int k) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16 * k));
    };
    const Block in{load(0), load(1), load(2), load(3), load(4), load(5)};
    return InterleaveRound(InterleaveRound(InterleaveRound(InterleaveRound(InterleaveRound(in)))));
}

// Comb flags of 8 pixels from 16-bit lanes of each channel of the three rows;
// returns 8 lanes of 0 or -1. The sums reach about 650,000, so the products
// are formed in 32 bits: _mm_madd_epi16 takes the c0 and c1 terms in one step,
// mullo/mulhi give the c2 term.
inline __m128i CombFlags8(__m128i a0, __m128i a1, __m128i a2, __m128i p0, __m128i p1, __m128i p2,
                          __m128i b0, __m128i b1, __m128i b2) {
    const __m128i d0 = _mm_sub_epi16(b0, p0), e0 = _mm_sub_epi16(a0, p0);
    const __m128i d1 = _mm_sub_epi16(b1, p1), e1 = _mm_sub_epi16(a1, p1);
    const __m128i d2 = _mm_sub_epi16(b2, p2), e2 = _mm_sub_epi16(a2, p2);
    const __m128i e1w = _mm_mullo_epi16(e1, _mm_set1_epi16(6));  // |e1w| <= 1530
    const __m128i e2w = _mm_mullo_epi16(e2, _mm_set1_epi16(3));  // |e2w| <= 765

    __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(d0, d1), _mm_unpacklo_epi16(e0, e1w));
    __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(d0, d1), _mm_unpackhi_epi16(e0, e1w));
    const __m128i c2Low = _mm_mullo_epi16(d2, e2w);
    const __m128i c2High = _mm_mulhi_epi16(d2, e2w);
    lo = _mm_add_epi32(lo, _mm_unpacklo_epi16(c2Low, c2High));
    hi = _mm_add_epi32(hi, _mm_unpackhi_epi16(c2Low, c2High));

    const __m128i threshold = _mm_set1_epi32(kCombThreshold);
    return _mm_packs_epi32(_mm_cmpgt_epi32(lo, threshold), _mm_cmpgt_epi32(hi, threshold));
}

// Comb flags of 16 pixels from byte planes; 16 bytes of 0 or 0xFF.
inline __m128i CombFlags16(__m128i a0, __m128i a1, __m128i a2, __m128i p0, __m128i p1, __m128i p2,
                           __m128i b0, __m128i b1, __m128i b2) {
    const __m128i z = _mm_setzero_si128();
    const __m128i first =
        CombFlags8(_mm_unpacklo_epi8(a0, z), _mm_unpacklo_epi8(a1, z), _mm_unpacklo_epi8(a2, z),
                   _mm_unpacklo_epi8(p0, z), _mm_unpacklo_epi8(p1, z), _mm_unpacklo_epi8(p2, z),
                   _mm_unpacklo_epi8(b0, z), _mm_unpacklo_epi8(b1, z), _mm_unpacklo_epi8(b2, z));
    const __m128i second =
        CombFlags8(_mm_unpackhi_epi8(a0, z), _mm_unpackhi_epi8(a1, z), _mm_unpackhi_epi8(a2, z),
                   _mm_unpackhi_epi8(p0, z), _mm_unpackhi_epi8(p1, z), _mm_unpackhi_epi8(p2, z),
                   _mm_unpackhi_epi8(b0, z), _mm_unpackhi_epi8(b1, z), _mm_unpackhi_epi8(b2, z));
    return _mm_packs_epi16(first, second);
}

// Comb flags of 32 pixels starting at pixel x into comb[x + 1 ...].
inline void CombFlags32(const std::uint8_t* a, const std::uint8_t* p, const std::uint8_t* b,
                        std::uint8_t* comb, int x) {
    const std::size_t i = 3 * static_cast<std::size_t>(x);
    const Block pa = Deinterleave32(a + i), pp = Deinterleave32(p + i), pb = Deinterleave32(b + i);
    const __m128i first =
        CombFlags16(pa.v0, pa.v2, pa.v4, pp.v0, pp.v2, pp.v4, pb.v0, pb.v2, pb.v4);
    const __m128i second =
        CombFlags16(pa.v1, pa.v3, pa.v5, pp.v1, pp.v3, pp.v5, pb.v1, pb.v3, pb.v5);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(comb + x + 1), first);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(comb + x + 17), second);
}

// Byte masks for interpolating 16 pixels (48 bytes, three registers) from 16
// confirmation bits. Register k holds bytes 16k ... 16k + 15, which belong to
// pixels 5k ... 5k + 5; its mask is looked up with those six bits.
using MaskTable = std::array<std::array<std::array<std::uint8_t, 16>, 64>, 3>;

constexpr MaskTable MakeMaskTable() {
    MaskTable table{};
    for (int k = 0; k < 3; ++k) {
        for (int bits = 0; bits < 64; ++bits) {
            for (int j = 0; j < 16; ++j) {
                const int pixel = (16 * k + j) / 3 - 5 * k;
                table[k][bits][j] = ((bits >> pixel) & 1) ? 0xFF : 0;
            }
        }
    }
    return table;
}

alignas(16) constexpr MaskTable kMaskTable = MakeMaskTable();

// Interpolates the bytes of one register (16 bytes at p) where mask is set.
inline void Blend16(const std::uint8_t* a, std::uint8_t* p, const std::uint8_t* b, __m128i mask) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
    const __m128i vp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // _mm_avg_epu8 rounds up; take the carried half back off to truncate.
    const __m128i mean =
        _mm_sub_epi8(_mm_avg_epu8(va, vb), _mm_and_si128(_mm_xor_si128(va, vb), _mm_set1_epi8(1)));
    const __m128i out = _mm_or_si128(_mm_and_si128(mask, mean), _mm_andnot_si128(mask, vp));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), out);
}

inline __m128i MaskOf(int k, int bits) {
    return _mm_load_si128(
        reinterpret_cast<const __m128i*>(kMaskTable[k][(bits >> (5 * k)) & 63].data()));
}

// Confirmation and interpolation of 16 pixels starting at pixel x.
inline void Interpolate16(const std::uint8_t* a, std::uint8_t* p, const std::uint8_t* b,
                          const std::uint8_t* comb, int x) {
    const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(comb + x));
    const __m128i self = _mm_loadu_si128(reinterpret_cast<const __m128i*>(comb + x + 1));
    const __m128i right = _mm_loadu_si128(reinterpret_cast<const __m128i*>(comb + x + 2));
    const int bits = _mm_movemask_epi8(_mm_and_si128(self, _mm_or_si128(left, right)));
    if (bits == 0) {
        return;  // the common case in a still or slow scene
    }
    const std::size_t i = 3 * static_cast<std::size_t>(x);
    Blend16(a + i, p + i, b + i, MaskOf(0, bits));
    Blend16(a + i + 16, p + i + 16, b + i + 16, MaskOf(1, bits));
    Blend16(a + i + 32, p + i + 32, b + i + 32, MaskOf(2, bits));
}

#endif  // __SSE2__

// One odd row p between rows a and b: comb flags of the whole row first, then
// confirmation and interpolation. Every load and store stays within the
// width * 3 pixel bytes of the three rows. The scalar loops take the tails, and
// the whole row where SSE2 is missing.
void FilterRow(const std::uint8_t* a, std::uint8_t* p, const std::uint8_t* b, std::uint8_t* comb,
               int width) {
    int x = 0;
#if defined(__SSE2__)
    for (; x + 32 <= width; x += 32) {
        CombFlags32(a, p, b, comb, x);
    }
#endif
    CombFlagsScalar(a, p, b, comb, x, width);

    x = 0;
#if defined(__SSE2__)
    for (; x + 16 <= width; x += 16) {
        Interpolate16(a, p, b, comb, x);
    }
#endif
    InterpolateScalar(a, p, b, comb, x, width);
}

}  // namespace

Deinterlacer::Deinterlacer()
    // A picture with an odd row to filter has at least three rows, so its
    // width is at most kMaxPictureBytes / 9 pixels.
    : m_combRow(static_cast<std::size_t>(kMaxPictureBytes / 9) + 2, 0) {}

bool Deinterlacer::DeinterlaceRows(std::uint8_t* pixels, int width, int height) {
    if (width <= 0 || height <= 0) {
        return false;
    }
    const std::int64_t stride = StrideOf(width);
    if (stride * height > kMaxPictureBytes) {
        return false;
    }
    if (height < 3) {
        return true;  // no row has both neighbours
    }
    std::uint8_t* comb = m_combRow.data();
    comb[0] = 0;
    comb[width + 1] = 0;
    const auto rowBytes = static_cast<std::size_t>(stride);
    for (int r = 1; r < height - 1; r += 2) {
        std::uint8_t* p = pixels + static_cast<std::size_t>(r) * rowBytes;
        FilterRow(p - rowBytes, p, p + rowBytes, comb, width);
    }
    return true;
}

void DeinterlaceRowsReference(std::uint8_t* pixels, int width, int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    const auto stride = static_cast<std::size_t>(StrideOf(width));
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);

    std::vector<std::uint8_t> out(pixels, pixels + stride * h);
    std::vector<std::uint8_t> comb(w * h, 0);
    std::vector<std::uint8_t> mask(w * h, 0);
    auto px = [&](std::size_t r, std::size_t x) { return pixels + r * stride + 3 * x; };

    for (std::size_t r = 1; r + 1 < h; r += 2) {
        for (std::size_t x = 0; x < w; ++x) {
            const std::uint8_t* a = px(r - 1, x);
            const std::uint8_t* p = px(r, x);
            const std::uint8_t* b = px(r + 1, x);
            const int m = 3 * ((b[2] - p[2]) * (a[2] - p[2]) + 2 * (b[1] - p[1]) * (a[1] - p[1])) +
                          (b[0] - p[0]) * (a[0] - p[0]);
            if (m > kCombThreshold) {
                comb[r * w + x] = 1;
            }
        }
    }

    for (std::size_t r = 0; r < h; ++r) {
        for (std::size_t x = 0; x < w; ++x) {
            if (comb[r * w + x] == 0) {
                continue;
            }
            int sum = 0;
            for (std::size_t rr = r == 0 ? 0 : r - 1; rr <= std::min(r + 1, h - 1); ++rr) {
                for (std::size_t xx = x == 0 ? 0 : x - 1; xx <= std::min(x + 1, w - 1); ++xx) {
                    sum += comb[rr * w + xx];
                }
            }
            mask[r * w + x] = sum >= 2 ? 1 : 0;
        }
    }

    for (std::size_t r = 1; r + 1 < h; r += 2) {
        for (std::size_t x = 0; x < w; ++x) {
            if (mask[r * w + x] == 0) {
                continue;
            }
            for (std::size_t c = 0; c < 3; ++c) {
                out[r * stride + 3 * x + c] =
                    static_cast<std::uint8_t>((px(r - 1, x)[c] + px(r + 1, x)[c]) / 2);
            }
        }
    }

    std::memcpy(pixels, out.data(), out.size());
}
