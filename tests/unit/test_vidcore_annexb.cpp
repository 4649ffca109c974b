// The Annex-B splitter that cuts recorded streams into the access units the
// decode benchmark feeds to Vidcore.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/annexb.h"
#include "bench/synthetic_video.h"
#include "recorder/h264_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A NAL unit with a four-byte (or three-byte) start code: header byte, then
// payload.
Bytes Nal(int type, Bytes payload, bool longCode = true) {
    Bytes v = longCode ? Bytes{0, 0, 0, 1} : Bytes{0, 0, 1};
    v.push_back(static_cast<std::uint8_t>(0x60 | type));
    v.insert(v.end(), payload.begin(), payload.end());
    return v;
}

// Slices: first_mb_in_slice 0 sets the top bit of the first payload byte.
Bytes FirstSlice(int type, bool longCode = true) {
    return Nal(type, {0x88, 0x84, 0x21}, longCode);
}
Bytes LaterSlice(int type) {
    return Nal(type, {0x42, 0x11, 0x22});
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes v;
    for (const Bytes& p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

struct Expected {
    std::size_t offset;
    std::size_t size;
    bool idr;
};

TEST(AnnexBSplitter, CutsWhereAPictureStarts) {
    const Bytes sps = Nal(7, {0x64, 0x00, 0x1E});
    const Bytes pps = Nal(8, {0xEE, 0x3C});
    const Bytes sei = Nal(6, {0x05, 0x01, 0x80});
    const Bytes aud = Nal(9, {0xF0});
    const Bytes idr = FirstSlice(5);
    const Bytes p1 = FirstSlice(1);
    const Bytes p1Short = FirstSlice(1, false);
    const Bytes p1More = LaterSlice(1);
    struct Case {
        const char* what;
        Bytes stream;
        std::vector<Expected> units;
    };
    const std::size_t keySize = sps.size() + pps.size() + idr.size();
    const Case cases[] = {
        {"empty", {}, {}},
        {"no start code", {1, 2, 3, 4, 5}, {}},
        {"key frame then two pictures",
         Concat({sps, pps, idr, p1, p1}),
         {{0, keySize, true},
          {keySize, p1.size(), false},
          {keySize + p1.size(), p1.size(), false}}},
        {"garbage in front is skipped", Concat({{7, 7, 7}, sps, pps, idr}), {{3, keySize, true}}},
        {"later slices stay with their picture",
         Concat({p1, p1More, p1More, p1}),
         {{0, p1.size() + 2 * p1More.size(), false},
          {p1.size() + 2 * p1More.size(), p1.size(), false}}},
        {"SEI after a picture opens the next one",
         Concat({p1, sei, p1}),
         {{0, p1.size(), false}, {p1.size(), sei.size() + p1.size(), false}}},
        {"delimiter opens a unit",
         Concat({aud, p1, aud, p1}),
         {{0, aud.size() + p1.size(), false},
          {aud.size() + p1.size(), aud.size() + p1.size(), false}}},
        {"SPS after a picture opens the next one",
         Concat({p1, sps, pps, idr}),
         {{0, p1.size(), false}, {p1.size(), keySize, true}}},
        {"three-byte start codes",
         Concat({p1Short, p1Short}),
         {{0, p1Short.size(), false}, {p1Short.size(), p1Short.size(), false}}},
        {"parameter sets with no picture after them",
         Concat({p1, sps, pps}),
         {{0, p1.size(), false}, {p1.size(), sps.size() + pps.size(), false}}},
        {"start code at the very end", Concat({p1, {0, 0, 1}}), {{0, p1.size() + 3, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<bench::AccessUnit> units =
            bench::SplitAccessUnits(c.stream.data(), c.stream.size());
        ASSERT_EQ(units.size(), c.units.size());
        for (std::size_t i = 0; i < units.size(); ++i) {
            EXPECT_EQ(units[i].offset, c.units[i].offset) << "unit " << i;
            EXPECT_EQ(units[i].size, c.units[i].size) << "unit " << i;
            EXPECT_EQ(units[i].idr, c.units[i].idr) << "unit " << i;
        }
    }
}

// The encoder's own stream, written back to back, comes apart into exactly
// the units it was made of.
TEST(AnnexBSplitter, RecoversTheEncodersUnits) {
    recorder::H264Encoder encoder;
    ASSERT_TRUE(encoder.Open({96, 64, 30, 5}, nullptr));
    std::vector<std::uint8_t> picture(96 * 64 * 3);
    Bytes stream;
    std::vector<Expected> expected;
    Bytes unit;
    for (int i = 0; i < 12; ++i) {
        bench::DrawTestPicture(96, 64, i, picture.data());
        bool key = false;
        ASSERT_TRUE(encoder.Encode(picture.data(), &unit, &key));
        expected.push_back({stream.size(), unit.size(), key});
        stream.insert(stream.end(), unit.begin(), unit.end());
    }
    const std::vector<bench::AccessUnit> units =
        bench::SplitAccessUnits(stream.data(), stream.size());
    ASSERT_EQ(units.size(), expected.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(units[i].offset, expected[i].offset) << "unit " << i;
        EXPECT_EQ(units[i].size, expected[i].size) << "unit " << i;
        EXPECT_EQ(units[i].idr, expected[i].idr) << "unit " << i;
    }
}

}  // namespace
