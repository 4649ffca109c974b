// deinterlace [--seconds S]: megapixels per second of the display's comb
// filter and of the plain reference filter on a 640 x 480 NTSC picture with
// horizontal stripes and noise (every odd row combs: the filter's busiest
// case).
// Every run starts from the unfiltered picture; only the filter is timed, and
// the median run counts.
// Prints both rates and, last, "ratio <fast / reference>".

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "bench/bench_modes.h"
#include "media/deinterlace.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

std::vector<std::uint8_t> StripedPicture() {
    const std::size_t stride = (kWidth * 3 + 3) & ~3;
    std::vector<std::uint8_t> pic(stride * kHeight);
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> noise(-24, 24);
    for (int r = 0; r < kHeight; ++r) {
        // Horizontal stripes, bright even rows and dark odd rows, as a fast
        // pan shows them: every pixel of every odd row combs.
        const int base = r % 2 ? 50 : 200;
        for (int x = 0; x < 3 * kWidth; ++x) {
            const int v = base + noise(rng);
            pic[r * stride + x] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
    return pic;
}

// Runs `filter` on fresh copies of `source` for at least `seconds` and returns
// megapixels per second from the median time of one run, which other busy
// processes on the machine disturb less than the mean.
template <typename Filter>
double MegapixelsPerSecond(const std::vector<std::uint8_t>& source, double seconds, Filter filter) {
    using Clock = std::chrono::steady_clock;
    std::vector<std::uint8_t> work(source.size());
    std::vector<double> runs;
    const auto start = Clock::now();
    while (runs.size() < 5 || Clock::now() - start < std::chrono::duration<double>(seconds)) {
        std::memcpy(work.data(), source.data(), source.size());
        const auto t0 = Clock::now();
        filter(work.data());
        runs.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::nth_element(runs.begin(), runs.begin() + runs.size() / 2, runs.end());
    return kWidth * kHeight / runs[runs.size() / 2] / 1e6;
}

}  // namespace

namespace bench {

int RunDeinterlace(int argc, char** argv) {
    double seconds = 1.0;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: deinterlace [--seconds S]\n");
            return 2;
        }
    }

    const std::vector<std::uint8_t> source = StripedPicture();

    // The fast filter must agree with the reference, or its figure means nothing.
    std::vector<std::uint8_t> fastOut = source, referenceOut = source;
    Deinterlacer filter;
    if (!filter.DeinterlaceRows(fastOut.data(), kWidth, kHeight)) {
        std::fprintf(stderr, "deinterlace: the filter refused a %dx%d picture\n", kWidth, kHeight);
        return 1;
    }
    DeinterlaceRowsReference(referenceOut.data(), kWidth, kHeight);
    if (fastOut != referenceOut) {
        std::fprintf(stderr, "deinterlace: fast and reference pictures differ\n");
        return 1;
    }
    std::size_t changed = 0;
    for (std::size_t i = 0; i < source.size(); ++i)
        changed += fastOut[i] != source[i];

    const double fast = MegapixelsPerSecond(
        source, seconds, [&](std::uint8_t* p) { filter.DeinterlaceRows(p, kWidth, kHeight); });
    const double reference = MegapixelsPerSecond(
        source, seconds, [](std::uint8_t* p) { DeinterlaceRowsReference(p, kWidth, kHeight); });

    std::printf("picture %dx%d, %zu of %d bytes changed by the filter\n", kWidth, kHeight, changed,
                kWidth * kHeight * 3);
    std::printf("fast %.1f Mpixel/s (%.3f ms per picture)\n", fast, kWidth * kHeight / fast / 1e3);
    std::printf("reference %.1f Mpixel/s (%.3f ms per picture)\n", reference,
                kWidth * kHeight / reference / 1e3);
    std::printf("ratio %.2f\n", fast / reference);
    return 0;
}

}  // namespace bench
