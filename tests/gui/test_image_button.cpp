// ImageButton and ButtonChain: the state machine and the messages it posts,
// picture choice and drawing, auto-repeat on the owner's timer, and the
// release of the pictures.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPainter>
#include <array>
#include <map>
#include <memory>
#include <vector>

#include "panels/image_button.h"
#include "protocol/client_messages.h"
#include "tests/test_support.h"

using testing_support::PumpFor;
using testing_support::PumpUntil;

namespace {

constexpr UINT kId = 20000;
constexpr SkinRect kRect{10, 10, 40, 30};
const QPoint kInside(20, 20);
const QPoint kOutside(100, 100);

const QColor kNormal(255, 0, 0);
const QColor kHover(0, 255, 0);
const QColor kPressed(0, 0, 255);
const QColor kDisabled(128, 128, 128);
const QColor kBackground(255, 255, 255);

// Pictures of solid colours; counts what comes back.
class FakeSkin : public SkinSource {
public:
    ~FakeSkin() override {
        for (QImage* image : m_made) {
            delete image;
        }
    }
    QImage* Make(const QColor& c, int w = 30, int h = 20) {
        auto* image = new QImage(w, h, QImage::Format_ARGB32_Premultiplied);
        image->fill(c);
        m_made.push_back(image);
        return image;
    }
    // Looks given as handles (null allowed; the same handle in several slots allowed).
    void SetButton(int id, SkinRect r, std::array<QImage*, 4> looks) {
        m_rects[id] = r;
        m_looks[id] = looks;
    }
    void SetButtonColours(int id, SkinRect r, bool pressed = true, bool disabled = true) {
        SetButton(id, r,
                  {Make(kNormal), Make(kHover), pressed ? Make(kPressed) : nullptr,
                   disabled ? Make(kDisabled) : nullptr});
    }

    void GetResourceRect(int id, SkinRect* rect) override {
        auto it = m_rects.find(id);
        *rect = it != m_rects.end() ? it->second : SkinRect{};
    }
    void GetButtonBitmaps(int id, HBITMAP* n, HBITMAP* h, HBITMAP* p, HBITMAP* d) override {
        auto it = m_looks.find(id);
        std::array<QImage*, 4> looks{};
        if (it != m_looks.end()) {
            looks = it->second;
        }
        *n = looks[0];
        *h = looks[1];
        *p = looks[2];
        *d = looks[3];
    }
    HBITMAP GetBackgroundBitmap(int) override { return nullptr; }
    void ReleaseBitmap(HBITMAP bitmap) override { ++released[bitmap]; }

    std::map<HBITMAP, int> released;

private:
    std::vector<QImage*> m_made;
    std::map<int, SkinRect> m_rects;
    std::map<int, std::array<QImage*, 4>> m_looks;
};

struct Posted {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

// The owner: logs every message it receives, hands its timers to the chain.
class Owner : public MessageWindow {
public:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg == WM_TIMER) {
            if (chain != nullptr) {
                chain->OnTimer(static_cast<UINT>(wParam));
            }
            return 0;
        }
        log.push_back({msg, wParam, lParam});
        return 0;
    }
    // Delivers what is queued for us and hands it over.
    std::vector<Posted> Take() {
        QCoreApplication::sendPostedEvents(this, 0);
        std::vector<Posted> out;
        out.swap(log);
        return out;
    }
    int Count(UINT msg) const {
        int n = 0;
        for (const Posted& p : log) {
            n += p.msg == msg ? 1 : 0;
        }
        return n;
    }

    ButtonChain* chain = nullptr;
    std::vector<Posted> log;
};

class ButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_chain = std::make_unique<ButtonChain>(m_owner, &m_skin);
        m_owner.chain = m_chain.get();
        m_buffer = QImage(200, 200, QImage::Format_ARGB32_Premultiplied);
        m_buffer.fill(kBackground);
    }
    void TearDown() override {
        m_chain.reset();
        m_owner.chain = nullptr;
        m_owner.Take();
    }
    ImageButton* MakeButton(UINT id = kId, SkinRect r = kRect, bool pressed = true,
                            bool disabled = true) {
        m_skin.SetButtonColours(static_cast<int>(id), r, pressed, disabled);
        return m_chain->Create(id);
    }
    QColor ColourAt(QPoint p) const { return QColor(m_buffer.pixel(p)); }

    FakeSkin m_skin;
    Owner m_owner;
    std::unique_ptr<ButtonChain> m_chain;
    QImage m_buffer;
};

// --- creation and setters --------------------------------------------------------

