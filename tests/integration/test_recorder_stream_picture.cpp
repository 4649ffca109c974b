// The pieces of the recorder's live video that need no socket: the composed
// picture, the payloads that carry it, and the video options of the program.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "media/screen_layout.h"
#include "recorder/picture_composer.h"
#include "recorder/recorder_options.h"
#include "recorder/recorder_packets.h"

namespace {

using recorder::DateTime;
using recorder::PictureComposer;
using recorder::ScreenState;
using Bytes = std::vector<std::uint8_t>;

constexpr int kW = 720;
constexpr int kH = 480;
// Rows at the top of the picture that the burnt-in clock may cover.
constexpr int kClockRows = 32;

const DateTime kClock = {2008, 3, 1, 10, 20, 30};

ScreenState Division(int layout, int first) {
    ScreenState s;
    s.layout = static_cast<std::uint8_t>(layout);
    s.layoutParam = static_cast<std::uint8_t>(first);
    return s;
}

ScreenState Pip(int mainChannel, int subChannel) {
    ScreenState s;
    s.screenMode = 4;
    s.layoutParam = static_cast<std::uint8_t>(mainChannel);
    s.layoutExtra = static_cast<std::uint8_t>(subChannel);
    return s;
}

struct Px {
    int b, g, r;
    bool operator==(const Px&) const = default;
};

Px At(const PictureComposer& p, int x, int y) {
    const std::uint8_t* q = p.Pixels() + (static_cast<std::size_t>(y) * p.Width() + x) * 3;
    return {q[0], q[1], q[2]};
}

int Distance(const Px& a, const Px& b) {
    return std::abs(a.b - b.b) + std::abs(a.g - b.g) + std::abs(a.r - b.r);
}

// Compares the rectangle (x, y, w, h) of `big` with `small` from (0, 0),
// leaving out the clock corners of both pictures. Returns the number of
// differing pixels.
int DifferingPixels(const PictureComposer& big, int x, int y, int w, int h,
                    const PictureComposer& small) {
    auto inClock = [](int px, int py) { return px < 300 && py < kClockRows; };
    int differing = 0;
    for (int row = 0; row < h; ++row) {
        for (int col = 0; col < w; ++col) {
            if (inClock(col, row) || inClock(x + col, y + row)) {
                continue;
            }
            differing += At(big, x + col, y + row) == At(small, col, row) ? 0 : 1;
        }
    }
    return differing;
}

// A point in the plain ramp of a cell: between the number and the moving box.
Px CellSample(const PictureComposer& p, const screen_layout::Cell& c) {
    return At(p, c.x + c.width / 2, c.y + c.height * 44 / 100);
}

// ---------------------------------------------------------------- composer

TEST(PictureComposer, SplitCellsShowTheirChannelsInPlace) {
    struct Case {
        int layout, first, channels;
    };
    const Case cases[] = {{4, 0, 16}, {4, 4, 16}, {9, 3, 16}, {16, 0, 16}, {4, 2, 4}};
    for (const Case& tc : cases) {
        SCOPED_TRACE(testing::Message() << "layout " << tc.layout << " from " << tc.first);
        PictureComposer p(kW, kH, tc.channels);
        p.Compose(Division(tc.layout, tc.first), kClock, 7);
        const auto cells = screen_layout::Division(tc.layout, tc.first, tc.channels, kW, kH);
        std::set<int> seenColours;
        for (int i = 0; i < cells.count; ++i) {
            const auto& c = cells.cell[i];
            // Each cell is the channel drawn alone at the cell's size.
            PictureComposer alone(c.width, c.height, tc.channels);
            alone.Compose(Division(1, c.channel), kClock, 7);
            EXPECT_EQ(DifferingPixels(p, c.x, c.y, c.width, c.height, alone), 0)
                << "cell " << i << " channel " << c.channel;
            const Px s = CellSample(p, c);
            seenColours.insert(s.b << 16 | s.g << 8 | s.r);
        }
        EXPECT_EQ(static_cast<int>(seenColours.size()), cells.count) << "a colour repeats";
    }
}

TEST(PictureComposer, FourSplitSamplesAreFourClearlyDifferentColours) {
    PictureComposer p(kW, kH, 16);
    p.Compose(Division(4, 0), kClock, 0);
    // Cell centres of the upper-left, upper-right, lower-left, lower-right
    // quarters, at the height of the plain ramp.
    const Px samples[4] = {At(p, 180, 105), At(p, 540, 105), At(p, 180, 345), At(p, 540, 345)};
    for (int i = 0; i < 4; ++i) {
        const auto colour = PictureComposer::ChannelColour(i);
        // The ramp darkens the base colour but keeps its hue: the strongest
        // component stays the strongest.
        const int strongest = std::max({colour[0], colour[1], colour[2]});
        const int sampleOfStrongest = strongest == colour[0]   ? samples[i].b
                                      : strongest == colour[1] ? samples[i].g
                                                               : samples[i].r;
        EXPECT_EQ(sampleOfStrongest, std::max({samples[i].b, samples[i].g, samples[i].r}))
            << "quarter " << i;
        for (int j = 0; j < i; ++j) {
            EXPECT_GT(Distance(samples[i], samples[j]), 60) << i << " vs " << j;
        }
    }
}

TEST(PictureComposer, SixteenChannelColoursAreFarApart) {
    for (int i = 0; i < 16; ++i) {
        const auto a = PictureComposer::ChannelColour(i);
        for (int j = 0; j < i; ++j) {
            const auto b = PictureComposer::ChannelColour(j);
            EXPECT_GT(Distance({a[0], a[1], a[2]}, {b[0], b[1], b[2]}), 80) << i << " vs " << j;
        }
    }
}

TEST(PictureComposer, PictureInPictureInsetSitsAtItsRectangle) {
    const int mainChannel = 2;
    const int subChannel = 9;
    PictureComposer p(kW, kH, 16);
    p.Compose(Pip(mainChannel, subChannel), kClock, 11);
    const auto cells = screen_layout::PictureInPicture(mainChannel, subChannel, 16, kW, kH);
    ASSERT_EQ(cells.count, 2);
    const auto& inset = cells.cell[1];
    // 240 x 160 with its right and bottom edges 30 and 20 pixels in.
    EXPECT_EQ(inset.x, 450);
    EXPECT_EQ(inset.y, 300);
    EXPECT_EQ(inset.width, 240);
    EXPECT_EQ(inset.height, 160);

    PictureComposer sub(inset.width, inset.height, 16);
    sub.Compose(Division(1, subChannel), kClock, 11);
    EXPECT_EQ(DifferingPixels(p, inset.x, inset.y, inset.width, inset.height, sub), 0);

    // Outside the inset the main channel fills the picture.
    PictureComposer full(kW, kH, 16);
    full.Compose(Division(1, mainChannel), kClock, 11);
    int differing = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const bool inInset = x >= inset.x && x < inset.x + inset.width && y >= inset.y &&
                                 y < inset.y + inset.height;
            differing += !inInset && !(At(p, x, y) == At(full, x, y)) ? 1 : 0;
        }
    }
    EXPECT_EQ(differing, 0);
}

