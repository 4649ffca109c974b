// The view's media steps with a recording decoder and display: intake, the
// decode step's rules and the display step's calls and state changes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "panels/pixmart.h"
#include "protocol/velnor_client_view.h"
#include "tests/test_support.h"

namespace {

class FakeDecoder : public VideoDecoder {
public:
    std::uint32_t Init() override { return 7; }
    int Decode(std::uint32_t, DecodeFrameParams* p) override {
        calls.push_back("Decode");
        if (!succeed) return 0;
        p->width = 16;
        p->height = 8;
        std::memset(p->output, 0x42, 16 * 8 * 3);
        return 1;
    }
    void MemClear(std::uint32_t) override { calls.push_back("MemClear"); }
    void Reset(std::uint32_t) override {}
    void Uninit(std::uint32_t) override {}
    std::vector<std::string> calls;
    bool succeed = true;
};

class FakeSink : public DisplaySink {
public:
    void SetDivision(std::uint32_t a, std::uint32_t b) override { Log("Division", {a, b}); }
    void SetDivisionPip(std::uint32_t a, std::uint32_t b) override { Log("Pip", {a, b}); }
    void SetMargin(std::uint32_t l, std::uint32_t t, std::uint32_t r, std::uint32_t b) override {
        Log("Margin", {l, t, r, b});
    }
    void SetTime(std::uint32_t y, std::uint32_t mo, std::uint32_t d, std::uint32_t h,
                 std::uint32_t mi, std::uint32_t s) override {
        Log("Time", {y, mo, d, h, mi, s});
    }
    void Show(std::uint32_t w, std::uint32_t h, const std::uint8_t*, std::uint32_t) override {
        Log("Show", {w, h});
    }
    void Log(const char* what, std::vector<std::uint32_t> args) { calls.push_back({what, args}); }
    std::vector<std::uint32_t> Last(const std::string& what) const {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
            if (it->first == what) return it->second;
        }
        return {};
    }
    int Count(const std::string& what) const {
        int n = 0;
        for (const auto& c : calls) n += c.first == what;
        return n;
    }
    std::vector<std::pair<std::string, std::vector<std::uint32_t>>> calls;
};

class ViewMediaTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(BLDAPI_Initialize("ResKV.dll", 1), 0);
        m_view = new VelnorClientView;
        m_view->Initialise();
        m_view->SetMediaDevices(&m_decoder, &m_sink);
        m_view->m_framesPerSecond = 1000;  // 1 ms intervals: the pacing sleeps little
        m_view->m_frameIntervalMs = 1;
    }
    void TearDown() override {
        m_view->DestroyWindow();
        testing_support::PumpFor(5);
    }
    // A frame as the recorder sends it: status header, start code, data.
    static std::vector<std::uint8_t> Frame(std::uint8_t fourth = 1, std::size_t size = 200) {
        std::vector<std::uint8_t> f(size, 0x11);
        std::memset(f.data(), 0, std::min<std::size_t>(size, 84));
        if (size >= 88) {
            f[84] = 0;
            f[85] = 0;
            f[86] = 0;
            f[87] = fourth;
        }
        return f;
    }
    void Header(bool key) {
        m_view->m_videoInfo = {};
        m_view->m_videoInfo[4] = key ? 1 : 0;
        m_view->m_videoInfo[16] = 0x10;
    }
    void Queue(const std::vector<std::uint8_t>& frame, bool key) {
        Header(key);
        m_view->QueueVideoFrame(frame.data(), static_cast<std::uint32_t>(frame.size()));
    }
    // Puts a decoded picture with this status straight into the queue.
    void Picture(const FrameStatusHeader& status, int width = 16, int height = 8) {
        DecodedFrameQueue& q = m_view->Streams().pictures;
        std::lock_guard<std::mutex> lock(q.lock);
        DecodedFrameSlot& s = q.frames[q.writeIndex];
        s.status = status;
        s.width = width;
        s.height = -height;
        s.frameInterval = 1;
        q.writeIndex = (q.writeIndex + 1) % 3;
        q.count++;
    }
    static FrameStatusHeader Status(std::uint8_t mode, std::uint8_t layout = 16, std::uint8_t param = 0,
                                    std::uint8_t byte11 = 0, std::uint8_t keyLock = 0) {
        FrameStatusHeader h;
        h.bytes[0] = 10;  // 2009-03-10 20:00:00
        h.bytes[1] = 3;
        h.bytes[2] = 0xD9;
        h.bytes[3] = 0x07;
        h.bytes[7] = 20;
        h.bytes[8] = mode;
        h.bytes[9] = layout;
        h.bytes[10] = param;
        h.bytes[11] = byte11;
        h.bytes[12] = keyLock;
        return h;
    }
    void Rights(std::uint32_t rights) { std::memcpy(m_view->m_loginReply.data() + 28, &rights, 4); }
    int CountStatus(const std::u16string& line) const {
        int n = 0;
        for (const auto& l : m_view->StatusLines()) n += l == line;
        return n;
    }

    VelnorClientView* m_view = nullptr;
    FakeDecoder m_decoder;
    FakeSink m_sink;
};

}  // namespace

