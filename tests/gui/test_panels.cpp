// SkinPanel and SkinnedSurface: the back buffer, painting, redraw requests
// (also from another thread), repeat timers through the window, placement over
// the view and dragging the panel by its background.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "panels/skin_panel.h"
#include "protocol/client_messages.h"
#include "tests/test_support.h"

using testing_support::PumpFor;
using testing_support::PumpUntil;

namespace {

constexpr int kBackgroundId = 10002;
constexpr SkinRect kBkRect{50, 60, 250, 160};  // 200 x 100, placed at (50, 60) of the view
constexpr UINT kButtonId = 20200;
constexpr SkinRect kButtonRect{10, 10, 50, 40};
constexpr UINT kRepeatId = 20204;
constexpr SkinRect kRepeatRect{60, 10, 100, 40};
const QPoint kOnButton(20, 20);
const QPoint kOnRepeat(70, 20);
const QPoint kOnBackground(150, 80);

const QColor kBackground(40, 40, 40);
const QColor kNormal(255, 0, 0);
const QColor kHover(0, 255, 0);
const QColor kPressed(0, 0, 255);
const QColor kDisabled(128, 128, 128);

class FakeSkin : public SkinSource {
public:
    FakeSkin() {
        m_background.fill(kBackground);
        m_rects[kBackgroundId] = kBkRect;
        m_rects[kButtonId] = kButtonRect;
        m_rects[kRepeatId] = kRepeatRect;
    }
    void GetResourceRect(int id, SkinRect* rect) override {
        auto it = m_rects.find(id);
        *rect = it != m_rects.end() ? it->second : SkinRect{};
    }
    void GetButtonBitmaps(int, HBITMAP* n, HBITMAP* h, HBITMAP* p, HBITMAP* d) override {
        *n = Make(kNormal);
        *h = Make(kHover);
        *p = Make(kPressed);
        *d = Make(kDisabled);
    }
    HBITMAP GetBackgroundBitmap(int id) override {
        return id == kBackgroundId ? &m_background : nullptr;
    }
    void ReleaseBitmap(HBITMAP bitmap) override {
        m_live.erase(bitmap);
        delete bitmap;
    }
    const QImage& Background() const { return m_background; }
    std::size_t Live() const { return m_live.size(); }

private:
    HBITMAP Make(const QColor& c) {
        auto* image = new QImage(40, 30, QImage::Format_RGB32);
        image->fill(c);
        m_live.insert({image, true});
        return image;
    }
    QImage m_background{200, 100, QImage::Format_RGB32};
    std::map<int, SkinRect> m_rects;
    std::map<HBITMAP, bool> m_live;
};

// A panel that notes the button messages it gets and the regions it repaints.
class TestPanel : public SkinPanel {
public:
    explicit TestPanel(SkinSource* source) : SkinPanel(kBackgroundId, nullptr, source) {}
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg >= UM_BUTTON_CLICK && msg <= UM_BUTTON_UP && msg != UM_REPAINT_RECT &&
            msg != UM_DRAW_BUTTON) {
            buttonMessages.push_back(msg);
        }
        return SkinPanel::WindowProc(msg, wParam, lParam);
    }
    int Count(UINT msg) const {
        return static_cast<int>(std::count(buttonMessages.begin(), buttonMessages.end(), msg));
    }
    std::vector<UINT> buttonMessages;
    std::vector<QRegion> painted;

protected:
    void paintEvent(QPaintEvent* e) override {
        painted.push_back(e->region());
        SkinPanel::paintEvent(e);
    }
};

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_panel = new TestPanel(&m_skin);
        m_panel->CreateButton(kButtonId);
        m_panel->CreateButton(kRepeatId)->SetAutoRepeat(10);
        QCoreApplication::sendPostedEvents(m_panel, 0);
    }
    void TearDown() override {
        delete m_panel;
        EXPECT_EQ(m_skin.Live(), 0u);  // every button picture went back
    }
    QColor BufferAt(QPoint p) const { return QColor(m_panel->Surface().BackBuffer().pixel(p)); }
    void Mouse(QEvent::Type type, QPoint local, QPoint global, Qt::MouseButtons held) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent e(type, QPointF(local), QPointF(global), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(m_panel, &e);
    }
    void ShowAt(QPoint topLeft) {
        m_panel->move(topLeft);
        m_panel->show();
        ASSERT_TRUE(
            PumpUntil([&] { return m_panel->pos() == topLeft && !m_panel->painted.empty(); }));
    }

    FakeSkin m_skin;
    TestPanel* m_panel = nullptr;
};