TEST(PictureComposer, CellsWithoutAChannelStayBlack) {
    PictureComposer p(kW, kH, 6);
    p.Compose(Division(9, 3), kClock, 0);  // channels 3, 4, 5 and six empty cells
    const auto all = screen_layout::Division(9, 0, 100, kW, kH);
    for (int i = 0; i < 9; ++i) {
        const auto& c = all.cell[i];
        const Px centre = At(p, c.x + c.width / 2, c.y + c.height * 44 / 100);
        if (i < 3) {
            EXPECT_NE(centre, (Px{0, 0, 0})) << "cell " << i;
        } else {
            EXPECT_EQ(centre, (Px{0, 0, 0})) << "cell " << i;
        }
    }
}

// What changes between two pictures and where: the moving box with the
// frame number, the clock corner with the time, the bottom strip of one cell
// with its overlay line.
TEST(PictureComposer, EachInputChangesOnlyItsPart) {
    struct Region {
        int x0, y0, x1, y1;
    };
    struct Case {
        const char* name;
        std::function<void(PictureComposer&)> change;
        std::vector<Region> regions;  // every differing pixel lies in one of these
    };
    const Case cases[] = {
        // The boxes: from half a cell's height down, a fifth of it tall.
        {"frame number",
         [](PictureComposer& p) { p.Compose(Division(4, 0), kClock, 40); },
         {{0, 120, kW, 120 + 48}, {0, 360, kW, 360 + 48}}},
        {"clock",
         [](PictureComposer& p) {
             p.Compose(Division(4, 0), DateTime{2031, 12, 24, 23, 59, 58}, 0);
         },
         {{0, 0, 300, kClockRows}}},
        // The strip along the bottom of the upper-right cell, inside its frame.
        {"overlay of channel 1",
         [](PictureComposer& p) {
             p.SetOverlayLine(1, "PTZ 2 LEFT");
             p.Compose(Division(4, 0), kClock, 0);
         },
         {{361, 221, 719, 239}}},
        {"overlay of a channel not on screen",
         [](PictureComposer& p) {
             p.SetOverlayLine(7, "PTZ 8 UP");
             p.Compose(Division(4, 0), kClock, 0);
         },
         {}},
    };
    PictureComposer before(kW, kH, 16);
    before.Compose(Division(4, 0), kClock, 0);
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        PictureComposer after(kW, kH, 16);
        tc.change(after);
        int inside = 0;
        int outside = 0;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                if (At(before, x, y) == At(after, x, y)) {
                    continue;
                }
                bool in = false;
                for (const Region& r : tc.regions) {
                    in = in || (x >= r.x0 && x < r.x1 && y >= r.y0 && y < r.y1);
                }
                (in ? inside : outside) += 1;
            }
        }
        EXPECT_EQ(outside, 0);
        EXPECT_EQ(inside > 0, !tc.regions.empty());
    }
}

