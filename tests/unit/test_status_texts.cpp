// Mode names, playback speed lines, statistics and the version text.

#include <gtest/gtest.h>

#include "control/status_texts.h"

using namespace status_texts;

namespace {
std::u16string Identity(std::u16string_view w) { return std::u16string(w); }
}  // namespace

TEST(StatusTexts, ModeNames) {
    const std::pair<int, std::u16string_view> cases[] = {
        {0, u"LIVE MODE"},   {1, u"PLAY MODE"},    {2, u"MENU MODE"},   {3, u"SEQUENCE MODE"},
        {4, u"PIP MODE"},    {5, u"ZOOM MODE"},    {6, u"FREEZE MODE"}, {7, u"SEARCH MODE"},
        {8, u"PTZ MODE"},    {9, u"RECORD MODE"},  {10, u"LOGIN MODE"}, {11, u"NONE MODE"},
        {12, u"NONE MODE"},  {15, u"DID MODE"},    {16, u"NONE MODE"},  {-1, u"NONE MODE"},
        {255, u"NONE MODE"},
    };
    for (const auto& [code, name] : cases) {
        EXPECT_EQ(ModeName(code), name) << code;
    }
}

TEST(StatusTexts, SpeedLinesForEveryIndex) {
    const std::u16string expected[16] = {
        u"FORWARD PLAY : SLOW 5", u"FORWARD PLAY : SLOW 4", u"FORWARD PLAY : SLOW 3",
        u"FORWARD PLAY : SLOW 2", u"FORWARD PLAY : SLOW 1", u"FORWARD PLAY : NORMAL",
        u"FORWARD PLAY : FAST 1", u"FORWARD PLAY : FAST 2", u"FORWARD PLAY : FAST 3",
        u"FORWARD PLAY : FAST 4", u"FORWARD PLAY : FAST 5", u"FORWARD PLAY : INVAILD Speed",
        u"FORWARD PLAY : INVAILD Speed", u"FORWARD PLAY : INVAILD Speed",
        u"FORWARD PLAY : INVAILD Speed", u"FORWARD PLAY : INVAILD Speed",
    };
    for (std::uint8_t i = 0; i < 16; ++i) {
        std::uint8_t last = 0xFF;
        auto line = SpeedLine(i, &last, Identity);
        ASSERT_TRUE(line.has_value()) << int(i);
        EXPECT_EQ(*line, expected[i]) << int(i);
        EXPECT_EQ(last, i);
    }
}

TEST(StatusTexts, SpeedLineSequences) {
    struct Step {
        std::uint8_t byte;
        std::optional<std::u16string> line;
    };
    const std::vector<std::vector<Step>> sequences = {
        // bit 6 is not part of the speed
        {{0x05, u"FORWARD PLAY : NORMAL"}, {0x45, std::nullopt}},
        {{0x25, u"BACKWARD PLAY : NORMAL"}},
        {{0x10, u"PAUSE"}, {0x30, u"PAUSE"}, {0x30, std::nullopt}},
        {{0x0B, u"FORWARD PLAY : INVAILD Speed"}},
        // the start value 0 matches a first byte of 0
        {{0x00, std::nullopt}, {0x27, u"BACKWARD PLAY : FAST 2"}, {0x07, u"FORWARD PLAY : FAST 2"}},
    };
    for (const auto& seq : sequences) {
        std::uint8_t last = 0;
        for (const Step& s : seq) {
            EXPECT_EQ(SpeedLine(s.byte, &last, Identity), s.line) << int(s.byte);
        }
    }
}

TEST(StatusTexts, SpeedWordsAreLookedUp) {
    std::uint8_t last = 0;
    auto german = [](std::u16string_view w) -> std::u16string {
        if (w == u"FAST") return u"SCHNELL";
        if (w == u"BACKWARD PLAY") return u"RUECKWAERTS";
        return std::u16string(w);
    };
    EXPECT_EQ(SpeedLine(0x28, &last, german), std::u16string(u"RUECKWAERTS : SCHNELL 3"));
}

TEST(StatusTexts, StatisticsStartThenCountPerSecond) {
    FrameStats s;
    // The first frame only starts the count.
    EXPECT_FALSE(CountFrame(&s, 1500).has_value());
    EXPECT_EQ(s.statSecond, 1u);
    s.bytesReceived = 4000;
    EXPECT_FALSE(CountFrame(&s, 1600).has_value());
    EXPECT_FALSE(CountFrame(&s, 1999).has_value());
    auto line = CountFrame(&s, 2000);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line, "<<< recv cnt, size : 3, 4000 \r\n");
    EXPECT_EQ(s.statFrames, 0u);
    EXPECT_EQ(s.bytesReceived, 0u);
    EXPECT_EQ(s.statSecond, 2u);
}

TEST(StatusTexts, VersionText) {
    using V = std::optional<std::pair<std::uint32_t, std::uint32_t>>;
    EXPECT_EQ(VersionText(V{{0x00010000, 0x00000001}}, 25), u"Ver 1. 0. 0. 1");
    EXPECT_EQ(VersionText(std::nullopt, 25), u"Ver Unknown ");
    // Five-digit parts would need 28 units: the text is cut to fit 24 + NUL.
    const std::u16string longest = VersionText(V{{0xFFFFFFFF, 0xFFFFFFFF}}, 25);
    EXPECT_EQ(longest.size(), 24u);
    EXPECT_EQ(longest, u"Ver 65535. 65535. 65535.");
}