TEST_F(ViewMediaTest, NothingIsQueuedBeforeTheFirstKeyFrame) {
    auto f = Frame();
    Queue(f, false);
    Queue(f, false);
    EXPECT_EQ(m_view->Streams().video.RecordCount(), 0u);
    Queue(f, true);
    Queue(f, false);
    EXPECT_EQ(m_view->Streams().video.RecordCount(), 2u);
}

TEST_F(ViewMediaTest, OverflowFlushesAllRingsAndWaitsForAKeyFrame) {
    std::vector<std::uint8_t> mic(800, 1);
    m_view->QueueMicData(800, mic.data());
    EXPECT_EQ(m_view->Streams().audioIn.RecordCount(), 1u);
    auto big = Frame(1, 60000);
    Queue(big, true);
    for (int i = 0; i < 4; ++i) Queue(big, false);  // the fifth does not fit
    EXPECT_EQ(m_view->Streams().video.RecordCount(), 0u);
    EXPECT_EQ(m_view->Streams().audioIn.RecordCount(), 0u);
    EXPECT_FALSE(m_view->m_streamSynced);
    Queue(big, false);
    EXPECT_EQ(m_view->Streams().video.RecordCount(), 0u);
    Queue(big, true);
    EXPECT_EQ(m_view->Streams().video.RecordCount(), 1u);
}

TEST_F(ViewMediaTest, DecodeStepRules) {
    auto good = Frame();
    Queue(good, true);
    Queue(good, false);
    m_view->DecodeStep();
    m_view->DecodeStep();
    // A key frame clears the decoder first; a non-key frame does not.
    EXPECT_EQ(m_decoder.calls, (std::vector<std::string>{"MemClear", "Decode", "Decode"}));
    DecodedFrameQueue& q = m_view->Streams().pictures;
    EXPECT_EQ(q.Count(), 2u);
    EXPECT_EQ(q.frames[0].height, -8);
    EXPECT_EQ(q.frames[0].width, 16);
    EXPECT_EQ(q.frames[0].keyFrame, 1u);
    EXPECT_EQ(q.frames[0].timeStamp, 0x10u);

    // Queue full: nothing is popped.
    Queue(good, false);
    Queue(good, false);
    m_view->DecodeStep();
    EXPECT_EQ(q.Count(), 3u);
    m_view->DecodeStep();
    EXPECT_EQ(m_view->Streams().video.RecordCount(), 1u);
}

TEST_F(ViewMediaTest, InvalidFramesAreDroppedWithTheirText) {
    Queue(Frame(2), true);     // 00 00 00 02
    Queue(Frame(1, 60), false);  // shorter than header and start code
    m_view->DecodeStep();
    m_view->DecodeStep();
    EXPECT_EQ(CountStatus(u"INVALID H264 DATA"), 2);
    EXPECT_TRUE(m_decoder.calls.empty());
    EXPECT_EQ(m_view->Streams().pictures.Count(), 0u);

    m_decoder.succeed = false;
    Queue(Frame(), true);
    m_view->DecodeStep();
    EXPECT_EQ(CountStatus(u"PLEASE RECONNECT"), 1);
    EXPECT_EQ(m_view->Streams().pictures.Count(), 0u);
}

