// Vidcore: streams from the simulator's encoder decoded one access unit per
// call, compared picture by picture with plain libavcodec decoding of the
// same stream; clearing and resetting; damaged and cut-up input; the output
// capacity; handles.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/crc.h>
#include <libswscale/swscale.h>
}

#include "bench/synthetic_video.h"
#include "media/vidcore.h"
#include "recorder/h264_encoder.h"

namespace {

constexpr std::uint32_t kClientCapacity = 1296000;

struct Clip {
    int width = 0;
    int height = 0;
    std::vector<std::vector<std::uint8_t>> units;     // one access unit per picture
    std::vector<bool> keys;                           // key frame flags
    std::vector<std::vector<std::uint8_t>> pictures;  // the BGR sources
};

// A clip of the moving test scene; the scene moves four steps per picture so
// that neighbouring pictures differ clearly.
Clip MakeClip(int width, int height, int frames, int gop) {
    Clip clip;
    clip.width = width;
    clip.height = height;
    recorder::H264Encoder encoder;
    std::string error;
    EXPECT_TRUE(encoder.Open({width, height, 30, gop}, &error)) << error;
    for (int i = 0; i < frames; ++i) {
        std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) * height * 3);
        bench::DrawTestPicture(width, height, i * 4, picture.data());
        std::vector<std::uint8_t> unit;
        bool key = false;
        EXPECT_TRUE(encoder.Encode(picture.data(), &unit, &key)) << "picture " << i;
        clip.units.push_back(std::move(unit));
        clip.keys.push_back(key);
        clip.pictures.push_back(std::move(picture));
    }
    return clip;
}

// The same tiny clip for every test that needs one: 176x144, key frames at 0
// and 10.
const Clip& SharedClip() {
    static const Clip clip = MakeClip(176, 144, 20, 10);
    return clip;
}

std::uint32_t Crc(const std::uint8_t* data, std::size_t size) {
    return av_crc(av_crc_get_table(AV_CRC_32_IEEE), 0, data, size);
}

double MeanAbsDiff(const std::vector<std::uint8_t>& a, const std::uint8_t* b) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    return a.empty() ? 0 : double(sum) / double(a.size());
}