TEST_F(PanelTest, BackBufferIsAPrivateCopyOfTheBackground) {
    const QImage& buffer = m_panel->Surface().BackBuffer();
    EXPECT_EQ(buffer.size(), QSize(200, 100));
    EXPECT_EQ(m_panel->size(), QSize(200, 100));
    EXPECT_EQ(BufferAt(kOnButton), kBackground);

    m_panel->DrawButtons();
    EXPECT_EQ(BufferAt(kOnButton), kNormal);
    EXPECT_EQ(BufferAt(kOnBackground), kBackground);
    // The skin's picture is left as it was.
    EXPECT_EQ(QColor(m_skin.Background().pixel(kOnButton)), kBackground);
}

TEST_F(PanelTest, PaintingShowsTheBackBuffer) {
    m_panel->DrawButtons();
    const QImage shown = m_panel->grab().toImage();
    EXPECT_EQ(QColor(shown.pixel(kOnButton)), kNormal);
    EXPECT_EQ(QColor(shown.pixel(kOnBackground)), kBackground);
}

TEST_F(PanelTest, PlacementOverTheView) {
    QWidget view;
    view.setGeometry(300, 200, 800, 600);
    view.show();
    ASSERT_TRUE(PumpUntil([&] { return view.mapToGlobal(QPoint(0, 0)) == QPoint(300, 200); }));
    m_panel->PlaceOver(&view);
    EXPECT_EQ(m_panel->geometry(), QRect(350, 260, 200, 100));
}

TEST_F(PanelTest, MouseDrivesTheButtonsAndTheBackBuffer) {
    ShowAt(QPoint(100, 100));
    m_panel->DrawButtons();
    const QPoint origin = m_panel->mapToGlobal(QPoint(0, 0));
    Mouse(QEvent::MouseMove, kOnButton, origin + kOnButton, Qt::NoButton);
    EXPECT_EQ(BufferAt(kOnButton), kHover);
    Mouse(QEvent::MouseButtonPress, kOnButton, origin + kOnButton, Qt::LeftButton);
    EXPECT_EQ(BufferAt(kOnButton), kPressed);
    Mouse(QEvent::MouseButtonRelease, kOnButton, origin + kOnButton, Qt::NoButton);
    EXPECT_EQ(BufferAt(kOnButton), kHover);
    ASSERT_TRUE(PumpUntil([&] { return m_panel->Count(UM_BUTTON_UP) == 1; }));
    EXPECT_EQ(m_panel->buttonMessages,
              (std::vector<UINT>{UM_BUTTON_DOWN, UM_BUTTON_CLICK, UM_BUTTON_UP}));
}

TEST_F(PanelTest, RepaintRequestRepaintsOnlyThatRectangle) {
    ShowAt(QPoint(100, 100));
    PumpFor(20);
    m_panel->painted.clear();
    ImageButton* b = m_panel->Buttons().Find(kButtonId);
    PostMessage(m_panel->hwnd(), UM_REPAINT_RECT, b->id, reinterpret_cast<LPARAM>(&b->rect));
    ASSERT_TRUE(PumpUntil([&] { return !m_panel->painted.empty(); }));
    EXPECT_EQ(m_panel->painted.front().boundingRect(), QRect(10, 10, 40, 30));
}

TEST_F(PanelTest, DrawRequestsFromAnotherThreadPaintOnTheWindowThread) {
    m_panel->DrawButtons();
    ImageButton* b = m_panel->Buttons().Find(kButtonId);
    std::thread worker([b] { b->SetEnabled(false); });
    worker.join();
    ASSERT_TRUE(PumpUntil([&] { return BufferAt(kOnButton) == kDisabled; }));

    // A hidden button is not drawn on request.
    std::thread hide([b] {
        b->SetVisible(false);
        b->SetEnabled(true);
    });
    hide.join();
    PumpFor(30);
    EXPECT_EQ(BufferAt(kOnButton), kDisabled);
}