TEST_F(ButtonTest, CreateTakesRectAndPicturesAndPostsNothing) {
    ImageButton* b = MakeButton();
    EXPECT_EQ(b->id, kId);
    EXPECT_EQ(b->enabled, 1);
    EXPECT_EQ(b->visible, 1);
    EXPECT_EQ(b->state, ImageButton::kStateNormal);
    EXPECT_EQ(b->autoRepeat, 0);
    EXPECT_EQ(b->isToggle, 0);
    EXPECT_EQ(b->checked, 0);
    EXPECT_EQ(b->rect.left, kRect.left);
    EXPECT_EQ(b->rect.bottom, kRect.bottom);
    EXPECT_EQ(b->owner, m_owner.hwnd());
    for (int look = 0; look < 4; ++look) {
        EXPECT_NE(b->pictures[look], nullptr);
        EXPECT_EQ(b->checkedPictures[look], nullptr);
    }
    EXPECT_TRUE(m_owner.Take().empty());
}

TEST_F(ButtonTest, ChainKeepsCreationOrderAndFindsById) {
    ImageButton* a = MakeButton(20000, {0, 0, 10, 10});
    ImageButton* b = MakeButton(20004, {10, 0, 20, 10});
    ImageButton* c = MakeButton(20008, {20, 0, 30, 10});
    EXPECT_EQ(m_chain->First(), a);
    EXPECT_EQ(a->next, b);
    EXPECT_EQ(b->next, c);
    EXPECT_EQ(c->next, nullptr);
    EXPECT_EQ(m_chain->Count(), 3);
    EXPECT_EQ(m_chain->Find(20004), b);
    EXPECT_EQ(m_chain->Find(20012), nullptr);
    EXPECT_FALSE(m_chain->OnTimer(20012));  // not a button's timer: left alone
}

TEST_F(ButtonTest, SettersPostDrawRequestWithButtonAndRect) {
    ImageButton* b = MakeButton();
    b->SetEnabled(false);
    EXPECT_EQ(b->enabled, 0);
    EXPECT_EQ(b->state, ImageButton::kStateDisabled);
    b->SetVisible(false);
    b->SetChecked(true);
    b->SetVisible(true);
    b->SetEnabled(true);
    EXPECT_EQ(b->state, ImageButton::kStateNormal);
    const auto posted = m_owner.Take();
    ASSERT_EQ(posted.size(), 5u);
    for (const Posted& p : posted) {
        EXPECT_EQ(p.msg, UM_DRAW_BUTTON);
        EXPECT_EQ(p.wParam, reinterpret_cast<WPARAM>(b));
        EXPECT_EQ(p.lParam, reinterpret_cast<LPARAM>(&b->rect));
    }
    // MakeToggle and SetAutoRepeat only set flags.
    b->MakeToggle(true);
    b->SetAutoRepeat(500);
    EXPECT_EQ(b->isToggle, 1);
    EXPECT_EQ(b->autoRepeat, 1);
    EXPECT_EQ(b->repeatInterval, 500u);
    EXPECT_TRUE(m_owner.Take().empty());
}

TEST_F(ButtonTest, ButtonWithoutOwnerPostsNothing) {
    ImageButton* b = MakeButton();
    b->owner = kNoWindow;
    b->SetEnabled(true);
    QPainter p(&m_buffer);
    EXPECT_TRUE(b->OnPress(&p, kInside));
    EXPECT_TRUE(b->OnRelease(&p, kInside));
    EXPECT_TRUE(m_owner.Take().empty());
}

// --- the state machine -------------------------------------------------------------

enum class Event { Press, Release, Move };
enum Toggle { kPlain = 0, kToggleBare = 1, kToggleWithPictures = 2 };

struct Expect {
    UINT msg;
    LPARAM lParam = 0;  // not compared for UM_REPAINT_RECT (the rect's address)
};

struct StateCase {
    const char* name;
    std::uint32_t initial;
    bool autoRepeat;
    Toggle toggle;
    bool checked;
    Event event;
    bool inside;
    bool leftHeld;
    bool changed;
    std::uint32_t final;
    bool checkedAfter;
    std::vector<Expect> posted;
};

constexpr LPARAM kToggleChecked = 1 | (1 << 16);
constexpr LPARAM kToggleUnchecked = 1;

