// The display's comb filter: the fast in-place filter against the plain one on
// many pictures, the row rules, the threshold and the size limit.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "media/deinterlace.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

struct Pixel {
    std::uint8_t c0, c1, c2;
};

std::size_t StrideOf(int width) {
    return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
}

// A picture buffer of exactly stride * height bytes, so that the sanitizer
// sees any access past the last row.
struct Picture {
    int width, height;
    Bytes bytes;

    Picture(int w, int h, std::uint8_t fill = 0)
        : width(w), height(h), bytes(StrideOf(w) * static_cast<std::size_t>(h), fill) {}
    std::uint8_t* At(int r, int x) { return bytes.data() + r * StrideOf(width) + 3 * x; }
    void Set(int r, int x, Pixel p) {
        std::uint8_t* q = At(r, x);
        q[0] = p.c0, q[1] = p.c1, q[2] = p.c2;
    }
    void FillRow(int r, Pixel p) {
        for (int x = 0; x < width; ++x)
            Set(r, x, p);
    }
    bool RowEquals(const Picture& o, int r) const {
        const std::size_t s = StrideOf(width);
        return std::equal(bytes.begin() + r * s, bytes.begin() + (r + 1) * s,
                          o.bytes.begin() + r * s);
    }
};

enum class Content {
    kNoise,      // uniform random bytes: sparse, scattered combing
    kStripes,    // bright even rows, dark odd rows, noise: dense combing
    kPatches,    // stripes in random short runs on a flat field: isolated pixels and pairs
    kNearLimit,  // small stripes whose metric falls either side of the threshold
};

const char* Name(Content c) {
    switch (c) {
        case Content::kNoise:
            return "noise";
        case Content::kStripes:
            return "stripes";
        case Content::kPatches:
            return "patches";
        case Content::kNearLimit:
            return "near-limit";
    }
    return "?";
}

// Fills every byte, padding included, so that a filter that touches padding shows.
void Fill(Picture& pic, Content content, std::mt19937& rng) {
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto& b : pic.bytes)
        b = static_cast<std::uint8_t>(byte(rng));
    if (content == Content::kNoise)
        return;

    std::uniform_int_distribution<int> small(-12, 12), coin(0, 3), amp(5, 8);
    for (int r = 0; r < pic.height; ++r) {
        for (int x = 0; x < pic.width; ++x) {
            std::uint8_t* q = pic.At(r, x);
            for (int c = 0; c < 3; ++c) {
                int v = 0;
                switch (content) {
                    case Content::kStripes:
                        v = (r % 2 ? 40 : 210) + small(rng);
                        break;
                    case Content::kPatches:
                        v = 128 + ((r % 2 && coin(rng) == 0) ? 90 : 0);
                        break;
                    case Content::kNearLimit:
                        v = 128 + (r % 2 ? amp(rng) : 0);
                        break;
                    case Content::kNoise:
                        break;
                }
                q[c] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
            }
        }
    }
}

TEST(Deinterlace, FastMatchesReferenceOnManyPictures) {
    std::vector<std::pair<int, int>> sizes = {
        {1, 1},    {2, 2},   {3, 5},     {5, 3},     {1, 9},     {9, 1},   {2, 4},
        {7, 6},    {15, 3},  {16, 3},    {17, 5},    {31, 7},    {32, 3},  {33, 4},
        {47, 9},   {48, 5},  {63, 6},    {64, 7},    {65, 5},    {95, 11}, {97, 10},
        {130, 33}, {641, 3}, {640, 480}, {704, 480}, {720, 600},
    };
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> dim(1, 200);
    for (int i = 0; i < 30; ++i) {
        const int w = dim(rng);
        sizes.emplace_back(w, dim(rng) % 40 + 1);
    }

    // One filter for all pictures: its row buffer must not carry anything over
    // from a wider picture to a narrower one.
    Deinterlacer filter;
    for (auto [w, h] : sizes) {
        for (Content content :
             {Content::kNoise, Content::kStripes, Content::kPatches, Content::kNearLimit}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " " + Name(content));
            Picture fast(w, h);
            Fill(fast, content, rng);
            Picture reference = fast;
            DeinterlaceRowsReference(reference.bytes.data(), w, h);
            ASSERT_TRUE(filter.DeinterlaceRows(fast.bytes.data(), w, h));
            ASSERT_EQ(fast.bytes, reference.bytes);
        }
    }
}

