// The recorder's live video over loopback, read by a raw socket client of the
// test's own: titles after the login, then PT_VIDEO header and block pairs,
// the screen state in the frame status header, the flush, the faults, and
// several clients, slow ones among them. Pictures are decoded with plain
// libavcodec where their content matters.

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "outside/qremotesocket/wire_format.h"
#include "recorder/picture_composer.h"
#include "recorder/recorder.h"
#include "tests/integration/raw_client.h"

namespace {

using raw_client::Bytes;
using raw_client::Clock;
using raw_client::Frame;
using raw_client::RemainingMs;
using recorder::Recorder;
using recorder::RecorderConfig;

constexpr int kWaitMs = 5000;  // upper bound for anything that should be quick
constexpr std::uint16_t kVideo = 83;
constexpr std::uint16_t kTitles = 134;
constexpr std::uint16_t kFlush = 87;

// One video frame as the client sees it: the command header and the block.
struct Video {
    Bytes header;  // 32 bytes
    Bytes block;   // frame status header + H.264 data
    bool Key() const { return wire::ReadU32(header.data() + 4) == 1; }
    std::uint32_t TimeStamp() const { return wire::ReadU32(header.data() + 16); }
    int Fps() const { return header[29]; }
    const std::uint8_t* Status() const { return block.data(); }
    Bytes Data() const { return Bytes(block.begin() + 84, block.end()); }
};

// The shared raw client with this file's time-out, logged in as admin, and
// reading the video as header and block pairs.
class RawClient : public raw_client::Client {
public:
    explicit RawClient(int port, int receiveBuffer = 0) : Client(port, kWaitMs, receiveBuffer) {}

    // Init, hello, login; true when the login succeeded.
    bool LogIn() {
        std::string failure;
        auto reply = Login("admin", "1234", &failure);
        return reply && reply->size() == 32 && wire::ReadU32(reply->data()) == 1;
    }

    // The next video frame; other packets on the way are handed to `other`
    // (when given) or dropped. A block without its header, or a header
    // without its block, fails the test.
    std::optional<Video> ReadVideo(int timeoutMs = kWaitMs,
                                   const std::function<void(const Frame&)>& other = {}) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            auto f = Read(RemainingMs(deadline));
            if (!f) {
                return std::nullopt;
            }
            if (f->route == wire::kRouteCommand && f->type == kVideo) {
                auto block = Read(RemainingMs(deadline));
                if (!block || block->route != wire::kRouteStream || block->type != kVideo) {
                    ADD_FAILURE() << "a video header without its block";
                    return std::nullopt;
                }
                if (f->payload.size() != 32) {
                    ADD_FAILURE() << "video header of " << f->payload.size() << " bytes";
                    return std::nullopt;
                }
                return Video{std::move(f->payload), std::move(block->payload)};
            }
            if (f->route == wire::kRouteStream && f->type == kVideo) {
                ADD_FAILURE() << "a video block without its header";
                return std::nullopt;
            }
            if (other) {
                other(*f);
            }
        }
    }

    // Reads video frames until pred() holds for one (returned) or maxFrames
    // have passed.
    std::optional<Video> ReadVideoUntil(const std::function<bool(const Video&)>& pred,
                                        int maxFrames = 60) {
        for (int i = 0; i < maxFrames; ++i) {
            auto v = ReadVideo();
            if (!v) {
                return std::nullopt;
            }
            if (pred(*v)) {
                return v;
            }
        }
        return std::nullopt;
    }
};

// Plain libavcodec H.264 decoding of single access units to BGR.
class Decoder {
public:
    struct Picture {
        int width = 0;
        int height = 0;
        Bytes bgr;
        std::uint8_t B(int x, int y) const { return bgr[(y * width + x) * 3]; }
        std::uint8_t G(int x, int y) const { return bgr[(y * width + x) * 3 + 1]; }
        std::uint8_t R(int x, int y) const { return bgr[(y * width + x) * 3 + 2]; }
    };