const StateCase kStateCases[] = {
    // Press.
    {"press normal inside",
     0,
     false,
     kPlain,
     false,
     Event::Press,
     true,
     false,
     true,
     2,
     false,
     {{UM_BUTTON_DOWN}, {UM_REPAINT_RECT}}},
    {"press hover inside",
     1,
     false,
     kPlain,
     false,
     Event::Press,
     true,
     false,
     true,
     2,
     false,
     {{UM_BUTTON_DOWN}, {UM_REPAINT_RECT}}},
    {"press pressed inside",
     2,
     false,
     kPlain,
     false,
     Event::Press,
     true,
     false,
     false,
     2,
     false,
     {}},
    {"press normal outside",
     0,
     false,
     kPlain,
     false,
     Event::Press,
     false,
     false,
     false,
     0,
     false,
     {}},
    {"press hover outside",
     1,
     false,
     kPlain,
     false,
     Event::Press,
     false,
     false,
     true,
     0,
     false,
     {{UM_REPAINT_RECT}}},
    {"press pressed outside",
     2,
     false,
     kPlain,
     false,
     Event::Press,
     false,
     false,
     true,
     0,
     false,
     {{UM_REPAINT_RECT}}},
    {"press repeat inside",
     0,
     true,
     kPlain,
     false,
     Event::Press,
     true,
     false,
     true,
     2,
     false,
     {{UM_BUTTON_DOWN}, {UM_REPAINT_RECT}}},
    // Release.
    {"release pressed plain inside",
     2,
     false,
     kPlain,
     false,
     Event::Release,
     true,
     false,
     true,
     1,
     false,
     {{UM_BUTTON_CLICK, 0}, {UM_BUTTON_UP}, {UM_REPAINT_RECT}}},
    {"release pressed toggle becomes checked, no checked pictures",
     2,
     false,
     kToggleBare,
     false,
     Event::Release,
     true,
     false,
     true,
     1,
     true,
     {{UM_BUTTON_CLICK, kToggleChecked}, {UM_BUTTON_UP}}},
    {"release pressed toggle becomes checked, checked pictures",
     2,
     false,
     kToggleWithPictures,
     false,
     Event::Release,
     true,
     false,
     true,
     1,
     true,
     {{UM_BUTTON_CLICK, kToggleChecked}, {UM_BUTTON_UP}, {UM_REPAINT_RECT}}},
    {"release pressed toggle becomes unchecked",
     2,
     false,
     kToggleBare,
     true,
     Event::Release,
     true,
     false,
     true,
     1,
     false,
     {{UM_BUTTON_CLICK, kToggleUnchecked}, {UM_BUTTON_UP}, {UM_REPAINT_RECT}}},
    {"release pressed repeat inside",
     2,
     true,
     kPlain,
     false,
     Event::Release,
     true,
     false,
     true,
     1,
     false,
     {{UM_BUTTON_REPEAT}, {UM_BUTTON_UP}, {UM_REPAINT_RECT}}},
    {"release hover inside",
     1,
     false,
     kPlain,
     false,
     Event::Release,
     true,
     false,
     false,
     1,
     false,
     {}},
    {"release normal inside",
     0,
     false,
     kPlain,
     false,
     Event::Release,
     true,
     false,
     true,
     1,
     false,
     {{UM_REPAINT_RECT}}},
    {"release pressed outside",
     2,
     false,
     kToggleBare,
     false,
     Event::Release,
     false,
     false,
     true,
     0,
     false,
     {{UM_REPAINT_RECT}}},
    {"release hover outside",
     1,
     false,
     kPlain,
     false,
     Event::Release,
     false,
     false,
     true,
     0,
     false,
     {{UM_REPAINT_RECT}}},
    {"release normal outside",
     0,
     false,
     kPlain,
     false,
     Event::Release,
     false,
     false,
     false,
     0,
     false,
     {}},
    // Move, left button up.
    {"move normal inside",
     0,
     false,
     kPlain,
     false,
     Event::Move,
     true,
     false,
     true,
     1,
     false,
     {{UM_REPAINT_RECT}}},
    {"move hover inside", 1, false, kPlain, false, Event::Move, true, false, false, 1, false, {}},
    {"move pressed inside",
     2,
     false,
     kPlain,
     false,
     Event::Move,
     true,
     false,
     true,
     1,
     false,
     {{UM_REPAINT_RECT}}},
    {"move hover outside",
     1,
     false,
     kPlain,
     false,
     Event::Move,
     false,
     false,
     true,
     0,
     false,
     {{UM_REPAINT_RECT}}},
    {"move normal outside",
     0,
     false,
     kPlain,
     false,
     Event::Move,
     false,
     false,
     false,
     0,
     false,
     {}},
    {"move pressed outside",
     2,
     false,
     kPlain,
     false,
     Event::Move,
     false,
     false,
     true,
     0,
     false,
     {{UM_REPAINT_RECT}}},
    {"move pressed repeat outside",
     2,
     true,
     kPlain,
     false,
     Event::Move,
     false,
     false,
     true,
     0,
     false,
     {{UM_BUTTON_REPEAT}, {UM_REPAINT_RECT}}},
    // Move, left button held.
    {"drag normal inside",
     0,
     false,
     kPlain,
     false,
     Event::Move,
     true,
     true,
     true,
     1,
     false,
     {{UM_REPAINT_RECT}}},
    {"drag hover inside", 1, false, kPlain, false, Event::Move, true, true, false, 1, false, {}},
    {"drag pressed inside", 2, false, kPlain, false, Event::Move, true, true, false, 2, false, {}},
    {"drag pressed outside",
     2,
     false,
     kPlain,
     false,
     Event::Move,
     false,
     true,
     true,
     0,
     false,
     {{UM_BUTTON_UP}, {UM_REPAINT_RECT}}},
    {"drag hover outside",
     1,
     false,
     kPlain,
     false,
     Event::Move,
     false,
     true,
     true,
     0,
     false,
     {{UM_REPAINT_RECT}}},
    {"drag normal outside", 0, false, kPlain, false, Event::Move, false, true, false, 0, false, {}},
    {"drag pressed repeat outside",
     2,
     true,
     kPlain,
     false,
     Event::Move,
     false,
     true,
     true,
     0,
     false,
     {{UM_BUTTON_REPEAT}, {UM_BUTTON_UP}, {UM_REPAINT_RECT}}},
};