// Plain libavcodec with default settings, each picture converted to BGR24 as
// any application would; the stream is drained at the end.
std::vector<std::uint32_t> ReferenceCrcs(const std::vector<std::vector<std::uint8_t>>& units) {
    std::vector<std::uint32_t> crcs;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* sws = nullptr;
    std::vector<std::uint8_t> bgr;
    EXPECT_GE(avcodec_open2(ctx, codec, nullptr), 0);
    auto receive = [&] {
        while (avcodec_receive_frame(ctx, frame) >= 0) {
            const int w = frame->width;
            const int h = frame->height;
            sws = sws_getCachedContext(sws, w, h, AVPixelFormat(frame->format), w, h,
                                       AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
            bgr.resize(std::size_t(w) * h * 3);
            std::uint8_t* const dst[4] = {bgr.data(), nullptr, nullptr, nullptr};
            const int stride[4] = {w * 3, 0, 0, 0};
            sws_scale(sws, frame->data, frame->linesize, 0, h, dst, stride);
            crcs.push_back(Crc(bgr.data(), bgr.size()));
            av_frame_unref(frame);
        }
    };
    for (const auto& unit : units) {
        av_new_packet(packet, static_cast<int>(unit.size()));
        std::copy(unit.begin(), unit.end(), packet->data);
        avcodec_send_packet(ctx, packet);
        av_packet_unref(packet);
        receive();
    }
    avcodec_send_packet(ctx, nullptr);
    receive();
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return crcs;
}

// One decoder instance and the client's picture slot, with guard bytes behind
// the capacity handed to the decoder.
class Vidcore {
public:
    static constexpr std::size_t kGuard = 4096;

    explicit Vidcore(std::uint32_t capacity = kClientCapacity, std::uint8_t fill = 0xA5)
        : m_capacity(capacity), m_fill(fill), m_buffer(capacity + kGuard, fill) {
        m_handle = CODECAPI_DecodeInit(0, 0, 1);
        EXPECT_NE(m_handle, 0u);
        m_params.size = sizeof(DecodeFrameParams);
    }
    ~Vidcore() { CODECAPI_DecodeUninit(m_handle); }
    Vidcore(const Vidcore&) = delete;
    Vidcore& operator=(const Vidcore&) = delete;

    int Decode(const std::uint8_t* data, std::size_t size) {
        m_params.input = data;
        m_params.inputLength = static_cast<std::uint32_t>(size);
        m_params.output = m_buffer.data();
        m_params.outputCapacity = m_capacity;
        return CODECAPI_DecodeFrameVideo(m_handle, &m_params);
    }
    int Decode(const std::vector<std::uint8_t>& unit) { return Decode(unit.data(), unit.size()); }

    // Like the client: a key frame starts from a cleared decoder.
    int DecodeAsClient(const Clip& clip, std::size_t i) {
        if (clip.keys[i])
            MemClear();
        return Decode(clip.units[i]);
    }

    void MemClear() { CODECAPI_DecodeMemClear(m_handle); }
    void Reset() { CODECAPI_DecodeReset(m_handle); }

    std::uint32_t handle() const { return m_handle; }
    const DecodeFrameParams& params() const { return m_params; }
    const std::uint8_t* picture() const { return m_buffer.data(); }
    std::size_t pictureBytes() const { return std::size_t(m_params.width) * m_params.height * 3; }
    std::uint32_t pictureCrc() const { return Crc(picture(), pictureBytes()); }

    // Every byte from `from` to the end of the guard still holds the fill.
    bool UntouchedFrom(std::size_t from) const {
        return std::all_of(m_buffer.begin() + static_cast<std::ptrdiff_t>(from), m_buffer.end(),
                           [this](std::uint8_t b) { return b == m_fill; });
    }

    // A decoded picture never exceeds the capacity, and nothing lands behind it.
    void ExpectSanePicture(int result, const std::string& where) const {
        if (result == 0)
            return;
        EXPECT_GT(m_params.width, 0u) << where;
        EXPECT_GT(m_params.height, 0u) << where;
        EXPECT_LE(pictureBytes(), m_capacity) << where;
        EXPECT_TRUE(UntouchedFrom(m_capacity)) << where;
    }

private:
    std::uint32_t m_handle = 0;
    std::uint32_t m_capacity;
    std::uint8_t m_fill;
    std::vector<std::uint8_t> m_buffer;
    DecodeFrameParams m_params{};
};

TEST(Vidcore, RoundTripGivesEachPictureFromItsOwnCall) {
    const Clip& clip = SharedClip();
    Vidcore dec;
    for (std::size_t i = 0; i < clip.units.size(); ++i) {
        ASSERT_NE(dec.DecodeAsClient(clip, i), 0) << "frame " << i;
        ASSERT_EQ(dec.params().width, 176u);
        ASSERT_EQ(dec.params().height, 144u);
        const double own = MeanAbsDiff(clip.pictures[i], dec.picture());
        EXPECT_LT(own, 8.0) << "frame " << i;
        if (i > 0) {
            // Closer to its own source than to the one before: no picture of
            // delay anywhere in the decoder.
            EXPECT_LT(own, MeanAbsDiff(clip.pictures[i - 1], dec.picture())) << "frame " << i;
        }
    }
}

// Bit-exact against plain libavcodec: the no-delay settings and the
// conversion straight into the caller's buffer change no pixel. 48 pixels
// make rows whose length is no multiple of 16 bytes.
TEST(Vidcore, PicturesEqualPlainLibavcodecDecode) {
    struct Case {
        int width, height, frames, gop;
    };
    const Case cases[] = {{176, 144, 20, 10}, {96, 64, 12, 6}, {48, 32, 8, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const Clip clip = MakeClip(c.width, c.height, c.frames, c.gop);
        const std::vector<std::uint32_t> reference = ReferenceCrcs(clip.units);
        ASSERT_EQ(reference.size(), clip.units.size());
        Vidcore dec;
        std::vector<std::uint32_t> ours;
        for (std::size_t i = 0; i < clip.units.size(); ++i) {
            ASSERT_NE(dec.DecodeAsClient(clip, i), 0) << "frame " << i;
            EXPECT_EQ(dec.params().width, std::uint32_t(c.width));
            EXPECT_EQ(dec.params().height, std::uint32_t(c.height));
            EXPECT_TRUE(dec.UntouchedFrom(dec.pictureBytes())) << "frame " << i;
            ours.push_back(dec.pictureCrc());
        }
        EXPECT_EQ(ours, reference);
    }
}

// Widths that are no multiple of 16 pixels: cropped pictures, and what the
// converter's block-wise routines handle badly when they write straight into
// a buffer of the picture's own size. Every byte of the picture is written
// (two buffers with different fill end up equal), nothing behind it, and the
// right-hand column is as close to the source as the rest.
TEST(Vidcore, WidthsThatAreNoWholeBlock) {
    const std::pair<int, int> sizes[] = {{90, 50}, {34, 18}, {104, 48}, {360, 32}, {200, 20}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const Clip clip = MakeClip(width, height, 6, 3);
        const std::uint32_t exact = std::uint32_t(width) * height * 3;
        Vidcore zeros(exact, 0x00);
        Vidcore ones(exact, 0xFF);
        for (std::size_t i = 0; i < clip.units.size(); ++i) {
            ASSERT_NE(zeros.DecodeAsClient(clip, i), 0) << "frame " << i;
            ASSERT_NE(ones.DecodeAsClient(clip, i), 0) << "frame " << i;
            ASSERT_EQ(zeros.params().width, std::uint32_t(width));
            ASSERT_EQ(zeros.params().height, std::uint32_t(height));
            EXPECT_TRUE(zeros.UntouchedFrom(exact)) << "frame " << i;
            EXPECT_TRUE(ones.UntouchedFrom(exact)) << "frame " << i;
            EXPECT_TRUE(std::equal(zeros.picture(), zeros.picture() + exact, ones.picture()))
                << "frame " << i;

            const std::vector<std::uint8_t>& src = clip.pictures[i];
            std::uint64_t edge = 0;
            for (int y = 0; y < height; ++y) {
                for (int c = 0; c < 3; ++c) {
                    const std::size_t at = (std::size_t(y) * width + width - 1) * 3 + c;
                    edge += std::abs(int(src[at]) - int(zeros.picture()[at]));
                }
            }
            EXPECT_LT(double(edge) / (height * 3), 20.0) << "right column of frame " << i;
            EXPECT_LT(MeanAbsDiff(src, zeros.picture()), 12.0) << "frame " << i;
        }
    }
}

// After MemClear the stream can be joined at any key frame, and the pictures
// from there on are exactly those of an uninterrupted decode.
TEST(Vidcore, MemClearThenKeyFrameDecodesAlone) {
    const Clip& clip = SharedClip();
    const std::vector<std::uint32_t> reference = ReferenceCrcs(clip.units);
    struct Case {
        const char* what;
        std::size_t decodedBefore;  // frames decoded before the clear
        bool reset;                 // Reset after MemClear, as on reconnect
    };
    const Case cases[] = {{"fresh decoder", 0, false},
                          {"mid-stream", 14, false},
                          {"right after the previous key frame", 11, false},
                          {"reconnect: MemClear and Reset", 17, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Vidcore dec;
        for (std::size_t i = 0; i < c.decodedBefore; ++i)
            dec.DecodeAsClient(clip, i);
        dec.MemClear();
        if (c.reset)
            dec.Reset();
        for (std::size_t i = 10; i < clip.units.size(); ++i) {
            ASSERT_NE(dec.Decode(clip.units[i]), 0) << "frame " << i;
            EXPECT_EQ(dec.pictureCrc(), reference[i]) << "frame " << i;
        }
    }
}

// Joining at a picture that is not a key frame yields a picture or 0 (the
// caller drops the frame); either way the next key frame puts things right.
TEST(Vidcore, MemClearThenNonKeyFrameIsHarmless) {
    const Clip& clip = SharedClip();
    const std::vector<std::uint32_t> reference = ReferenceCrcs(clip.units);
    for (std::size_t start : {1u, 5u, 13u}) {
        SCOPED_TRACE("start at frame " + std::to_string(start));
        Vidcore dec;
        if (start > 10) {
            for (std::size_t i = 0; i < 4; ++i)
                dec.DecodeAsClient(clip, i);
        }
        dec.MemClear();
        for (std::size_t i = start; i < clip.units.size(); ++i) {
            const int result = dec.DecodeAsClient(clip, i);
            dec.ExpectSanePicture(result, "frame " + std::to_string(i));
            if (i >= 10 && start < 10) {
                ASSERT_NE(result, 0) << "frame " << i;
                EXPECT_EQ(dec.pictureCrc(), reference[i]) << "frame " << i;
            }
        }
    }
}

// The same decoder follows a change of picture size at a key frame.
TEST(Vidcore, FollowsPictureSizeChangeAtKeyFrame) {
    const Clip small = MakeClip(96, 64, 4, 4);
    const Clip& large = SharedClip();
    const std::vector<std::uint32_t> smallRef = ReferenceCrcs(small.units);
    const std::vector<std::uint32_t> largeRef = ReferenceCrcs(large.units);
    Vidcore dec;
    for (const Clip* clip : {&large, &small, &large}) {
        const auto& ref = clip == &small ? smallRef : largeRef;
        for (std::size_t i = 0; i < 4; ++i) {
            ASSERT_NE(dec.DecodeAsClient(*clip, i), 0);
            EXPECT_EQ(dec.params().width, std::uint32_t(clip->width));
            EXPECT_EQ(dec.pictureCrc(), ref[i]);
        }
    }
}

TEST(Vidcore, PictureLargerThanCapacityWritesNothing) {
    const Clip& clip = SharedClip();
    const std::uint32_t exact = 176 * 144 * 3;
    struct Case {
        const char* what;
        std::uint32_t capacity;
        bool decodes;
    };
    const Case cases[] = {{"exact fit", exact, true},
                          {"one byte short", exact - 1, false},
                          {"one row short", exact - 176 * 3, false},
                          {"no capacity", 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Vidcore dec(c.capacity);
        for (std::size_t i = 0; i < 3; ++i) {
            const int result = dec.DecodeAsClient(clip, i);
            EXPECT_EQ(result != 0, c.decodes) << "frame " << i;
            if (c.decodes) {
                EXPECT_TRUE(dec.UntouchedFrom(exact)) << "frame " << i;
            } else {
                EXPECT_TRUE(dec.UntouchedFrom(0)) << "frame " << i;
                EXPECT_EQ(dec.params().width, 0u);
                EXPECT_EQ(dec.params().height, 0u);
            }
        }
    }
}

// Damaged frames in the middle of a stream: every call returns 0 or a sane
// picture, and the next key frame after a MemClear decodes exactly.
TEST(Vidcore, DamagedFramesNeverHurt) {
    const Clip& clip = SharedClip();
    const std::vector<std::uint32_t> reference = ReferenceCrcs(clip.units);
    const std::vector<std::uint8_t>& key = clip.units[0];
    const std::vector<std::uint8_t>& inter = clip.units[3];

    auto cut = [](const std::vector<std::uint8_t>& unit, std::size_t n) {
        return std::vector<std::uint8_t>(unit.begin(), unit.begin() + std::min(n, unit.size()));
    };
    auto randomAfterStartCode = [](unsigned seed, std::size_t n) {
        std::mt19937 rng(seed);
        std::vector<std::uint8_t> v{0, 0, 0, 1};
        for (std::size_t i = 0; i < n; ++i)
            v.push_back(static_cast<std::uint8_t>(rng()));
        return v;
    };
    // Valid start, then flipped bits throughout the slice data.
    auto flipped = [](std::vector<std::uint8_t> unit, unsigned seed) {
        std::mt19937 rng(seed);
        for (std::size_t i = 40; i < unit.size(); i += 1 + rng() % 64)
            unit[i] ^= 1u << (rng() % 8);
        return unit;
    };
    // A key frame whose SPS claims another picture size: header bytes
    // overwritten where the size fields sit.
    auto badSps = [](std::vector<std::uint8_t> unit) {
        for (std::size_t i = 8; i < 14 && i < unit.size(); ++i)
            unit[i] = 0xFF;
        return unit;
    };

    struct Case {
        const char* what;
        std::vector<std::uint8_t> data;
    };
    const Case cases[] = {
        {"zero length", {}},
        {"start code only", {0, 0, 0, 1}},
        {"key frame cut at 8 bytes", cut(key, 8)},
        {"key frame cut at 500 bytes", cut(key, 500)},
        {"key frame cut in half", cut(key, key.size() / 2)},
        {"inter frame cut at 8 bytes", cut(inter, 8)},
        {"inter frame cut in half", cut(inter, inter.size() / 2)},
        {"key frame with flipped bits", flipped(key, 1)},
        {"inter frame with flipped bits", flipped(inter, 2)},
        {"key frame with damaged SPS", badSps(key)},
        {"10 random bytes after a start code", randomAfterStartCode(3, 10)},
        {"4000 random bytes after a start code", randomAfterStartCode(4, 4000)},
        {"64 KiB random bytes after a start code", randomAfterStartCode(5, 65536)},
        {"two key frames glued together",
         [&] {
             std::vector<std::uint8_t> v = key;
             v.insert(v.end(), clip.units[10].begin(), clip.units[10].end());
             return v;
         }()},
        {"all 0xFF", std::vector<std::uint8_t>(3000, 0xFF)},
        {"all zero", std::vector<std::uint8_t>(3000, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Vidcore dec;
        // Alone on a fresh decoder, then in the middle of the stream.
        dec.ExpectSanePicture(dec.Decode(c.data.data(), c.data.size()), "fresh");
        for (std::size_t i = 0; i < 5; ++i)
            dec.DecodeAsClient(clip, i);
        dec.ExpectSanePicture(dec.Decode(c.data.data(), c.data.size()), "mid-stream");
        for (std::size_t i = 5; i < 10; ++i) {
            dec.ExpectSanePicture(dec.Decode(clip.units[i]), "frame " + std::to_string(i));
        }
        ASSERT_NE(dec.DecodeAsClient(clip, 10), 0);
        EXPECT_EQ(dec.pictureCrc(), reference[10]);
    }
}

// The whole stream fed in pieces that ignore frame boundaries, as a
// receiver with the wrong framing would: nothing but 0 or sane pictures.
TEST(Vidcore, StreamFedInArbitraryPiecesNeverHurts) {
    const Clip& clip = SharedClip();
    const std::vector<std::uint32_t> reference = ReferenceCrcs(clip.units);
    std::vector<std::uint8_t> stream;
    for (const auto& unit : clip.units)
        stream.insert(stream.end(), unit.begin(), unit.end());

    for (std::size_t piece : {8u, 500u, 1777u}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        Vidcore dec;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            const std::size_t n = std::min(piece, stream.size() - at);
            dec.ExpectSanePicture(dec.Decode(stream.data() + at, n), "at " + std::to_string(at));
        }
        // And with its start cut off.
        for (std::size_t at = 7; at < stream.size(); at += piece) {
            const std::size_t n = std::min(piece, stream.size() - at);
            dec.ExpectSanePicture(dec.Decode(stream.data() + at, n), "at " + std::to_string(at));
        }
        ASSERT_NE(dec.DecodeAsClient(clip, 0), 0);
        EXPECT_EQ(dec.pictureCrc(), reference[0]);
    }
}

TEST(Vidcore, RefusesMissingBuffers) {
    const Clip& clip = SharedClip();
    Vidcore dec;
    EXPECT_EQ(CODECAPI_DecodeFrameVideo(dec.handle(), nullptr), 0);

    std::vector<std::uint8_t> out(kClientCapacity);
    DecodeFrameParams p{};
    p.size = sizeof p;
    p.outputCapacity = kClientCapacity;
    p.output = out.data();
    p.input = nullptr;
    p.inputLength = 100;
    EXPECT_EQ(CODECAPI_DecodeFrameVideo(dec.handle(), &p), 0) << "no input";
    p.input = clip.units[0].data();
    p.inputLength = static_cast<std::uint32_t>(clip.units[0].size());
    p.output = nullptr;
    EXPECT_EQ(CODECAPI_DecodeFrameVideo(dec.handle(), &p), 0) << "no output";
    p.output = out.data();
    EXPECT_NE(CODECAPI_DecodeFrameVideo(dec.handle(), &p), 0) << "the decoder is still fine";
}

TEST(Vidcore, UnknownAndEndedHandlesAreIgnored) {
    const Clip& clip = SharedClip();
    std::vector<std::uint8_t> out(kClientCapacity);
    DecodeFrameParams p{};
    p.size = sizeof p;
    p.input = clip.units[0].data();
    p.inputLength = static_cast<std::uint32_t>(clip.units[0].size());
    p.output = out.data();
    p.outputCapacity = kClientCapacity;

    for (std::uint32_t h : {0u, 12345u, 0xFFFFFFFFu}) {
        EXPECT_EQ(CODECAPI_DecodeFrameVideo(h, &p), 0) << h;
        CODECAPI_DecodeMemClear(h);
        CODECAPI_DecodeReset(h);
        CODECAPI_DecodeUninit(h);
    }

    const std::uint32_t first = CODECAPI_DecodeInit(0, 0, 1);
    ASSERT_NE(first, 0u);
    CODECAPI_DecodeUninit(first);
    EXPECT_EQ(CODECAPI_DecodeFrameVideo(first, &p), 0);
    CODECAPI_DecodeUninit(first);  // second time: nothing happens

    // A new instance may take the freed slot; the old handle still names
    // nothing, so a late Uninit through it leaves the new one alone.
    const std::uint32_t second = CODECAPI_DecodeInit(0, 0, 1);
    ASSERT_NE(second, 0u);
    EXPECT_NE(second, first);
    CODECAPI_DecodeUninit(first);
    CODECAPI_DecodeMemClear(first);
    EXPECT_NE(CODECAPI_DecodeFrameVideo(second, &p), 0);
    CODECAPI_DecodeUninit(second);
}

TEST(Vidcore, InstancesAreBoundedAndReusable) {
    std::vector<std::uint32_t> handles;
    for (int i = 0; i < 1000; ++i) {
        const std::uint32_t h = CODECAPI_DecodeInit(0, 0, 1);
        if (h == 0)
            break;
        handles.push_back(h);
    }
    EXPECT_GT(handles.size(), 1u);
    EXPECT_LT(handles.size(), 1000u) << "the table has a limit";
    std::vector<std::uint32_t> sorted = handles;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "distinct";

    CODECAPI_DecodeUninit(handles.back());
    handles.pop_back();
    const std::uint32_t again = CODECAPI_DecodeInit(0, 0, 1);
    EXPECT_NE(again, 0u) << "a freed slot is given out again";
    handles.push_back(again);
    for (std::uint32_t h : handles)
        CODECAPI_DecodeUninit(h);
}

// Instances are independent: two threads decoding the same stream on their
// own instances both get the reference pictures.
TEST(Vidcore, InstancesOnTwoThreads) {
    const Clip& clip = SharedClip();
    const std::vector<std::uint32_t> reference = ReferenceCrcs(clip.units);
    std::vector<std::uint32_t> crcs[2];
    auto run = [&](int t) {
        Vidcore dec;
        for (int pass = 0; pass < 3; ++pass) {
            for (std::size_t i = 0; i < clip.units.size(); ++i) {
                if (dec.DecodeAsClient(clip, i) != 0 && pass == 2) {
                    crcs[t].push_back(dec.pictureCrc());
                }
            }
        }
    };
    std::thread a(run, 0);
    std::thread b(run, 1);
    a.join();
    b.join();
    EXPECT_EQ(crcs[0], reference);
    EXPECT_EQ(crcs[1], reference);
}

// An instance ended on one thread while another is decoding with it: the
// running call finishes, later calls return 0.
TEST(Vidcore, UninitWhileDecodingOnAnotherThread) {
    const Clip& clip = SharedClip();
    const std::uint32_t handle = CODECAPI_DecodeInit(0, 0, 1);
    ASSERT_NE(handle, 0u);
    std::atomic<int> decoded{0};
    std::atomic<bool> ended{false};
    int afterEnd = 0;
    std::thread worker([&] {
        std::vector<std::uint8_t> out(kClientCapacity);
        DecodeFrameParams p{};
        p.size = sizeof p;
        p.output = out.data();
        p.outputCapacity = kClientCapacity;
        auto decode = [&](std::size_t i) {
            if (clip.keys[i])
                CODECAPI_DecodeMemClear(handle);
            p.input = clip.units[i].data();
            p.inputLength = static_cast<std::uint32_t>(clip.units[i].size());
            return CODECAPI_DecodeFrameVideo(handle, &p);
        };
        std::size_t i = 0;
        // Ended is set only after Uninit has returned.
        for (int n = 0; n < 1000000 && !ended.load(); ++n, i = (i + 1) % clip.units.size()) {
            decoded += decode(i) != 0;
        }
        for (int n = 0; n < 5; ++n, i = (i + 1) % clip.units.size())
            afterEnd += decode(i) != 0;
    });
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (decoded.load() < 5 && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::yield();
    }
    EXPECT_GE(decoded.load(), 5);
    CODECAPI_DecodeUninit(handle);
    ended = true;
    worker.join();
    EXPECT_EQ(afterEnd, 0);
}

}  // namespace