    Decoder() {
        m_context = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
        m_context->thread_count = 1;
        m_context->flags |= AV_CODEC_FLAG_LOW_DELAY;
        avcodec_open2(m_context, m_context->codec, nullptr);
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
    }
    ~Decoder() {
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        avcodec_free_context(&m_context);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    std::optional<Picture> Decode(const Bytes& accessUnit) {
        Bytes padded = accessUnit;
        padded.resize(accessUnit.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        m_packet->data = padded.data();
        m_packet->size = static_cast<int>(accessUnit.size());
        if (avcodec_send_packet(m_context, m_packet) < 0 ||
            avcodec_receive_frame(m_context, m_frame) < 0) {
            return std::nullopt;
        }
        Picture p;
        p.width = m_frame->width;
        p.height = m_frame->height;
        p.bgr.resize(static_cast<std::size_t>(p.width) * p.height * 3);
        SwsContext* sws =
            sws_getContext(p.width, p.height, static_cast<AVPixelFormat>(m_frame->format), p.width,
                           p.height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        std::uint8_t* dst[1] = {p.bgr.data()};
        const int dstStride[1] = {p.width * 3};
        sws_scale(sws, m_frame->data, m_frame->linesize, 0, p.height, dst, dstStride);
        sws_freeContext(sws);
        return p;
    }

private:
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
};

// Small pictures keep the encoder's share of the test run small.
RecorderConfig VideoConfig() {
    RecorderConfig cfg;
    cfg.port = 0;
    cfg.streamVideo = true;
    cfg.videoWidth = 320;
    cfg.videoHeight = 240;
    cfg.fps = 30;
    cfg.gop = 1000;  // key frames only when the recorder forces them
    return cfg;
}

class RecorderStreamTest : public ::testing::Test {
protected:
    void StartRecorder(const RecorderConfig& config = VideoConfig()) {
        std::string error;
        ASSERT_TRUE(m_recorder.Start(config, &error)) << error;
    }
    int Port() const { return m_recorder.Port(); }

    Recorder m_recorder;
};

// ---------------------------------------------------------------- the stream

TEST_F(RecorderStreamTest, TitlesThenVideoStartingWithAKeyFrame) {
    RecorderConfig cfg = VideoConfig();
    cfg.cameraTitles = {{0, "FRONT DOOR"}, {15, "YARD"}};
    StartRecorder(cfg);
    RawClient c(Port());
    ASSERT_TRUE(c.LogIn());

    auto titles = c.Read();
    ASSERT_TRUE(titles);
    EXPECT_EQ(titles->route, wire::kRouteStream);
    EXPECT_EQ(titles->type, kTitles);
    ASSERT_EQ(titles->payload.size(), 16u * 32);
    for (std::uint32_t ch = 0; ch < 16; ++ch) {
        const std::uint8_t* r = titles->payload.data() + 32 * ch;
        EXPECT_EQ(wire::ReadU32(r), ch);
        const std::string expected =
            ch == 0    ? "FRONT DOOR"
            : ch == 15 ? "YARD"
                       : "CAM " + std::string(ch < 9 ? "0" : "") + std::to_string(ch + 1);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 4)), expected);
        EXPECT_EQ(r[31], 0);
    }

