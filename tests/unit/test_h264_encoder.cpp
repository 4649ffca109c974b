// The simulator's H.264 encoder: settings it refuses, one access unit per
// picture, key frames where the client expects them, each one joinable.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/annexb.h"
#include "bench/synthetic_video.h"
#include "recorder/h264_encoder.h"

namespace {

using recorder::H264Encoder;

// NAL unit types in one access unit, in order.
std::vector<int> NalTypes(const std::vector<std::uint8_t>& unit) {
    std::vector<int> types;
    for (std::size_t i = 0; i + 3 < unit.size(); ++i) {
        if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1) {
            types.push_back(unit[i + 3] & 0x1F);
            i += 2;
        }
    }
    return types;
}

bool StartsWithLongStartCode(const std::vector<std::uint8_t>& unit) {
    return unit.size() > 4 && unit[0] == 0 && unit[1] == 0 && unit[2] == 0 && unit[3] == 1;
}

int CountOf(const std::vector<int>& v, int value) {
    int n = 0;
    for (int x : v)
        n += x == value ? 1 : 0;
    return n;
}

class EncoderClip {
public:
    explicit EncoderClip(H264Encoder::Settings s) : m_settings(s) {
        m_picture.resize(static_cast<std::size_t>(s.width) * s.height * 3);
        std::string error;
        m_open = m_encoder.Open(s, &error);
        EXPECT_TRUE(m_open) << error;
    }

    // Encodes the next picture of the test scene.
    bool Next(std::vector<std::uint8_t>* unit, bool* key) {
        bench::DrawTestPicture(m_settings.width, m_settings.height, m_index++ * 4,
                               m_picture.data());
        return m_encoder.Encode(m_picture.data(), unit, key);
    }

    H264Encoder& encoder() { return m_encoder; }

private:
    H264Encoder::Settings m_settings;
    H264Encoder m_encoder;
    std::vector<std::uint8_t> m_picture;
    int m_index = 0;
    bool m_open = false;
};

TEST(H264Encoder, RefusesBadSettings) {
    struct Case {
        const char* what;
        int width, height, fps, gop;
    };
    const Case cases[] = {
        {"odd width", 175, 144, 30, 30},
        {"odd height", 176, 143, 30, 30},
        {"too narrow", 8, 144, 30, 30},
        {"too tall", 176, 4098, 30, 30},
        {"zero size", 0, 0, 30, 30},
        {"negative width", -176, 144, 30, 30},
        {"no frame rate", 176, 144, 0, 30},
        {"absurd frame rate", 176, 144, 1000, 30},
        {"no key frame interval", 176, 144, 30, 0},
    };
    for (const Case& c : cases) {
        H264Encoder encoder;
        std::string error;
        EXPECT_FALSE(encoder.Open({c.width, c.height, c.fps, c.gop}, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
        EXPECT_FALSE(encoder.isOpen()) << c.what;
    }
}

TEST(H264Encoder, EncodeNeedsAnOpenEncoderAndAPicture) {
    H264Encoder encoder;
    std::vector<std::uint8_t> picture(176 * 144 * 3, 128);
    std::vector<std::uint8_t> out{1, 2, 3};
    bool key = true;
    EXPECT_FALSE(encoder.Encode(picture.data(), &out, &key));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(key);

    ASSERT_TRUE(encoder.Open({176, 144, 30, 10}, nullptr));
    EXPECT_FALSE(encoder.Encode(nullptr, &out, &key));
    EXPECT_TRUE(encoder.Encode(picture.data(), &out, &key));

    encoder.Close();
    EXPECT_FALSE(encoder.isOpen());
    EXPECT_FALSE(encoder.Encode(picture.data(), &out, &key));
}

// Key frames come every gop pictures; each is an IDR with SPS and PPS in
// front of it, so the client can start there. Every unit holds exactly one
// picture and starts with a four-byte start code.
TEST(H264Encoder, OneUnitPerPictureKeyFramesEveryGop) {
    constexpr int kGop = 10;
    EncoderClip clip({176, 144, 30, kGop});
    std::vector<std::uint8_t> unit;
    for (int i = 0; i < 25; ++i) {
        bool key = false;
        ASSERT_TRUE(clip.Next(&unit, &key)) << "picture " << i;
        EXPECT_TRUE(StartsWithLongStartCode(unit)) << "picture " << i;
        EXPECT_EQ(key, i % kGop == 0) << "picture " << i;
        EXPECT_EQ(bench::SplitAccessUnits(unit.data(), unit.size()).size(), 1u) << "picture " << i;

        const std::vector<int> types = NalTypes(unit);
        if (key) {
            ASSERT_GE(types.size(), 3u);
            EXPECT_EQ(types[0], 7) << "SPS first in key frame " << i;
            EXPECT_EQ(types[1], 8) << "PPS next in key frame " << i;
            EXPECT_GE(CountOf(types, 5), 1) << "IDR slice in key frame " << i;
            EXPECT_EQ(CountOf(types, 1), 0);
        } else {
            EXPECT_EQ(CountOf(types, 5), 0) << "picture " << i;
            EXPECT_EQ(CountOf(types, 7), 0) << "picture " << i;
            EXPECT_GE(CountOf(types, 1), 1) << "picture " << i;
        }
    }
}

TEST(H264Encoder, ForcedKeyFrameIsIdrAndRestartsTheInterval) {
    constexpr int kGop = 8;
    EncoderClip clip({96, 64, 25, kGop});
    std::vector<std::uint8_t> unit;
    std::vector<int> keys;
    for (int i = 0; i < 20; ++i) {
        if (i == 3)
            clip.encoder().ForceKeyFrame();
        bool key = false;
        ASSERT_TRUE(clip.Next(&unit, &key)) << "picture " << i;
        if (key) {
            keys.push_back(i);
            EXPECT_EQ(NalTypes(unit).front(), 7) << "picture " << i;
            EXPECT_GE(CountOf(NalTypes(unit), 5), 1) << "picture " << i;
        }
    }
    EXPECT_EQ(keys, (std::vector<int>{0, 3, 3 + kGop, 3 + 2 * kGop}));
}

TEST(H264Encoder, ReopenTakesNewSettings) {
    H264Encoder encoder;
    ASSERT_TRUE(encoder.Open({176, 144, 30, 30}, nullptr));
    std::vector<std::uint8_t> picture(176 * 144 * 3, 60);
    std::vector<std::uint8_t> unit;
    bool key = false;
    ASSERT_TRUE(encoder.Encode(picture.data(), &unit, &key));
    ASSERT_TRUE(encoder.Encode(picture.data(), &unit, &key));
    EXPECT_FALSE(key);

    ASSERT_TRUE(encoder.Open({64, 32, 10, 5}, nullptr));
    EXPECT_EQ(encoder.settings().width, 64);
    picture.assign(64 * 32 * 3, 200);
    ASSERT_TRUE(encoder.Encode(picture.data(), &unit, &key));
    EXPECT_TRUE(key) << "a reopened encoder starts with a key frame";
}

}  // namespace