TEST_F(ButtonTest, StateMachineTable) {
    for (const StateCase& c : kStateCases) {
        SCOPED_TRACE(c.name);
        {
            ButtonChain chain(m_owner, &m_skin);
            m_owner.chain = &chain;
            m_skin.SetButtonColours(static_cast<int>(kId), kRect);
            ImageButton* b = chain.Create(kId);
            if (c.toggle != kPlain) {
                b->MakeToggle(c.toggle == kToggleWithPictures);
            }
            if (c.autoRepeat) {
                b->SetAutoRepeat(1000);
            }
            b->state = c.initial;
            b->checked = c.checked ? 1 : 0;

            const QPoint at = c.inside ? kInside : kOutside;
            QPainter p(&m_buffer);
            bool changed = false;
            switch (c.event) {
                case Event::Press:
                    changed = b->OnPress(&p, at);
                    break;
                case Event::Release:
                    changed = b->OnRelease(&p, at);
                    break;
                case Event::Move:
                    changed = b->OnMove(&p, c.leftHeld, at);
                    break;
            }
            EXPECT_EQ(changed, c.changed);
            EXPECT_EQ(b->state, c.final);
            EXPECT_EQ(b->checked != 0, c.checkedAfter);

            const auto posted = m_owner.Take();
            ASSERT_EQ(posted.size(), c.posted.size());
            for (std::size_t i = 0; i < posted.size(); ++i) {
                SCOPED_TRACE(i);
                EXPECT_EQ(posted[i].msg, c.posted[i].msg);
                EXPECT_EQ(posted[i].wParam, kId);
                if (posted[i].msg == UM_REPAINT_RECT) {
                    EXPECT_EQ(posted[i].lParam, reinterpret_cast<LPARAM>(&b->rect));
                } else {
                    EXPECT_EQ(posted[i].lParam, c.posted[i].lParam);
                }
            }
            // A press of a repeat button starts the repeat; nothing else does.
            const bool repeating = c.autoRepeat && c.event == Event::Press && c.changed && c.inside;
            EXPECT_EQ(ImageButton::CurrentRepeatingButton() == b, repeating);
        }
        m_owner.chain = nullptr;
        EXPECT_EQ(ImageButton::CurrentRepeatingButton(), nullptr);  // gone with its button
    }
}