TEST_F(ViewMediaTest, LayoutCallsFollowTheScreenMode) {
    Picture(Status(0, 4, 8));
    m_view->DisplayStep();
    EXPECT_EQ(m_sink.Last("Division"), (std::vector<std::uint32_t>{4, 8}));
    Picture(Status(4, 4, 2, 5));
    m_view->DisplayStep();
    EXPECT_EQ(m_sink.Last("Pip"), (std::vector<std::uint32_t>{2, 5}));
    EXPECT_EQ(m_sink.Count("Division"), 1);
    // The first picture's mode is always reported.
    auto lines = m_view->StatusLines();
    EXPECT_EQ(lines.at(0), u"LIVE MODE");
    EXPECT_EQ(lines.at(1), u"PIP MODE");
}

TEST_F(ViewMediaTest, MarginsAndDeinterlaceBySystemAndSize) {
    struct Case {
        std::uint8_t system;
        int width, height;
        std::vector<std::uint32_t> margins;
    };
    const Case cases[] = {
        {0, 640, 480, {14, 2, 10, 14}},
        {0, 704, 480, {6, 2, 6, 4}},
        {1, 640, 480, {15, 1, 10, 2}},
        {1, 720, 576, {7, 1, 6, 1}},
    };
    for (const Case& c : cases) {
        m_view->m_videoSystemSeen = c.system;
        Picture(Status(0), c.width, c.height);
        m_view->DisplayStep();
        EXPECT_EQ(m_sink.Last("Margin"), c.margins) << c.width;
        EXPECT_EQ(m_sink.Last("Show"),
                  (std::vector<std::uint32_t>{std::uint32_t(c.width), std::uint32_t(c.height)}));
    }
}

TEST_F(ViewMediaTest, KeyLockIsReportedOncePerChange) {
    Rights(6);
    Picture(Status(0, 16, 0, 0, 1));
    m_view->DisplayStep();
    Picture(Status(0, 16, 0, 0, 1));
    m_view->DisplayStep();
    EXPECT_EQ(CountStatus(u"KEYLOCK ON"), 1);
    testing_support::PumpFor(10);  // the window thread applies the button changes
    EXPECT_FALSE(m_view->ButtonEnabled(kBtnSearch));
    EXPECT_FALSE(m_view->ButtonEnabled(20044));
    Picture(Status(0, 16, 0, 0, 0));
    m_view->DisplayStep();
    EXPECT_EQ(CountStatus(u"KEYLOCK OFF"), 1);
    testing_support::PumpFor(10);
    EXPECT_TRUE(m_view->ButtonEnabled(kBtnSearch));
    EXPECT_TRUE(m_view->ButtonEnabled(20044));
}

TEST_F(ViewMediaTest, PlaybackWithoutSearchRightIsNotShown) {
    Rights(4);
    Picture(Status(1, 16, 0, 0x05));
    m_view->DisplayStep();
    EXPECT_EQ(CountStatus(u"YOU DO NOT HAVE ACCESS"), 1);
    EXPECT_EQ(m_sink.Count("Show"), 0);
    EXPECT_EQ(CountStatus(u"FORWARD PLAY : NORMAL"), 1);
    Picture(Status(1, 16, 0, 0x05));
    m_view->DisplayStep();
    EXPECT_EQ(CountStatus(u"YOU DO NOT HAVE ACCESS"), 1);
}

TEST_F(ViewMediaTest, PtzModeFollowsTheRecorder) {
    Rights(4);
    Picture(Status(8));
    m_view->DisplayStep();
    EXPECT_TRUE(m_view->m_ptzMode);
    Picture(Status(0));
    m_view->DisplayStep();
    EXPECT_FALSE(m_view->m_ptzMode);
}

TEST_F(ViewMediaTest, ClockIsShownInTheViewersTime) {
    packets::TimeZoneRules tz;
    tz.validity = 1;
    tz.offsetMinutes = 540;
    m_view->m_time.SetRules(tz);
    Picture(Status(0));
    m_view->DisplayStep();
    EXPECT_EQ(m_sink.Last("Time"), (std::vector<std::uint32_t>{2009, 3, 11, 5, 0, 0}));
}

TEST_F(ViewMediaTest, MicrophoneDataBecomesOneRecordPer800Bytes) {
    std::vector<std::uint8_t> mic(800, 3);
    m_view->QueueMicData(800, mic.data());
    m_view->QueueMicData(0, mic.data());
    EXPECT_EQ(m_view->Streams().audioIn.RecordCount(), 1u);
    EXPECT_EQ(m_view->Streams().audioIn.UsedBytes(), 836u);
}