    auto first = c.ReadVideo();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->Key());
    EXPECT_EQ(first->Fps(), 30);
    ASSERT_GE(first->block.size(), 88u);
    const Bytes startCode = {0, 0, 0, 1};
    EXPECT_EQ(Bytes(first->block.begin() + 84, first->block.begin() + 88), startCode);
    // Zero where nothing is defined; the default screen: live, 16 cells from
    // channel 0, key lock off, no channel events.
    EXPECT_EQ(first->header[0], 0);
    EXPECT_EQ(Bytes(first->header.begin() + 20, first->header.begin() + 29), Bytes(9, 0));
    const std::uint8_t* s = first->Status();
    EXPECT_EQ(s[4], 0);
    EXPECT_EQ(Bytes(s + 8, s + 20), (Bytes{0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(s + 20, s + 84), Bytes(64, 0));

    // Frames keep coming, with rising time stamps; bounds are loose on purpose.
    const auto from = Clock::now();
    std::uint32_t lastStamp = first->TimeStamp();
    int frames = 0;
    while (Clock::now() - from < std::chrono::milliseconds(600)) {
        auto v = c.ReadVideo();
        ASSERT_TRUE(v);
        EXPECT_GT(v->TimeStamp(), lastStamp);
        EXPECT_EQ(Bytes(v->block.begin() + 84, v->block.begin() + 88), startCode);
        lastStamp = v->TimeStamp();
        ++frames;
    }
    EXPECT_GE(frames, 4);
    EXPECT_LE(frames, 40);
    EXPECT_GE(m_recorder.VideoFramesSent(), static_cast<std::uint64_t>(frames + 1));
}

TEST_F(RecorderStreamTest, ClockIsUtcPlusTheOffset) {
    // 2008-03-01 10:20:30 UTC, whatever the time is now.
    RecorderConfig cfg = VideoConfig();
    cfg.clockOffsetSeconds = 1204366830 - static_cast<std::int64_t>(std::time(nullptr));
    StartRecorder(cfg);
    RawClient c(Port());
    ASSERT_TRUE(c.LogIn());
    auto v = c.ReadVideo();
    ASSERT_TRUE(v);
    const std::uint8_t* s = v->Status();
    EXPECT_EQ(s[0], 1);                 // day
    EXPECT_EQ(s[1], 3);                 // month
    EXPECT_EQ(s[2] | s[3] << 8, 2008);  // year
    EXPECT_EQ(s[7], 10);                // hour
    EXPECT_EQ(s[6], 20);                // minute
    EXPECT_GE(s[5], 30);                // second, a few seconds slack for a slow machine
    EXPECT_LE(s[5], 40);
}

TEST_F(RecorderStreamTest, StatusHeaderFollowsTheScreenSetters) {
    StartRecorder();
    RawClient c(Port());
    ASSERT_TRUE(c.LogIn());
    ASSERT_TRUE(c.ReadVideo());

    struct Case {
        const char* name;
        std::function<void(Recorder&)> set;
        Bytes bytes8to12;  // screen mode, layout, parameter, extra, key lock
        int channel;       // status word to check, -1 none
        std::uint32_t word;
    };
    const Case cases[] = {
        {"menu mode", [](Recorder& r) { r.SetScreenMode(2); }, {2, 16, 0, 0, 0}, -1, 0},
        {"four cells from channel 5, back to live",
         [](Recorder& r) {
             r.SetScreenMode(0);
             r.SetDivision(4, 4);
         },
         {0, 4, 4, 0, 0},
         -1,
         0},
        {"picture in picture", [](Recorder& r) { r.SetPip(3, 7); }, {4, 4, 3, 7, 0}, -1, 0},
        {"a split leaves picture in picture",
         [](Recorder& r) { r.SetDivision(9, 0); },
         {0, 9, 0, 7, 0},
         -1,
         0},
        {"playback paused backwards at speed 5",
         [](Recorder& r) {
             r.SetScreenMode(1);
             r.SetPlaybackState(0x35);
         },
         {1, 9, 0, 0x35, 0},
         -1,
         0},
        {"key lock on", [](Recorder& r) { r.SetKeyLock(true); }, {1, 9, 0, 0x35, 1}, -1, 0},
        {"event on channel 6",
         [](Recorder& r) { r.SetChannelEvents(5, 0x300); },
         {1, 9, 0, 0x35, 1},
         5,
         0x300},
        {"event on channel 16",
         [](Recorder& r) { r.SetChannelEvents(15, 0x100); },
         {1, 9, 0, 0x35, 1},
         15,
         0x100},
        {"key lock off, event of channel 6 over",
         [](Recorder& r) {
             r.SetKeyLock(false);
             r.SetChannelEvents(5, 0);
         },
         {1, 9, 0, 0x35, 0},
         5,
         0},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        tc.set(m_recorder);
        // Frames already on their way show the state before; a later one must
        // show the new one.
        auto v = c.ReadVideoUntil([&](const Video& f) {
            const std::uint8_t* s = f.Status();
            return Bytes(s + 8, s + 13) == tc.bytes8to12 &&
                   (tc.channel < 0 || wire::ReadU32(s + 20 + 4 * tc.channel) == tc.word);
        });
        EXPECT_TRUE(v) << "no frame with the new state";
    }
    // Out-of-range channels are ignored.
    m_recorder.SetChannelEvents(16, 0x300);
    m_recorder.SetChannelEvents(-1, 0x300);
    const auto screen = m_recorder.CurrentScreen();
    EXPECT_EQ(screen.channelStatus[15], 0x100u);
    EXPECT_EQ(screen.channelStatus[0], 0u);
}

TEST_F(RecorderStreamTest, PictureShowsTheLayoutAndIsTheConfiguredSize) {
    RecorderConfig cfg = VideoConfig();
    cfg.initialLayout = 4;
    StartRecorder(cfg);
    RawClient c(Port());
    ASSERT_TRUE(c.LogIn());
    auto v = c.ReadVideo();
    ASSERT_TRUE(v);
    ASSERT_TRUE(v->Key());
    Decoder decoder;
    auto picture = decoder.Decode(v->Data());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 320);
    EXPECT_EQ(picture->height, 240);
    // Each quarter in its channel's colour (at the same spot of the ramp),
    // through the encoder's colour conversion and compression.
    const int centres[4][2] = {{80, 53}, {240, 53}, {80, 173}, {240, 173}};
    for (int ch = 0; ch < 4; ++ch) {
        recorder::PictureComposer alone(160, 120, 16);
        recorder::ScreenState one;
        one.layout = 1;
        one.layoutParam = static_cast<std::uint8_t>(ch);
        alone.Compose(one, {}, 0);
        const std::uint8_t* want = alone.Pixels() + (53 * 160 + 80) * 3;
        const int x = centres[ch][0];
        const int y = centres[ch][1];
        EXPECT_NEAR(picture->B(x, y), want[0], 24) << "channel " << ch;
        EXPECT_NEAR(picture->G(x, y), want[1], 24) << "channel " << ch;
        EXPECT_NEAR(picture->R(x, y), want[2], 24) << "channel " << ch;
    }
}