TEST_F(ButtonTest, DisabledOrHiddenButtonIgnoresTheMouse) {
    struct Case {
        const char* name;
        bool enabled;
        bool visible;
    } cases[] = {{"disabled", false, true}, {"hidden", true, false}, {"both", false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageButton* b = MakeButton(kId + 4 * static_cast<UINT>(m_chain->Count()));
        b->SetAutoRepeat(0);
        b->SetEnabled(c.enabled);
        b->SetVisible(c.visible);
        m_owner.Take();
        const std::uint32_t before = b->state;
        const QPoint in(kRect.left + 1, kRect.top + 1);
        QPainter p(&m_buffer);
        for (bool held : {false, true}) {
            EXPECT_FALSE(b->OnPress(&p, in));
            EXPECT_FALSE(b->OnMove(&p, held, in));
            EXPECT_FALSE(b->OnMove(&p, held, kOutside));
            EXPECT_FALSE(b->OnRelease(&p, in));
        }
        EXPECT_EQ(b->state, before);
        EXPECT_TRUE(m_owner.Take().empty());
        EXPECT_EQ(ImageButton::CurrentRepeatingButton(), nullptr);
    }
}

TEST_F(ButtonTest, DisabledStaysDisabledUntilEnabledAgain) {
    ImageButton* b = MakeButton();
    b->SetEnabled(false);
    QPainter p(&m_buffer);
    EXPECT_FALSE(b->OnMove(&p, false, kInside));
    EXPECT_EQ(b->state, ImageButton::kStateDisabled);
    b->SetEnabled(true);
    EXPECT_EQ(b->state, ImageButton::kStateNormal);
    EXPECT_TRUE(b->OnMove(&p, false, kInside));
    EXPECT_EQ(b->state, ImageButton::kStateHover);
}

TEST_F(ButtonTest, PressLeaveComeBackReleaseGivesNoClick) {
    ImageButton* b = MakeButton();
    QPainter p(&m_buffer);
    b->OnPress(&p, kInside);
    b->OnMove(&p, true, kOutside);
    b->OnMove(&p, true, kInside);
    EXPECT_EQ(b->state, ImageButton::kStateHover);
    EXPECT_FALSE(b->OnRelease(&p, kInside));
    std::vector<UINT> msgs;
    for (const Posted& m : m_owner.Take()) {
        if (m.msg != UM_REPAINT_RECT) {
            msgs.push_back(m.msg);
        }
    }
    EXPECT_EQ(msgs, (std::vector<UINT>{UM_BUTTON_DOWN, UM_BUTTON_UP}));
}

TEST_F(ButtonTest, RectangleIncludesLeftTopExcludesRightBottom) {
    ImageButton* b = MakeButton();
    EXPECT_TRUE(b->Contains(QPoint(kRect.left, kRect.top)));
    EXPECT_TRUE(b->Contains(QPoint(kRect.right - 1, kRect.bottom - 1)));
    EXPECT_FALSE(b->Contains(QPoint(kRect.right, kRect.top)));
    EXPECT_FALSE(b->Contains(QPoint(kRect.left, kRect.bottom)));
    EXPECT_FALSE(b->Contains(QPoint(kRect.left - 1, kRect.top)));
}

// --- drawing ------------------------------------------------------------------------

struct LookCase {
    const char* name;
    Toggle toggle;
    bool checked;
    std::uint32_t state;
    bool hasDisabled;
    QColor expected;  // invalid: nothing painted
};

TEST_F(ButtonTest, DrawChoosesThePicture) {
    const LookCase cases[] = {
        {"normal", kPlain, false, 0, true, kNormal},
        {"hover", kPlain, false, 1, true, kHover},
        {"pressed", kPlain, false, 2, true, kPressed},
        {"disabled", kPlain, false, 3, true, kDisabled},
        {"disabled without disabled picture", kPlain, false, 3, false, kNormal},
        {"unknown state", kPlain, false, 7, true, QColor()},
        {"unchecked toggle", kToggleWithPictures, false, 0, true, kNormal},
        {"checked toggle looks pressed", kToggleWithPictures, true, 0, true, kPressed},
        {"checked toggle hover looks pressed", kToggleWithPictures, true, 1, true, kPressed},
        {"checked toggle being pressed looks normal", kToggleWithPictures, true, 2, true, kNormal},
        {"checked toggle disabled looks pressed", kToggleWithPictures, true, 3, true, kPressed},
        {"checked toggle without checked pictures", kToggleBare, true, 0, true, QColor()},
        {"checked plain button uses normal set", kPlain, true, 1, true, kHover},
    };
    for (const LookCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_buffer.fill(kBackground);
        ImageButton* b =
            MakeButton(kId + 4 * static_cast<UINT>(m_chain->Count()), kRect, true, c.hasDisabled);
        if (c.toggle != kPlain) {
            b->MakeToggle(c.toggle == kToggleWithPictures);
        }
        b->checked = c.checked ? 1 : 0;
        b->state = c.state;
        const QImage before = m_buffer.copy();
        QPainter p(&m_buffer);
        const bool painted = b->Draw(&p);
        p.end();
        const auto posted = m_owner.Take();
        if (c.expected.isValid()) {
            EXPECT_TRUE(painted);
            EXPECT_EQ(ColourAt(kInside), c.expected);
            ASSERT_EQ(posted.size(), 1u);
            EXPECT_EQ(posted[0].msg, UM_REPAINT_RECT);
            EXPECT_EQ(posted[0].wParam, b->id);
        } else {
            EXPECT_FALSE(painted);
            EXPECT_EQ(m_buffer, before);
            EXPECT_TRUE(posted.empty());
        }
    }
}

TEST_F(ButtonTest, DrawWithoutSurfacePaintsAndPostsNothing) {
    ImageButton* b = MakeButton();
    EXPECT_FALSE(b->Draw(nullptr));
    EXPECT_TRUE(b->OnPress(nullptr, kInside));  // the state still changes
    EXPECT_EQ(b->state, ImageButton::kStatePressed);
    const auto posted = m_owner.Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].msg, UM_BUTTON_DOWN);
}