using FilterFn = std::function<void(std::uint8_t*, int, int)>;

struct Implementation {
    const char* name;
    FilterFn run;
};

std::vector<Implementation> Implementations() {
    auto filter = std::make_shared<Deinterlacer>();
    return {
        {"fast", [filter](std::uint8_t* p, int w, int h) { filter->DeinterlaceRows(p, w, h); }},
        {"reference", DeinterlaceRowsReference},
    };
}

// Only odd rows that have a row below are changed, even when every other row
// is combed; checked with odd and even heights, where the last row is even or odd.
TEST(Deinterlace, ChangesOnlyOddRowsBelowTheLast) {
    std::mt19937 rng(7);
    for (const auto& impl : Implementations()) {
        for (int h : {3, 4, 5, 6, 11, 12}) {
            SCOPED_TRACE(std::string(impl.name) + " height " + std::to_string(h));
            Picture pic(37, h);
            Fill(pic, Content::kStripes, rng);
            const Picture before = pic;
            impl.run(pic.bytes.data(), pic.width, h);
            for (int r = 0; r < h; ++r) {
                const bool mayChange = r % 2 == 1 && r < h - 1;
                if (mayChange) {
                    EXPECT_FALSE(pic.RowEquals(before, r)) << "row " << r << " was not filtered";
                } else {
                    EXPECT_TRUE(pic.RowEquals(before, r)) << "row " << r;
                }
            }
        }
    }
}

// Flat pictures (even rows alternate two colours, odd rows hold their mean, so
// nothing is combed) with chosen pixels of odd rows made to comb. Only pixels
// with a combed left or right neighbour are interpolated; the width puts
// pixels on both sides of the fast filter's 16- and 32-pixel blocks and in its
// tail.
TEST(Deinterlace, CombedPixelNeedsACombedNeighbourInItsRow) {
    constexpr Pixel kEvenA{100, 50, 150}, kEvenB{103, 55, 141}, kOdd{101, 52, 145};
    constexpr Pixel kCombed{250, 250, 250};
    struct Spot {
        int r, x;
    };
    struct Case {
        const char* what;
        std::vector<Spot> combed;
        std::vector<Spot> interpolated;
    };
    const std::vector<Case> cases = {
        {"isolated pixel", {{1, 10}}, {}},
        {"isolated at the left edge", {{3, 0}}, {}},
        {"isolated at the right edge", {{3, 69}}, {}},
        {"pair", {{1, 10}, {1, 11}}, {{1, 10}, {1, 11}}},
        {"pair at the left edge", {{5, 0}, {5, 1}}, {{5, 0}, {5, 1}}},
        {"pair at the right edge", {{5, 68}, {5, 69}}, {{5, 68}, {5, 69}}},
        {"pair across the 16-pixel block", {{1, 15}, {1, 16}}, {{1, 15}, {1, 16}}},
        {"pair across the 32-pixel block", {{3, 31}, {3, 32}}, {{3, 31}, {3, 32}}},
        {"pair across the last block and the tail", {{3, 63}, {3, 64}}, {{3, 63}, {3, 64}}},
        {"one apart", {{1, 20}, {1, 22}}, {}},
        {"same column two rows apart", {{1, 20}, {3, 20}}, {}},
        {"diagonal two rows apart", {{1, 20}, {3, 21}}, {}},
        {"run of three", {{5, 40}, {5, 41}, {5, 42}}, {{5, 40}, {5, 41}, {5, 42}}},
        {"pair next to an isolated pixel", {{1, 3}, {1, 4}, {1, 6}}, {{1, 3}, {1, 4}}},
    };
    for (const auto& impl : Implementations()) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(impl.name) + ": " + c.what);
            constexpr int kWidth = 70, kHeight = 7;
            Picture pic(kWidth, kHeight);
            for (int r = 0; r < kHeight; ++r)
                pic.FillRow(r, r % 2 ? kOdd : (r % 4 ? kEvenB : kEvenA));
            for (Spot s : c.combed)
                pic.Set(s.r, s.x, kCombed);

            Picture expected = pic;
            for (Spot s : c.interpolated)
                expected.Set(s.r, s.x, kOdd);  // the truncated mean

            impl.run(pic.bytes.data(), kWidth, kHeight);
            EXPECT_EQ(pic.bytes, expected.bytes);
        }
    }
}

