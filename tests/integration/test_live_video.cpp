// Live video end to end over loopback: the simulated recorder streams H.264,
// the client decodes and shows it. Checked on the pixels of the display.

#include "tests/integration/view_fixture.h"

#include <QImage>
#include <cmath>

#include "media/screen_layout.h"
#include "outside/viewcore/viewcore_debug.h"
#include "recorder/picture_composer.h"

using testing_support::PumpFor;
using testing_support::PumpUntil;

namespace {

class LiveVideo : public ViewFixture {
protected:
    void StartStreaming(int layout = 4) {
        recorder::RecorderConfig config;
        config.streamVideo = true;
        config.videoWidth = 352;
        config.videoHeight = 240;
        config.fps = 25;
        config.gop = 25;
        config.channels = 4;
        config.initialLayout = static_cast<std::uint8_t>(layout);
        config.cameraTitles[0] = "GATE";
        config.cameraTitles[3] = "YARD";
        StartRecorder(config);
        MakeView();
        m_view->show();
        LogIn();
    }
    bool WaitFrames(int more, int timeoutMs = 8000) {
        const int target = DPMGAPI_DebugFramesShown() + more;
        return PumpUntil([&] { return DPMGAPI_DebugFramesShown() >= target; }, timeoutMs);
    }
    // Which of the recorder's channels a region of the surface shows: the
    // channel whose colour points the same way as the region's mean colour.
    static int ChannelAt(const QImage& img, QRect r, int channels) {
        double sum[3] = {0, 0, 0};
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                const QRgb p = img.pixel(x, y);
                sum[0] += qBlue(p);
                sum[1] += qGreen(p);
                sum[2] += qRed(p);
            }
        }
        int best = -1;
        double bestCos = -2;
        for (int c = 0; c < channels; ++c) {
            const auto col = recorder::PictureComposer::ChannelColour(c);
            double dot = 0, a = 0, b = 0;
            for (int i = 0; i < 3; ++i) {
                dot += sum[i] * col[i];
                a += sum[i] * sum[i];
                b += double(col[i]) * col[i];
            }
            const double cosine = dot / (std::sqrt(a) * std::sqrt(b) + 1e-9);
            if (cosine > bestCos) {
                bestCos = cosine;
                best = c;
            }
        }
        return best;
    }
};

}  // namespace

TEST_F(LiveVideo, CellsTitlesAndClockMatchTheRecorder) {
    StartStreaming(4);
    ASSERT_TRUE(WaitFrames(15));
    EXPECT_TRUE(HasStatus(u"LIVE MODE"));
    m_recorder.StopStreaming();
    PumpFor(300);  // the last pictures are painted

    QImage withText = ViewcoreDebugRenderSurface().convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(withText.isNull());
    const int w = withText.width();
    const int h = withText.height();
    // Each quarter of the surface shows its channel. Sample a band below the
    // moving box and left of the clock corner; the margins cut a few pixels,
    // so keep well inside the cell.
    const auto cells = screen_layout::Division(4, 0, 4, w, h);
    ASSERT_EQ(cells.count, 4);
    for (int i = 0; i < cells.count; ++i) {
        const auto& c = cells.cell[i];
        const QRect sample(c.x + c.width / 10, c.y + c.height * 4 / 5, c.width / 3, c.height / 8);
        EXPECT_EQ(ChannelAt(withText, sample, 4), c.channel) << "cell " << i;
    }

    // The on-screen text lies in the cells' top-left corners (titles) and the
    // bottom-right corner (clock), and nowhere else.
    DPMGAPI_SetDrawOSD(0);
    QImage plain = ViewcoreDebugRenderSurface().convertToFormat(QImage::Format_RGB32);
    DPMGAPI_SetDrawOSD(kOsdTime | kOsdTitles);
    int inTitles[4] = {0, 0, 0, 0};
    int inClock = 0;
    int elsewhere = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (withText.pixel(x, y) == plain.pixel(x, y)) continue;
            bool counted = false;
            for (int i = 0; i < 4; ++i) {
                const auto& c = cells.cell[i];
                if (x >= c.x && x < c.x + c.width / 2 && y >= c.y && y < c.y + c.height / 4) {
                    inTitles[i]++;
                    counted = true;
                }
            }
            if (x >= w / 2 && y >= h * 3 / 4) {
                inClock++;
                counted = true;
            }
            elsewhere += counted ? 0 : 1;
        }
    }
    for (int i = 0; i < 4; ++i) EXPECT_GT(inTitles[i], 20) << "title of cell " << i;
    EXPECT_GT(inClock, 50);
    EXPECT_EQ(elsewhere, 0);
}

TEST_F(LiveVideo, FlushResynchronisesOnTheNextKeyFrame) {
    StartStreaming();
    ASSERT_TRUE(WaitFrames(5));
    for (int i = 0; i < 3; ++i) {
        m_recorder.SendFlush();
        ASSERT_TRUE(WaitFrames(8));
    }
    // Every flush emptied the rings and the stream picked up at a key frame:
    // no frame ever reached the decoder without its reference.
    EXPECT_FALSE(HasStatus(u"PLEASE RECONNECT"));
    EXPECT_FALSE(HasStatus(u"INVALID H264 DATA"));
    EXPECT_TRUE(m_view->m_streamSynced);
}

TEST_F(LiveVideo, InjectedFaultsNeitherCrashNorStallTheClient) {
    StartStreaming();
    ASSERT_TRUE(WaitFrames(5));

    m_recorder.InjectNoStartCode();
    ASSERT_TRUE(WaitStatus(u"INVALID H264 DATA"));
    m_recorder.InjectShortPayload();
    ASSERT_TRUE(WaitStatus(u"INVALID H264 DATA", 2));
    ASSERT_TRUE(WaitFrames(5));

    m_recorder.InjectOversizedPicture();  // refused by the decoder
    ASSERT_TRUE(WaitStatus(u"PLEASE RECONNECT"));
    ASSERT_TRUE(WaitFrames(5));

    const std::uint32_t rate = m_view->m_framesPerSecond;
    m_recorder.InjectZeroFrameRate();
    ASSERT_TRUE(WaitFrames(5));
    EXPECT_EQ(m_view->m_framesPerSecond, rate);

    m_recorder.InjectBurst(60);  // more than the video ring holds
    ASSERT_TRUE(WaitFrames(10));
    EXPECT_EQ(m_view->m_connectState, 1);
}

TEST_F(LiveVideo, DisconnectStopsThePictures) {
    StartStreaming();
    ASSERT_TRUE(WaitFrames(5));
    m_view->OnBarCommand(kBtnDisconnect);
    const int shown = DPMGAPI_DebugFramesShown();
    PumpFor(300);
    EXPECT_EQ(DPMGAPI_DebugFramesShown(), shown);
    EXPECT_EQ(m_view->Streams().video.RecordCount(), 0u);
    EXPECT_EQ(m_view->Streams().pictures.Count(), 0u);
}