TEST_F(RecorderStreamTest, FlushIsFollowedByAKeyFrame) {
    StartRecorder();
    RawClient c(Port());
    ASSERT_TRUE(c.LogIn());
    ASSERT_TRUE(c.ReadVideoUntil([](const Video& v) { return !v.Key(); }));

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(m_recorder.SendFlush(), 1);
        bool flushSeen = false;
        auto v = c.ReadVideo(kWaitMs, [&](const Frame& f) {
            if (f.route == wire::kRouteCommand && f.type == kFlush) {
                EXPECT_TRUE(f.payload.empty());
                flushSeen = true;
            }
        });
        // Frames queued before the flush may come first; the first one after
        // it is a key frame.
        while (v && !flushSeen) {
            v = c.ReadVideo(kWaitMs, [&](const Frame& f) {
                flushSeen = flushSeen || (f.route == wire::kRouteCommand && f.type == kFlush);
            });
        }
        ASSERT_TRUE(v);
        EXPECT_TRUE(v->Key());
        // and the stream carries on without further key frames (gop 1000).
        auto next = c.ReadVideo();
        ASSERT_TRUE(next);
        EXPECT_FALSE(next->Key());
    }
}

// ---------------------------------------------------------------- faults

TEST_F(RecorderStreamTest, SingleFrameFaultsAndTheKeyFrameAfterThem) {
    StartRecorder();
    RawClient c(Port());
    ASSERT_TRUE(c.LogIn());
    ASSERT_TRUE(c.ReadVideoUntil([](const Video& v) { return !v.Key(); }));

    const Bytes startCode = {0, 0, 0, 1};
    struct Case {
        const char* name;
        std::function<void(Recorder&)> inject;
        std::function<bool(const Video&)> isFaulty;
        bool keyAfter;
    };
    const Case cases[] = {
        {"no start code", [](Recorder& r) { r.InjectNoStartCode(); },
         [](const Video& v) {
             return v.block.size() >= 88 &&
                    Bytes(v.block.begin() + 84, v.block.begin() + 88) == Bytes{0, 0, 0, 2};
         },
         true},
        {"short payload", [](Recorder& r) { r.InjectShortPayload(); },
         [](const Video& v) { return v.block.size() == 60; }, true},
        {"zero frame rate", [](Recorder& r) { r.InjectZeroFrameRate(); },
         [](const Video& v) { return v.Fps() == 0; }, false},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        tc.inject(m_recorder);
        int before = 0;
        auto faulty = c.ReadVideoUntil([&](const Video& v) {
            if (tc.isFaulty(v)) {
                return true;
            }
            // Until then, healthy frames.
            EXPECT_EQ(v.Fps(), 30);
            EXPECT_EQ(Bytes(v.block.begin() + 84, v.block.begin() + 88), startCode);
            ++before;
            return false;
        });
        ASSERT_TRUE(faulty) << "the fault never showed";
        EXPECT_LE(before, 5);
        auto next = c.ReadVideo();
        ASSERT_TRUE(next);
        EXPECT_FALSE(tc.isFaulty(*next)) << "one frame only";
        EXPECT_EQ(next->Fps(), 30);
        EXPECT_EQ(next->Key(), tc.keyAfter);
        EXPECT_EQ(Bytes(next->block.begin() + 84, next->block.begin() + 88), startCode);
    }
}