TEST_F(PanelTest, DrawRequestForAForeignButtonIsIgnored) {
    m_panel->DrawButtons();
    ImageButton* ours = m_panel->Buttons().Find(kButtonId);
    // A lookalike that is not in the panel's chain, with the same rectangle.
    MessageWindow other;
    ButtonChain foreign(other, &m_skin);
    ImageButton* stranger = foreign.Create(kButtonId);
    stranger->state = ImageButton::kStatePressed;
    PostMessage(m_panel->hwnd(), UM_DRAW_BUTTON, reinterpret_cast<WPARAM>(stranger),
                reinterpret_cast<LPARAM>(&ours->rect));
    PumpFor(20);
    EXPECT_EQ(BufferAt(kOnButton), kNormal);
}

TEST_F(PanelTest, HeldRepeatButtonClicksThroughThePanelTimer) {
    ShowAt(QPoint(100, 100));
    const QPoint origin = m_panel->mapToGlobal(QPoint(0, 0));
    Mouse(QEvent::MouseButtonPress, kOnRepeat, origin + kOnRepeat, Qt::LeftButton);
    ASSERT_TRUE(PumpUntil([&] { return m_panel->Count(UM_BUTTON_CLICK) >= 3; }, 3000));
    EXPECT_FALSE(m_panel->Dragging());
    Mouse(QEvent::MouseButtonRelease, kOnBackground, origin + kOnBackground, Qt::NoButton);
    EXPECT_EQ(ImageButton::CurrentRepeatingButton(), nullptr);
    PumpFor(20);
    const int clicks = m_panel->Count(UM_BUTTON_CLICK);
    PumpFor(60);
    EXPECT_EQ(m_panel->Count(UM_BUTTON_CLICK), clicks);
}

struct DragCase {
    const char* name;
    QPoint pressAt;
    bool moves;
};

TEST_F(PanelTest, DragsByTheBackgroundOnly) {
    const DragCase cases[] = {
        {"background", kOnBackground, true},
        {"button", kOnButton, false},
    };
    for (const DragCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QPoint start(100, 100);
        ShowAt(start);
        const QPoint global = m_panel->mapToGlobal(c.pressAt);
        Mouse(QEvent::MouseButtonPress, c.pressAt, global, Qt::LeftButton);
        PumpFor(20);  // the drag starts from a posted message
        EXPECT_EQ(m_panel->Dragging(), c.moves);
        const QPoint delta(30, 20);
        Mouse(QEvent::MouseMove, c.pressAt + delta, global + delta, Qt::LeftButton);
        const QPoint expected = c.moves ? start + delta : start;
        EXPECT_TRUE(PumpUntil([&] { return m_panel->pos() == expected; }, 1000));
        PumpFor(20);
        EXPECT_EQ(m_panel->pos(), expected);
        const QPoint local = m_panel->mapFromGlobal(global + delta);
        Mouse(QEvent::MouseButtonRelease, local, global + delta, Qt::NoButton);
        EXPECT_FALSE(m_panel->Dragging());
        // Moves after the release no longer drag.
        Mouse(QEvent::MouseMove, local + delta, global + delta + delta, Qt::NoButton);
        PumpFor(20);
        EXPECT_EQ(m_panel->pos(), expected);
    }
}

TEST_F(PanelTest, QuickClickOnTheBackgroundDoesNotDrag) {
    ShowAt(QPoint(100, 100));
    const QPoint global = m_panel->mapToGlobal(kOnBackground);
    // Released before the posted drag request is served.
    Mouse(QEvent::MouseButtonPress, kOnBackground, global, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, kOnBackground, global, Qt::NoButton);
    PumpFor(20);
    EXPECT_FALSE(m_panel->Dragging());
}

TEST(SkinnedSurfaceTest, MissingBackgroundGivesABlackBufferOfTheRectangleSize) {
    FakeSkin skin;
    Window owner;
    SkinnedSurface surface(owner, &skin);
    surface.LoadBackground(10099);  // unknown: empty rectangle, no picture
    EXPECT_FALSE(surface.BackBuffer().isNull());
    surface.LoadBackground(kBackgroundId);
    EXPECT_EQ(surface.Width(), 200);
    EXPECT_EQ(surface.Height(), 100);
    EXPECT_EQ(surface.BackBuffer().size(), QSize(200, 100));
    EXPECT_FALSE(surface.HandleMessage(WM_TIMER, 7, 0));  // not a button's timer
    EXPECT_FALSE(surface.HandleMessage(WM_LBUTTONDOWN, 0, 0));
}

}  // namespace