TEST(PictureComposer, NoiseDiffersBySeedAndIsNotTheTestPicture) {
    PictureComposer a(320, 240, 16);
    PictureComposer b(320, 240, 16);
    a.ComposeNoise(1);
    b.ComposeNoise(2);
    PictureComposer again(320, 240, 16);
    again.ComposeNoise(1);
    EXPECT_EQ(DifferingPixels(a, 0, 0, 320, 240, again), 0);
    EXPECT_GT(DifferingPixels(a, 0, 0, 320, 240, b), 320 * 240 / 2);
    // Blocks of 4 x 4 pixels of one colour.
    EXPECT_EQ(At(a, 8, 16), At(a, 11, 19));
}

TEST(PictureComposer, OddSizesStayInsideTheBuffer) {
    // Sizes whose cells do not divide evenly; the sanitiser build catches any
    // write past the end.
    for (auto [w, h] : {std::pair{64, 64}, {66, 70}, {718, 598}, {1, 1}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        PictureComposer p(w, h, 16);
        for (const ScreenState& s : {Division(16, 0), Division(9, 7), Pip(0, 15), Pip(15, 0)}) {
            p.SetOverlayLine(0, "A LINE FAR LONGER THAN ANY CELL COULD EVER HOLD 0123456789");
            p.Compose(s, kClock, 123456789);
        }
        p.ComposeNoise(99);
        EXPECT_EQ(p.SizeBytes(), static_cast<std::size_t>(w) * h * 3);
    }
}

// ---------------------------------------------------------------- payloads

TEST(RecorderVideoPayloads, VideoHeader) {
    const Bytes key = recorder::EncodeVideoHeader(true, 0x01020304, 30);
    Bytes expected(32, 0);
    expected[4] = 1;
    expected[16] = 4;
    expected[17] = 3;
    expected[18] = 2;
    expected[19] = 1;
    expected[29] = 30;
    EXPECT_EQ(key, expected);
    const Bytes other = recorder::EncodeVideoHeader(false, 0, 0);
    EXPECT_EQ(other, Bytes(32, 0));
}

TEST(RecorderVideoPayloads, FrameStatusHeader) {
    ScreenState s;
    s.screenMode = 1;
    s.layout = 9;
    s.layoutParam = 3;
    s.layoutExtra = 0x25;
    s.keyLock = 1;
    s.channelStatus[0] = 0x100;
    s.channelStatus[15] = 0xA1B2C3D4;
    Bytes out(84, 0xEE);
    recorder::WriteFrameStatus(out.data(), s, DateTime{2008, 3, 1, 10, 20, 30});
    Bytes expected(84, 0);
    const Bytes head = {1, 3, 0xD8, 0x07, 0, 30, 20, 10, 1, 9, 3, 0x25, 1};
    std::copy(head.begin(), head.end(), expected.begin());
    expected[21] = 0x01;  // word 0 = 0x100
    expected[80] = 0xD4;
    expected[81] = 0xC3;
    expected[82] = 0xB2;
    expected[83] = 0xA1;
    EXPECT_EQ(out, expected);
}

TEST(RecorderVideoPayloads, CameraTitles) {
    const std::string longTitle = "A TITLE OF MORE THAN TWENTY-SEVEN BYTES";
    const Bytes titles = recorder::EncodeCameraTitles(3, {{1, "GATE"}, {2, longTitle}, {7, "X"}});
    ASSERT_EQ(titles.size(), 96u);
    struct Expected {
        std::uint32_t channel;
        std::string text;
    };
    const Expected expected[] = {{0, "CAM 01"}, {1, "GATE"}, {2, longTitle.substr(0, 27)}};
    for (int i = 0; i < 3; ++i) {
        const std::uint8_t* r = titles.data() + 32 * i;
        EXPECT_EQ(r[0] | r[1] << 8 | r[2] << 16 | r[3] << 24, expected[i].channel);
        Bytes text(r + 4, r + 32);
        Bytes want(28, 0);
        std::copy(expected[i].text.begin(), expected[i].text.end(), want.begin());
        EXPECT_EQ(text, want) << "record " << i;
    }
    EXPECT_TRUE(recorder::EncodeCameraTitles(0, {}).empty());
    EXPECT_EQ(recorder::DefaultCameraTitle(15), "CAM 16");
}

TEST(RecorderVideoPayloads, DateTimeFromEpoch) {
    struct Case {
        std::int64_t seconds;
        DateTime expected;
    };
    const Case cases[] = {
        {0, {1970, 1, 1, 0, 0, 0}},
        {-1, {1969, 12, 31, 23, 59, 59}},
        {951782400, {2000, 2, 29, 0, 0, 0}},  // leap day of a 400 year
        {1204366830, {2008, 3, 1, 10, 20, 30}},
        {1230767999, {2008, 12, 31, 23, 59, 59}},  // end of a leap year
        {4107542400, {2100, 3, 1, 0, 0, 0}},       // 2100 has no 29 February
        {4107456000, {2100, 2, 28, 0, 0, 0}},
        {2147483647, {2038, 1, 19, 3, 14, 7}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.seconds);
        const DateTime t = recorder::DateTimeFromEpoch(tc.seconds);
        EXPECT_EQ(t.year, tc.expected.year);
        EXPECT_EQ(t.month, tc.expected.month);
        EXPECT_EQ(t.day, tc.expected.day);
        EXPECT_EQ(t.hour, tc.expected.hour);
        EXPECT_EQ(t.minute, tc.expected.minute);
        EXPECT_EQ(t.second, tc.expected.second);
    }
}

// ---------------------------------------------------------------- options

TEST(RecorderVideoOptions, Defaults) {
    recorder::RecorderConfig cfg;
    std::string message;
    ASSERT_EQ(recorder::ParseRecorderOptions({}, &cfg, &message), recorder::OptionsResult::kRun);
    EXPECT_TRUE(cfg.streamVideo);
    EXPECT_EQ(cfg.videoWidth, 720);
    EXPECT_EQ(cfg.videoHeight, 480);
    EXPECT_EQ(cfg.fps, 30);
    EXPECT_EQ(cfg.gop, 30);
    EXPECT_EQ(cfg.initialLayout, 16);
    EXPECT_TRUE(cfg.cameraTitles.empty());
    EXPECT_EQ(cfg.clockOffsetSeconds, 0);
    // Made in-process, a recorder does not stream unless asked.
    EXPECT_FALSE(recorder::RecorderConfig{}.streamVideo);
}

TEST(RecorderVideoOptions, EachOptionSetsItsField) {
    struct Case {
        std::vector<std::string> args;
        std::function<void(const recorder::RecorderConfig&)> check;
    };
    const std::string longTitle(40, 'T');
    const Case cases[] = {
        {{"--no-video"}, [](const auto& c) { EXPECT_FALSE(c.streamVideo); }},
        {{"--size", "352x240"},
         [](const auto& c) {
             EXPECT_EQ(c.videoWidth, 352);
             EXPECT_EQ(c.videoHeight, 240);
         }},
        {{"--size=720X600"},
         [](const auto& c) {
             EXPECT_EQ(c.videoWidth, 720);
             EXPECT_EQ(c.videoHeight, 600);
         }},
        {{"--fps", "1", "--gop", "1000"},
         [](const auto& c) {
             EXPECT_EQ(c.fps, 1);
             EXPECT_EQ(c.gop, 1000);
         }},
        {{"--fps=60"}, [](const auto& c) { EXPECT_EQ(c.fps, 60); }},
        {{"--layout", "4"}, [](const auto& c) { EXPECT_EQ(c.initialLayout, 4); }},
        {{"--layout", "1"}, [](const auto& c) { EXPECT_EQ(c.initialLayout, 1); }},
        {{"--title", "1:FRONT DOOR", "--title", "16:YARD:EAST", "--title", "1:GATE"},
         [](const auto& c) {
             EXPECT_EQ(c.cameraTitles,
                       (std::map<int, std::string>{{0, "GATE"}, {15, "YARD:EAST"}}));
         }},
        {{"--title", "3:" + longTitle},
         [&](const auto& c) { EXPECT_EQ(c.cameraTitles.at(2), longTitle.substr(0, 27)); }},
        {{"--title", "2:"}, [](const auto& c) { EXPECT_EQ(c.cameraTitles.at(1), ""); }},
        {{"--clock-offset", "-3600"},
         [](const auto& c) { EXPECT_EQ(c.clockOffsetSeconds, -3600); }},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.args[0]);
        recorder::RecorderConfig cfg;
        std::string message;
        ASSERT_EQ(recorder::ParseRecorderOptions(tc.args, &cfg, &message),
                  recorder::OptionsResult::kRun)
            << message;
        tc.check(cfg);
    }
}

TEST(RecorderVideoOptions, BadValuesAreRefused) {
    const std::vector<std::vector<std::string>> cases = {
        {"--size", "722x480"}, {"--size", "720x602"}, {"--size", "62x64"},
        {"--size", "719x480"}, {"--size", "720x479"}, {"--size", "720"},
        {"--size", "x480"},    {"--size", "720x"},    {"--size", "-720x480"},
        {"--fps", "0"},        {"--fps", "61"},       {"--gop", "0"},
        {"--gop", "1001"},     {"--layout", "2"},     {"--layout", "0"},
        {"--title", "0:X"},    {"--title", "256:X"},  {"--title", "GATE"},
        {"--title", ":X"},     {"--no-video=1"},      {"--clock-offset", "soon"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.size() > 1 ? args[0] + " " + args[1] : args[0]);
        recorder::RecorderConfig cfg;
        std::string message;
        EXPECT_EQ(recorder::ParseRecorderOptions(args, &cfg, &message),
                  recorder::OptionsResult::kError);
        EXPECT_FALSE(message.empty());
    }
}

}  // namespace