TEST_F(RecorderStreamTest, OversizedPictureIsOneKeyFrameOfAnotherSize) {
    StartRecorder();
    RawClient c(Port());
    ASSERT_TRUE(c.LogIn());
    ASSERT_TRUE(c.ReadVideoUntil([](const Video& v) { return !v.Key(); }));

    m_recorder.InjectOversizedPicture();
    Decoder decoder;
    auto big = c.ReadVideoUntil([](const Video& v) { return v.Key(); }, 10);
    ASSERT_TRUE(big);
    auto picture = decoder.Decode(big->Data());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 1280);
    EXPECT_EQ(picture->height, 720);
    EXPECT_GT(1280 * 720 * 3, 1296000);

    // Then the stream goes on at its own size, from a key frame.
    auto next = c.ReadVideo();
    ASSERT_TRUE(next);
    EXPECT_TRUE(next->Key());
    Decoder fresh;
    auto normal = fresh.Decode(next->Data());
    ASSERT_TRUE(normal);
    EXPECT_EQ(normal->width, 320);
    EXPECT_EQ(normal->height, 240);
}

TEST_F(RecorderStreamTest, BurstSendsManyLargeFramesAtOnce) {
    StartRecorder();
    RawClient c(Port());
    ASSERT_TRUE(c.LogIn());
    auto before = c.ReadVideoUntil([](const Video& v) { return !v.Key(); });
    ASSERT_TRUE(before);

    m_recorder.InjectBurst(40);
    // The burst's frames share one time stamp; find the first of them.
    std::optional<Video> v = c.ReadVideo();
    std::uint32_t lastStamp = before->TimeStamp();
    while (v && v->TimeStamp() != lastStamp) {
        lastStamp = v->TimeStamp();
        v = c.ReadVideo();
    }
    ASSERT_TRUE(v);
    const std::uint32_t burstStamp = v->TimeStamp();
    int burstFrames = 1;  // the one before v had that stamp too
    std::size_t burstBytes = v->block.size();
    for (;;) {
        v = c.ReadVideo();
        ASSERT_TRUE(v);
        if (v->TimeStamp() != burstStamp) {
            break;
        }
        ++burstFrames;
        burstBytes += v->block.size();
    }
    EXPECT_EQ(burstFrames + 1, 40);
    // More than a client's 256 KiB video ring holds.
    EXPECT_GT(burstBytes, std::size_t{256} * 1024);
    // The regular stream resumes with a key frame.
    EXPECT_TRUE(v->Key());
    EXPECT_GT(v->TimeStamp(), burstStamp);
}

// ---------------------------------------------------------------- clients

TEST_F(RecorderStreamTest, EveryLoggedInClientGetsVideoAndOnlyThose) {
    StartRecorder();
    RawClient a(Port());
    RawClient b(Port());
    ASSERT_TRUE(a.LogIn());
    ASSERT_TRUE(b.LogIn());
    for (RawClient* c : {&a, &b}) {
        auto first = c->ReadVideo();
        ASSERT_TRUE(first);
        EXPECT_TRUE(first->Key());
        ASSERT_TRUE(c->ReadVideo());
    }
    EXPECT_GT(m_recorder.VideoFramesSentTo(1), 0u);
    EXPECT_GT(m_recorder.VideoFramesSentTo(2), 0u);

    // Greeted but not logged in: nothing until its login reply.
    RawClient greeted(Port());
    ASSERT_TRUE(greeted.SendInit());
    auto hello = greeted.Read();
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->type, 85);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(greeted.Read(100)) << "video before a login";
    EXPECT_EQ(m_recorder.VideoFramesSentTo(3), 0u);

    // Logged out: the stream stops for that client only.
    ASSERT_TRUE(b.Send(wire::kRouteCommand, 84, {0, 0, 0, 0}));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    while (b.Read(100)) {
    }
    EXPECT_FALSE(b.Read(300)) << "video after the logout";
    EXPECT_TRUE(a.ReadVideo());
}

