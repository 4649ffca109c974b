// The skinned client driven with the mouse, against the streaming simulator:
// connect from the skin's button, video in the blue area, PTZ held on the
// pad, the recorder's key lock.

#include "tests/integration/view_fixture.h"

#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>
#include <fstream>

#include "outside/viewcore/viewcore_debug.h"

using testing_support::PumpFor;
using testing_support::PumpUntil;

namespace {

class SkinnedClient : public ViewFixture {
protected:
    void Start(bool logPackets = false) {
        recorder::RecorderConfig config;
        config.streamVideo = true;
        config.videoWidth = 352;
        config.videoHeight = 240;
        config.fps = 25;
        if (logPackets) {
            m_log = testing_support::MakeTempDir("skinned") + "/packets.log";
            config.packetLogPath = m_log;
        }
        StartRecorder(config);
        MakeView();
        m_view->show();
    }
    static QPoint Centre(int id) {
        SkinRect r;
        BLDAPI_GetResourceRect(id, &r);
        return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    void Mouse(QEvent::Type type, QPoint at) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
        QMouseEvent e(type, QPointF(at), QPointF(m_view->mapToGlobal(at)), Qt::LeftButton, held,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &e);
    }
    void Click(int id) {
        Mouse(QEvent::MouseButtonPress, Centre(id));
        Mouse(QEvent::MouseButtonRelease, Centre(id));
        PumpFor(20);
    }
    // PT_PTZ lines of the simulator's packet log, as their codes.
    std::vector<int> PtzCodesInLog() const {
        std::vector<int> codes;
        std::ifstream in(m_log);
        std::string line;
        while (std::getline(in, line)) {
            if (line.find("route=command type=19 ") == std::string::npos) continue;
            const std::size_t at = line.find("payload=");
            codes.push_back(std::stoi(line.substr(at + 8 + 8, 2), nullptr, 16));
        }
        return codes;
    }
    std::string m_log;
};

}  // namespace

TEST_F(SkinnedClient, ConnectFromTheSkinShowsVideoInTheBlueArea) {
    Start();
    const int before = DPMGAPI_DebugFramesShown();
    Click(kBtnConnect);
    ASSERT_TRUE(WaitStatus(u"LOGIN SUCCESS"));
    ASSERT_TRUE(PumpUntil([&] { return DPMGAPI_DebugFramesShown() >= before + 10; }, 8000));
    EXPECT_FALSE(m_view->ButtonEnabled(kBtnConnect));
    EXPECT_TRUE(m_view->ButtonEnabled(kBtnDisconnect));
    PumpFor(100);

    // The window as a user sees it: the video area holds the pictures, not
    // the skin's blue; the skin around it is painted.
    const QImage shot = m_view->grab().toImage().convertToFormat(QImage::Format_RGB32);
    SkinRect video;
    BLDAPI_GetResourceRect(kSkinVideoRect, &video);
    int blue = 0, coloured = 0;
    for (int y = video.top + 4; y < video.bottom - 4; y += 3) {
        for (int x = video.left + 4; x < video.right - 4; x += 3) {
            const QRgb p = shot.pixel(x, y);
            blue += (qRed(p) == 0 && qGreen(p) == 0 && qBlue(p) == 255);
            coloured += (qMax(qMax(qRed(p), qGreen(p)), qBlue(p)) > 60);
        }
    }
    EXPECT_EQ(blue, 0);
    EXPECT_GT(coloured, 1000);
    const QRgb corner = shot.pixel(2, shot.height() - 3);
    EXPECT_FALSE(qRed(corner) == 0 && qGreen(corner) == 0 && qBlue(corner) == 255);
}

TEST_F(SkinnedClient, HeldPtzPadButtonSendsOnePtzPerStreamBlockAndAStopAfterRelease) {
    Start(true);
    Click(kBtnConnect);
    ASSERT_TRUE(WaitStatus(u"LOGIN SUCCESS"));
    // The first picture's mode change (which also sets PTZ mode from the
    // recorder's mode) must be behind us.
    ASSERT_TRUE(WaitStatus(u"LIVE MODE"));
    PumpFor(200);
    Click(kBtnPtzMode);
    EXPECT_TRUE(m_view->m_ptzMode);
    EXPECT_TRUE(m_view->ButtonChecked(kBtnPtzMode));
    ASSERT_TRUE(WaitPacket(80, 2));  // (1, 2) then (3, 1)

    Mouse(QEvent::MouseButtonPress, Centre(20044));  // up, held for less than a repeat
    ASSERT_TRUE(WaitPacket(19, 1));
    PumpFor(200);
    EXPECT_EQ(m_recorder.ReceivedCount(19), 1u);  // one press, one command
    Mouse(QEvent::MouseButtonRelease, Centre(20044));
    ASSERT_TRUE(WaitPacket(19, 2));
    PumpFor(200);
    EXPECT_EQ(PtzCodesInLog(), (std::vector<int>{0, 22}));
}

TEST_F(SkinnedClient, KeyLockFromTheRecorderDisablesBothGroupsOnce) {
    Start();
    Click(kBtnConnect);
    ASSERT_TRUE(WaitStatus(u"LOGIN SUCCESS"));
    ASSERT_TRUE(WaitStatus(u"LIVE MODE"));
    m_recorder.SetKeyLock(true);
    ASSERT_TRUE(WaitStatus(u"KEYLOCK ON"));
    PumpFor(300);
    EXPECT_EQ(CountStatus(u"KEYLOCK ON"), 1);
    for (int id : {int{kBtnKeyPanel}, int{kBtnSetup}, int{kBtnTalk}, int{kBtnSearch}, 20020,
                   20044, 20072, int{kBtnPtzMode}}) {
        EXPECT_FALSE(m_view->ButtonEnabled(id)) << id;
    }
    EXPECT_TRUE(m_view->ButtonEnabled(kBtnDisconnect));
    m_recorder.SetKeyLock(false);
    ASSERT_TRUE(WaitStatus(u"KEYLOCK OFF"));
    PumpFor(100);
    EXPECT_TRUE(m_view->ButtonEnabled(kBtnSearch));
    EXPECT_TRUE(m_view->ButtonEnabled(20044));
}