TEST_F(ButtonTest, DrawCopiesOpaqueAndOnlyTheRectangle) {
    // A half-transparent picture larger than the rectangle.
    QImage* normal = m_skin.Make(QColor(255, 0, 0, 128), 100, 100);
    m_skin.SetButton(kId, kRect, {normal, nullptr, nullptr, nullptr});
    ImageButton* b = m_chain->Create(kId);
    QPainter p(&m_buffer);
    ASSERT_TRUE(b->Draw(&p));
    p.end();
    // Copied, not blended over the white background.
    EXPECT_EQ(m_buffer.pixel(kInside), normal->pixel(0, 0));
    EXPECT_EQ(m_buffer.pixel(kRect.right - 1, kRect.bottom - 1), normal->pixel(0, 0));
    EXPECT_EQ(ColourAt(QPoint(kRect.right, kRect.top)), kBackground);
    EXPECT_EQ(ColourAt(QPoint(kRect.left, kRect.bottom)), kBackground);
    EXPECT_EQ(ColourAt(QPoint(kRect.left - 1, kRect.top - 1)), kBackground);
}

TEST_F(ButtonTest, NoPressedPictureKeepsThePreviousPictureWhilePressed) {
    ImageButton* b = MakeButton(kId, kRect, /*pressed=*/false);
    QPainter p(&m_buffer);
    ASSERT_TRUE(b->OnMove(&p, false, kInside));  // hover drawn
    m_owner.Take();
    EXPECT_TRUE(b->OnPress(&p, kInside));
    p.end();
    EXPECT_EQ(b->state, ImageButton::kStatePressed);
    EXPECT_EQ(ColourAt(kInside), kHover);
    const auto posted = m_owner.Take();
    ASSERT_EQ(posted.size(), 1u);  // the press, and no repaint
    EXPECT_EQ(posted[0].msg, UM_BUTTON_DOWN);
}

TEST_F(ButtonTest, CheckedToggleWithoutCheckedPicturesIsNotRepainted) {
    ImageButton* b = MakeButton();
    b->MakeToggle(false);
    QPainter p(&m_buffer);
    b->OnMove(&p, false, kInside);
    b->OnPress(&p, kInside);
    ASSERT_EQ(ColourAt(kInside), kPressed);
    m_owner.Take();
    const QImage before = m_buffer.copy();

    // The click checks it; then it is hovered, left, redrawn on request: the
    // back buffer keeps the picture it had when it became checked.
    EXPECT_TRUE(b->OnRelease(&p, kInside));
    EXPECT_EQ(b->checked, 1);
    b->OnMove(&p, false, kOutside);
    b->SetChecked(true);
    EXPECT_FALSE(b->Draw(&p));
    p.end();
    EXPECT_EQ(m_buffer, before);
    for (const Posted& m : m_owner.Take()) {
        EXPECT_NE(m.msg, UM_REPAINT_RECT);
    }
}

TEST_F(ButtonTest, DrawAllDrawsVisibleButtonsOnly) {
    ImageButton* a = MakeButton(20000, {0, 0, 10, 10});
    ImageButton* b = MakeButton(20004, {20, 0, 30, 10});
    b->visible = 0;
    QPainter p(&m_buffer);
    EXPECT_TRUE(m_chain->DrawAll(&p));
    p.end();
    EXPECT_EQ(ColourAt(QPoint(5, 5)), kNormal);
    EXPECT_EQ(ColourAt(QPoint(25, 5)), kBackground);
    const auto posted = m_owner.Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].wParam, a->id);
    a->visible = 0;
    QPainter q(&m_buffer);
    EXPECT_FALSE(m_chain->DrawAll(&q));
}