TEST_F(RecorderStreamTest, AStalledClientIsSkippedNotDroppedAndResumesAtAKeyFrame) {
    RecorderConfig cfg = VideoConfig();
    cfg.videoBacklogBytes = 32 * 1024;
    cfg.socketSendBuffer = 16 * 1024;
    StartRecorder(cfg);
    RawClient reader(Port());
    RawClient stalled(Port(), 4096);
    ASSERT_TRUE(reader.LogIn());
    ASSERT_TRUE(stalled.LogIn());
    ASSERT_TRUE(reader.ReadVideo());
    ASSERT_TRUE(stalled.ReadVideo());

    // The burst fills the stalled client's socket and queue at once.
    m_recorder.InjectBurst(40);
    const auto from = Clock::now();
    int frames = 0;
    while (Clock::now() - from < std::chrono::milliseconds(1500)) {
        ASSERT_TRUE(reader.ReadVideo()) << "the reader starved";
        ++frames;
    }
    EXPECT_GE(frames, 40 + 5);
    EXPECT_GT(m_recorder.VideoFramesSkipped(), 0u);
    EXPECT_EQ(m_recorder.ClientCount(), 2);

    // Reading again, the stalled client finds a gap in the time stamps after
    // the burst, and a key frame after the gap.
    std::optional<std::uint32_t> burstStamp;
    std::uint32_t lastStamp = 0;
    int burstFrames = 0;
    for (int i = 0; i < 400; ++i) {
        auto v = stalled.ReadVideo();
        ASSERT_TRUE(v) << "the stalled client was dropped";
        if (i > 0 && v->TimeStamp() == lastStamp) {
            burstStamp = lastStamp;
            ++burstFrames;
        } else if (burstStamp) {
            EXPECT_TRUE(v->Key()) << "resumed without a key frame";
            EXPECT_GT(v->TimeStamp(), *burstStamp + 5 * 34) << "nothing was skipped";
            break;
        }
        lastStamp = v->TimeStamp();
    }
    EXPECT_EQ(burstFrames + 1, 40);
    EXPECT_EQ(m_recorder.ClientCount(), 2);
}

// ---------------------------------------------------------------- start and stop

TEST(RecorderStreamLifecycle, StreamingStartsAndStopsWhileClientsStay) {
    RecorderConfig cfg = VideoConfig();
    cfg.streamVideo = false;
    cfg.channels = 4;
    Recorder rec;
    std::string error;
    ASSERT_TRUE(rec.Start(cfg, &error)) << error;
    RawClient c(rec.Port());
    ASSERT_TRUE(c.LogIn());
    EXPECT_FALSE(c.Read(200)) << "no titles or video without streaming";
    EXPECT_FALSE(rec.Streaming());

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(rec.StartStreaming(&error)) << error;
        EXPECT_TRUE(rec.StartStreaming(&error));  // already streaming
        EXPECT_TRUE(rec.Streaming());
        auto titles = c.Read();
        ASSERT_TRUE(titles);
        EXPECT_EQ(titles->type, kTitles);
        EXPECT_EQ(titles->payload.size(), 4u * 32);
        auto first = c.ReadVideo();
        ASSERT_TRUE(first);
        EXPECT_TRUE(first->Key());

        rec.StopStreaming();
        EXPECT_FALSE(rec.Streaming());
        while (c.Read(100)) {
        }
        EXPECT_FALSE(c.Read(200)) << "video after the stop";
        EXPECT_EQ(rec.ClientCount(), 1);
    }
    rec.StopStreaming();  // twice is harmless
}

TEST(RecorderStreamLifecycle, BadVideoSettingsAreRefused) {
    struct Case {
        const char* name;
        std::function<void(RecorderConfig&)> change;
    };
    const Case cases[] = {
        {"odd width", [](RecorderConfig& c) { c.videoWidth = 321; }},
        {"too wide", [](RecorderConfig& c) { c.videoWidth = 722; }},
        {"too high", [](RecorderConfig& c) { c.videoHeight = 602; }},
        {"too small", [](RecorderConfig& c) { c.videoHeight = 62; }},
        {"no frames", [](RecorderConfig& c) { c.fps = 0; }},
        {"too many frames", [](RecorderConfig& c) { c.fps = 61; }},
        {"no key frames", [](RecorderConfig& c) { c.gop = 0; }},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        RecorderConfig cfg = VideoConfig();
        tc.change(cfg);
        Recorder rec;
        std::string error;
        EXPECT_FALSE(rec.Start(cfg, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(rec.Port(), 0);
    }
    Recorder stopped;
    std::string error;
    EXPECT_FALSE(stopped.StartStreaming(&error));
}

}  // namespace
