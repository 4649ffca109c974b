// The recorder's front panel on screen, end to end: the key panel starts
// playback on the simulator, the playback panel appears, its speed keys show
// in the status list, and stop hides it again.

#include "tests/integration/view_fixture.h"

#include <QCoreApplication>
#include <QMouseEvent>

using testing_support::PumpFor;
using testing_support::PumpUntil;

namespace {

class FrontPanel : public ViewFixture {
protected:
    void Start() {
        recorder::RecorderConfig config;
        config.streamVideo = true;
        config.videoWidth = 352;
        config.videoHeight = 240;
        config.fps = 25;
        StartRecorder(config);
        MakeView();
        m_view->show();
        LogIn();
        ASSERT_TRUE(WaitStatus(u"LIVE MODE"));
    }
    // A click in the middle of a button of a panel (or the view).
    static void Click(QWidget* owner, int id) {
        SkinRect r;
        BLDAPI_GetResourceRect(id, &r);
        const QPointF at((r.left + r.right) / 2.0, (r.top + r.bottom) / 2.0);
        QMouseEvent press(QEvent::MouseButtonPress, at, owner->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(owner, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, owner->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(owner, &release);
        PumpFor(30);
    }
};

}  // namespace

TEST_F(FrontPanel, PlaybackFromTheKeyPanel) {
    Start();
    Click(m_view, kBtnKeyPanel);
    ASSERT_NE(m_view->KeyPanel(), nullptr);
    ASSERT_NE(m_view->PlayPanel(), nullptr);  // the first click makes both
    EXPECT_TRUE(m_view->KeyPanel()->isVisible());
    EXPECT_FALSE(m_view->PlayPanel()->isVisible());

    Click(m_view->KeyPanel(), 20280);  // playback: (1, 9)
    ASSERT_TRUE(WaitStatus(u"PLAY MODE"));
    ASSERT_TRUE(WaitStatus(u"FORWARD PLAY : NORMAL"));
    ASSERT_TRUE(PumpUntil([&] { return m_view->PlayPanel()->isVisible(); }));
    EXPECT_EQ(m_view->m_playMode, 2);

    Click(m_view->PlayPanel(), 20412);  // faster: (2, 8)
    ASSERT_TRUE(WaitStatus(u"FORWARD PLAY : FAST 1"));
    Click(m_view->PlayPanel(), 20412);
    ASSERT_TRUE(WaitStatus(u"FORWARD PLAY : FAST 2"));

    Click(m_view->PlayPanel(), 20428);  // stop: (1, 18), the panel hides
    EXPECT_FALSE(m_view->PlayPanel()->isVisible());
    ASSERT_TRUE(WaitStatus(u"LIVE MODE", 2));
    PumpFor(100);
    EXPECT_FALSE(m_view->PlayPanel()->isVisible());
    EXPECT_EQ(m_view->m_playMode, 0);
}