TEST_F(ButtonTest, ChainOperationsReportWhetherAnyButtonChanged) {
    MakeButton(20000, {0, 0, 10, 10});
    MakeButton(20004, {20, 0, 30, 10});
    QPainter p(&m_buffer);
    EXPECT_FALSE(m_chain->PressAll(&p, QPoint(100, 100)));  // the background
    EXPECT_TRUE(m_chain->MoveAll(&p, false, QPoint(25, 5)));
    EXPECT_FALSE(m_chain->MoveAll(&p, false, QPoint(26, 5)));
    EXPECT_TRUE(m_chain->PressAll(&p, QPoint(25, 5)));
    EXPECT_EQ(m_chain->Find(20004)->state, ImageButton::kStatePressed);
    EXPECT_EQ(m_chain->Find(20000)->state, ImageButton::kStateNormal);
    EXPECT_TRUE(m_chain->ReleaseAll(&p, QPoint(25, 5)));
    EXPECT_FALSE(m_chain->ReleaseAll(&p, QPoint(25, 5)));
    p.end();
    int clicks = 0;
    for (const Posted& m : m_owner.Take()) {
        if (m.msg == UM_BUTTON_CLICK) {
            ++clicks;
            EXPECT_EQ(m.wParam, 20004u);
        }
    }
    EXPECT_EQ(clicks, 1);
}

// --- auto-repeat -------------------------------------------------------------------------

TEST_F(ButtonTest, HeldRepeatButtonWithIntervalZeroClicksEveryTenMs) {
    ImageButton* b = MakeButton();
    b->SetAutoRepeat(0);
    QPainter p(&m_buffer);
    ASSERT_TRUE(b->OnPress(&p, kInside));
    EXPECT_EQ(b->repeatInterval, 10u);
    EXPECT_EQ(ImageButton::CurrentRepeatingButton(), b);
    m_owner.Take();

    PumpFor(200);
    const int clicks = m_owner.Count(UM_BUTTON_CLICK);
    EXPECT_GE(clicks, 5);
    EXPECT_LE(clicks, 30);
    for (const Posted& m : m_owner.log) {
        if (m.msg == UM_BUTTON_CLICK) {
            EXPECT_EQ(m.wParam, kId);
            EXPECT_EQ(m.lParam, 0);
        }
    }

    // A release anywhere ends it: no click on release, none afterwards.
    ASSERT_TRUE(b->OnRelease(&p, kOutside));
    EXPECT_EQ(ImageButton::CurrentRepeatingButton(), nullptr);
    m_owner.Take();
    PumpFor(60);
    EXPECT_EQ(m_owner.Count(UM_BUTTON_CLICK), 0);
}

TEST_F(ButtonTest, ARepeatButtonDisabledWhileHeldStopsRepeating) {
    // A key lock while a PTZ button is held must not leave it sending.
    ImageButton* b = MakeButton();
    b->SetAutoRepeat(0);
    QPainter p(&m_buffer);
    ASSERT_TRUE(b->OnPress(&p, kInside));
    PumpFor(40);
    b->SetEnabled(false);
    PumpFor(20);
    m_owner.Take();
    PumpFor(60);
    EXPECT_EQ(m_owner.Count(UM_BUTTON_CLICK), 0);
    EXPECT_EQ(ImageButton::CurrentRepeatingButton(), nullptr);
}

TEST_F(ButtonTest, PressShorterThanOnePeriodGivesNoClick) {
    ImageButton* b = MakeButton();
    b->SetAutoRepeat(100);
    QPainter p(&m_buffer);
    b->OnPress(&p, kInside);
    b->OnRelease(&p, kInside);
    p.end();
    PumpFor(150);
    std::vector<UINT> msgs;
    for (const Posted& m : m_owner.Take()) {
        if (m.msg != UM_REPAINT_RECT) {
            msgs.push_back(m.msg);
        }
    }
    EXPECT_EQ(msgs, (std::vector<UINT>{UM_BUTTON_DOWN, UM_BUTTON_REPEAT, UM_BUTTON_UP}));
}

TEST_F(ButtonTest, LeavingAHeldRepeatButtonEndsTheRepeat) {
    ImageButton* b = MakeButton();
    b->SetAutoRepeat(10);
    QPainter p(&m_buffer);
    b->OnPress(&p, kInside);
    ASSERT_TRUE(PumpUntil([&] { return m_owner.Count(UM_BUTTON_CLICK) > 0; }, 2000));
    m_owner.Take();
    EXPECT_TRUE(b->OnMove(&p, true, kOutside));
    EXPECT_EQ(ImageButton::CurrentRepeatingButton(), nullptr);
    std::vector<UINT> msgs;
    for (const Posted& m : m_owner.Take()) {
        if (m.msg != UM_REPAINT_RECT) {
            msgs.push_back(m.msg);
        }
    }
    // Ticks already queued may come first; the end is REPEAT then UP.
    while (!msgs.empty() && msgs.front() == UM_BUTTON_CLICK) {
        msgs.erase(msgs.begin());
    }
    EXPECT_EQ(msgs, (std::vector<UINT>{UM_BUTTON_REPEAT, UM_BUTTON_UP}));
    PumpFor(60);
    EXPECT_EQ(m_owner.Count(UM_BUTTON_CLICK), 0);
}