// Rows above and below are uniform, so the whole middle row has the same
// metric and every pixel has a neighbour: the row is interpolated exactly when
// the metric exceeds 400. The channel weights are 1 (c0), 6 (c1) and 3 (c2).
TEST(Deinterlace, MetricThreshold) {
    struct Case {
        const char* what;
        Pixel above, pixel, below;
        bool combed;
    };
    const std::vector<Case> cases = {
        {"c0 20 x 20 = 400", {120, 100, 100}, {100, 100, 100}, {120, 100, 100}, false},
        {"c0 -20 x -20 = 400", {80, 100, 100}, {100, 100, 100}, {80, 100, 100}, false},
        {"c0 10 x 20 + 6 x 1 + 3 x 65 = 401",
         {110, 101, 105},
         {100, 100, 100},
         {120, 101, 113},
         true},
        {"c0 -10 x -20 + 6 x 1 + 3 x 65 = 401",
         {90, 101, 95},
         {100, 100, 100},
         {80, 101, 87},
         true},
        {"c0 12 x 12 = 144", {112, 100, 100}, {100, 100, 100}, {112, 100, 100}, false},
        {"c2 3 x 12 x 12 = 432", {100, 100, 112}, {100, 100, 100}, {100, 100, 112}, true},
        {"c2 3 x 11 x 11 = 363", {100, 100, 111}, {100, 100, 100}, {100, 100, 111}, false},
        {"c1 6 x 8 x 8 = 384", {100, 108, 100}, {100, 100, 100}, {100, 108, 100}, false},
        {"c1 6 x 9 x 8 = 432", {100, 109, 100}, {100, 100, 100}, {100, 108, 100}, true},
        {"c0 opposite signs", {0, 0, 0}, {128, 128, 128}, {255, 255, 255}, false},
        {"largest metric", {0, 0, 0}, {255, 255, 255}, {0, 0, 0}, true},
        {"c2 3 x 11 x 11 + c0 8 x 8 = 427",
         {108, 100, 111},
         {100, 100, 100},
         {108, 100, 111},
         true},
        {"c2 3 x 12 x 12 + c0 -10 x 4 = 392",
         {104, 100, 112},
         {100, 100, 100},
         {90, 100, 112},
         false},
    };
    for (const auto& impl : Implementations()) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(impl.name) + ": " + c.what);
            constexpr int kWidth = 37;  // one 32-pixel block and a tail
            Picture pic(kWidth, 3);
            pic.FillRow(0, c.above);
            pic.FillRow(1, c.pixel);
            pic.FillRow(2, c.below);
            Picture expected = pic;
            if (c.combed) {
                auto mean = [](int u, int v) { return static_cast<std::uint8_t>((u + v) / 2); };
                expected.FillRow(1, {mean(c.above.c0, c.below.c0), mean(c.above.c1, c.below.c1),
                                     mean(c.above.c2, c.below.c2)});
            }
            impl.run(pic.bytes.data(), kWidth, 3);
            EXPECT_EQ(pic.bytes, expected.bytes);
        }
    }
}

// The fast filter works within the size of its working memory: 720 x 600
// pictures and anything with as many bytes or fewer. Larger pictures, and
// pictures without pixels, are left as they are.
TEST(Deinterlace, RefusesPicturesLargerThanItsWorkingMemory) {
    struct Case {
        int width, height;
        bool filtered;
    };
    const std::vector<Case> cases = {
        {720, 600, true},  {720, 601, false},  {721, 600, false}, {704, 613, true},
        {640, 675, true},  {640, 676, false},  {144000, 3, true}, {144001, 3, false},
        {432000, 1, true}, {432001, 1, false}, {0, 10, false},    {10, 0, false},
        {-4, 10, false},   {10, -4, false},
    };
    Deinterlacer filter;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const int w = std::max(c.width, 0), h = std::max(c.height, 0);
        Picture pic(w, h);
        for (int r = 0; r < h; ++r)
            pic.FillRow(r, r % 2 ? Pixel{40, 40, 40} : Pixel{210, 210, 210});
        const Picture before = pic;
        EXPECT_EQ(filter.DeinterlaceRows(pic.bytes.data(), c.width, c.height), c.filtered);
        if (!c.filtered) {
            EXPECT_EQ(pic.bytes, before.bytes);
        } else if (h >= 3) {
            EXPECT_NE(pic.bytes, before.bytes);
        }
    }
}

}  // namespace