TEST_F(ButtonTest, ReleaseAllStopsTheRepeatEvenOverAnotherButton) {
    ImageButton* held = MakeButton(20000, {0, 0, 10, 10});
    MakeButton(20004, {20, 0, 30, 10});
    held->SetAutoRepeat(10);
    QPainter p(&m_buffer);
    m_chain->PressAll(&p, QPoint(5, 5));
    ASSERT_TRUE(PumpUntil([&] { return m_owner.Count(UM_BUTTON_CLICK) > 0; }, 2000));
    m_chain->ReleaseAll(&p, QPoint(25, 5));
    EXPECT_EQ(ImageButton::CurrentRepeatingButton(), nullptr);
    m_owner.Take();
    PumpFor(60);
    EXPECT_EQ(m_owner.Count(UM_BUTTON_CLICK), 0);
}

TEST_F(ButtonTest, RepeatTickOfAToggleCarriesItsCheckedState) {
    ImageButton* b = MakeButton();
    b->MakeToggle(false);
    b->SetAutoRepeat(10);
    b->checked = 1;
    QPainter p(&m_buffer);
    b->OnPress(&p, kInside);
    ASSERT_TRUE(PumpUntil([&] { return m_owner.Count(UM_BUTTON_CLICK) > 0; }, 2000));
    for (const Posted& m : m_owner.log) {
        if (m.msg == UM_BUTTON_CLICK) {
            EXPECT_EQ(m.lParam, kToggleChecked);
        }
    }
    b->OnRelease(&p, kInside);
}

TEST_F(ButtonTest, StaleTimerTickStopsItsTimer) {
    // A tick with no repeating button stops that timer of the owner.
    ImageButton* b = MakeButton();
    m_owner.SetTimer(b->id, 10);
    ASSERT_EQ(ImageButton::CurrentRepeatingButton(), nullptr);
    PumpFor(50);
    EXPECT_FALSE(m_owner.KillTimer(b->id));  // already gone
    EXPECT_EQ(m_owner.Count(UM_BUTTON_CLICK), 0);
}

TEST_F(ButtonTest, DestroyingTheRepeatingButtonStopsItsTimer) {
    ImageButton* b = MakeButton();
    b->SetAutoRepeat(10);
    QPainter p(&m_buffer);
    b->OnPress(&p, kInside);
    p.end();
    m_chain.reset();
    m_owner.chain = nullptr;
    EXPECT_EQ(ImageButton::CurrentRepeatingButton(), nullptr);
    EXPECT_FALSE(m_owner.KillTimer(kId));
    m_owner.Take();
    PumpFor(40);
    EXPECT_EQ(m_owner.Count(UM_BUTTON_CLICK), 0);
}

// --- pictures ------------------------------------------------------------------------------

TEST_F(ButtonTest, EachDistinctPictureIsReleasedOnce) {
    QImage* a = m_skin.Make(kNormal);
    QImage* b = m_skin.Make(kPressed);
    QImage* c = m_skin.Make(kHover);
    QImage* d = m_skin.Make(kDisabled);
    struct Case {
        const char* name;
        std::array<QImage*, 4> looks;
        Toggle toggle;
    };
    const Case cases[] = {
        {"four distinct", {a, c, b, d}, kPlain},
        {"shared and missing", {a, a, b, nullptr}, kPlain},
        {"checked set reuses normal set", {a, c, b, d}, kToggleWithPictures},
        {"none", {nullptr, nullptr, nullptr, nullptr}, kToggleWithPictures},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        m_skin.released.clear();
        {
            ButtonChain chain(m_owner, &m_skin);
            m_skin.SetButton(static_cast<int>(kId), kRect, k.looks);
            ImageButton* button = chain.Create(kId);
            if (k.toggle != kPlain) {
                button->MakeToggle(k.toggle == kToggleWithPictures);
            }
            EXPECT_TRUE(m_skin.released.empty());
        }
        std::map<HBITMAP, int> expected;
        for (QImage* h : k.looks) {
            if (h != nullptr) {
                expected[h] = 1;
            }
        }
        EXPECT_EQ(m_skin.released, expected);
    }
}

}  // namespace
