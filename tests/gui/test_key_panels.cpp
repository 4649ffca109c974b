// The main key panel and the playback panel against a fake owner: the pair of
// every key clicked through the panel's mouse messages, the order of the
// UM_PLAY_PANEL posts against the keys, the look of the keys after a refresh
// by channel count and screen mode, the playback mapping per recorder kind,
// the kind-4 row layout, placement and docking.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "panels/main_key_panel.h"
#include "panels/pixmart.h"
#include "panels/setup_play.h"
#include "protocol/client_messages.h"
#include "tests/test_support.h"

using testing_support::PumpUntil;

namespace {

using Pair = std::pair<int, int>;

// The view's window: notes the UM_PLAY_PANEL posts it gets into the shared log.
class FakeViewWindow : public Window {
public:
    explicit FakeViewWindow(std::vector<std::string>& log) : m_log(log) {}
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg == UM_PLAY_PANEL) {
            m_log.push_back("panel " + std::to_string(wParam));
        }
        return Window::WindowProc(msg, wParam, lParam);
    }

private:
    std::vector<std::string>& m_log;
};

class FakeOwner : public KeyPanelOwner {
public:
    FakeOwner() : view(log) {}

    void SendRemoteKey(std::uint8_t group, std::uint8_t code) override {
        // Whatever was posted to the view before this key reaches it first.
        QCoreApplication::sendPostedEvents(&view);
        keys.emplace_back(group, code);
        log.push_back("key " + std::to_string(group) + "," + std::to_string(code));
    }
    int ChannelCount() override { return channels; }
    FrameStatusHeader CurrentStatus() override { return status; }
    int RecorderKind() override { return kind; }
    bool DisplayEnabled() override { return displayEnabled; }
    void ToggleDisplay() override { displayEnabled = !displayEnabled; }
    void KeyPanelClosed() override { ++closed; }
    void PanelDestroyed(const SkinPanel*) override { ++destroyed; }
    HWND ViewWindow() override { return view.hwnd(); }

    void SetMode(int mode) { status.bytes[8] = static_cast<std::uint8_t>(mode); }
    void SetChannelStatus(int channel, std::uint32_t word) {
        std::memcpy(status.bytes.data() + 20 + 4 * channel, &word, 4);
    }

    std::vector<std::string> log;
    FakeViewWindow view;
    std::vector<Pair> keys;
    int channels = 16;
    FrameStatusHeader status{};
    int kind = 2;
    bool displayEnabled = true;
    int closed = 0;
    int destroyed = 0;
};

QPoint Centre(const SkinRect& r) { return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2); }
QPoint Centre(const ImageButton* b) { return Centre(b->rect); }

// Press and release at `p` in the panel's client coordinates, then deliver
// what the buttons posted to the panel.
void ClickAt(SkinPanel& panel, QPoint p) {
    SendMessage(panel.hwnd(), WM_LBUTTONDOWN, 0, MakeLParam(p.x(), p.y()));
    SendMessage(panel.hwnd(), WM_LBUTTONUP, 0, MakeLParam(p.x(), p.y()));
    QCoreApplication::sendPostedEvents(&panel);
}

UINT ChannelKey(int n) { return 20200 + 4 * static_cast<UINT>(n - 1); }

class SkinTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(BLDAPI_Initialize("ResKV.dll", 1), 0); }
};

class KeyPanelTest : public SkinTest {
protected:
    void SetUp() override {
        SkinTest::SetUp();
        m_panel = std::make_unique<MainKeyPanel>(m_owner);
    }
    void TearDown() override { m_panel.reset(); }

    void Click(UINT id) {
        ImageButton* b = m_panel->Key(id);
        ASSERT_NE(b, nullptr) << id;
        ClickAt(*m_panel, Centre(b));
    }
    bool Enabled(UINT id) { return m_panel->Key(id)->enabled != 0; }
    bool Checked(UINT id) { return m_panel->Key(id)->checked != 0; }

    FakeOwner m_owner;
    std::unique_ptr<MainKeyPanel> m_panel;
};

TEST_F(KeyPanelTest, BuildsTheThirtyOneKeysFromTheSkin) {
    ASSERT_EQ(m_panel->Buttons().Count(), 31);
    EXPECT_EQ(m_panel->Buttons().First()->id, 20200u);
    UINT expected = 20200;
    for (ImageButton* b = m_panel->Buttons().First(); b != nullptr; b = b->next, expected += 4) {
        EXPECT_EQ(b->id, expected);
        EXPECT_GT(b->rect.right, b->rect.left) << b->id;
        const bool toggle = b->id == 20276 || b->id == 20292 || b->id == 20296 ||
                            b->id == 20304 || b->id == 20308;
        EXPECT_EQ(b->isToggle != 0, toggle) << b->id;
        EXPECT_EQ(b->enabled != 0, b->id != 20300) << b->id;
        EXPECT_EQ(b->checked, 0) << b->id;
    }
    EXPECT_EQ(m_panel->size(), QSize(504, 145));
}

struct KeyCase {
    UINT id;
    std::vector<Pair> pairs;  // what one click sends (none, one)
};

TEST_F(KeyPanelTest, EachPlainKeySendsItsPair) {
    std::vector<KeyCase> cases = {
        {20264, {{9, 2}}}, {20268, {{9, 3}}}, {20272, {{9, 4}}},
        {20288, {{1, 6}}}, {20316, {{1, 19}}}, {20320, {{1, 20}}},
    };
    for (int n = 1; n <= 16; ++n) {
        cases.push_back({ChannelKey(n), {{3, n}}});
    }
    for (const KeyCase& c : cases) {
        m_owner.keys.clear();
        Click(c.id);
        EXPECT_EQ(m_owner.keys, c.pairs) << c.id;
    }
    EXPECT_TRUE(m_owner.log.size() == cases.size());  // no UM_PLAY_PANEL among them
}

struct ToggleCase {
    UINT id;
    Pair checkedPair;
    Pair uncheckedPair;
};

TEST_F(KeyPanelTest, TogglesSendByTheirStateAfterTheClick) {
    const ToggleCase cases[] = {
        {20276, {1, 10}, {1, 18}},
        {20292, {1, 1}, {0, 51}},
        {20296, {1, 5}, {0, 51}},
        {20304, {1, 3}, {0, 51}},
    };
    for (const ToggleCase& c : cases) {
        m_owner.keys.clear();
        Click(c.id);
        EXPECT_TRUE(Checked(c.id)) << c.id;
        Click(c.id);
        EXPECT_FALSE(Checked(c.id)) << c.id;
        EXPECT_EQ(m_owner.keys, (std::vector<Pair>{c.checkedPair, c.uncheckedPair})) << c.id;
    }
}

struct PostCase {
    UINT id;
    std::vector<std::string> log;
};

TEST_F(KeyPanelTest, PlaybackKeysPostToTheViewBeforeTheKey) {
    const PostCase cases[] = {
        {20280, {"panel 1", "key 1,9"}},
        {20284, {"panel 0", "key 1,18"}},
    };
    for (const PostCase& c : cases) {
        m_owner.log.clear();
        Click(c.id);
        QCoreApplication::sendPostedEvents(&m_owner.view);
        EXPECT_EQ(m_owner.log, c.log) << c.id;
    }
}

TEST_F(KeyPanelTest, FreezeReleaseSendsOnlyInFreeze) {
    struct Case {
        int mode;
        std::vector<Pair> pairs;
    };
    const Case cases[] = {{6, {{0, 51}}}, {0, {}}, {1, {}}, {5, {}}, {9, {}}, {15, {}}};
    for (const Case& c : cases) {
        m_owner.SetMode(c.mode);
        m_owner.keys.clear();
        // Enabled by hand, so that only the mode test stands between the click and the key.
        m_panel->Key(20300)->SetEnabled(true);
        Click(20300);
        EXPECT_EQ(m_owner.keys, c.pairs) << "mode " << c.mode;
    }
    // Disabled from the start, it takes no click at all.
    MainKeyPanel fresh(m_owner);
    m_owner.SetMode(6);
    m_owner.keys.clear();
    ClickAt(fresh, Centre(fresh.Key(20300)));
    EXPECT_TRUE(m_owner.keys.empty());
    // The refresh in FREEZE enables it.
    fresh.RefreshKeys();
    ClickAt(fresh, Centre(fresh.Key(20300)));
    EXPECT_EQ(m_owner.keys, (std::vector<Pair>{{0, 51}}));
}

TEST_F(KeyPanelTest, DisplayToggleInvertsTheDisplayAndSendsNothing) {
    Click(20308);
    EXPECT_FALSE(m_owner.displayEnabled);
    EXPECT_TRUE(Checked(20308));
    Click(20308);
    EXPECT_TRUE(m_owner.displayEnabled);
    EXPECT_TRUE(m_owner.keys.empty());
}

TEST_F(KeyPanelTest, CloseKeyReleasesTheViewToggleAndHides) {
    m_panel->show();
    ASSERT_TRUE(m_panel->isVisible());
    Click(20312);
    EXPECT_EQ(m_owner.closed, 1);
    EXPECT_FALSE(m_panel->isVisible());
    EXPECT_TRUE(m_owner.keys.empty());
}

TEST_F(KeyPanelTest, ClickReportsOutsideTheKeysAreIgnored) {
    for (WPARAM id : {20199u, 20201u, 20318u, 20324u, 20400u, 0u}) {
        SendMessage(m_panel->hwnd(), UM_BUTTON_CLICK, id, 0);
    }
    EXPECT_TRUE(m_owner.keys.empty());
    EXPECT_EQ(m_owner.closed, 0);
    EXPECT_TRUE(m_owner.displayEnabled);
}

// One row of the mode step, as the recorder's modes drive it: '+' on, '-' off,
// '.' unchanged, 'c' unchanged and checked.
struct ModeCase {
    int mode;
    char channels;
    char divisions;
    char status;   // 20276
    char play;     // 20280
    char stop;     // 20284
    char freeze;   // 20288
    char seq;      // 20292
    char pip;      // 20296
    char release;  // 20300
    char zoom;     // 20304
    char display;  // 20308
    char fn;       // 20316, 20320
};

const ModeCase kModes[] = {
    {0, '.', '.', '+', '+', '+', '+', '+', '+', '-', '+', '+', '+'},
    {1, '.', '.', '-', '-', '.', '-', '-', '-', '-', '-', '+', '.'},
    {2, '-', '-', '-', '-', '-', '-', '-', '-', '-', '-', '+', '-'},
    {3, '-', '-', '-', '-', '-', '-', 'c', '-', '-', '-', '+', '-'},
    {4, '-', '-', '-', '-', '-', '-', '-', 'c', '-', '-', '+', '-'},
    {5, '.', '-', '-', '-', '-', '-', '-', '-', '-', 'c', '+', '.'},
    {6, '.', '-', '-', '-', '-', '-', '-', '-', '+', '-', '-', '.'},
    {7, '-', '-', '-', '-', '-', '-', '-', '-', '-', '-', '+', '-'},
    {8, '.', '-', '-', '-', '-', '-', '-', '-', '-', '-', '+', '.'},
    {9, '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.'},
    {10, '-', '-', '-', '-', '-', '-', '-', '-', '-', '-', '+', '-'},
    {11, '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.'},
    {15, '+', '+', '-', '-', '-', '+', '-', '-', '-', '-', '+', '-'},
    {200, '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.'},
};

std::map<UINT, char> LooksOf(const ModeCase& m) {
    std::map<UINT, char> looks;
    for (int n = 1; n <= 16; ++n) {
        looks[ChannelKey(n)] = m.channels;
    }
    looks[20264] = looks[20268] = looks[20272] = m.divisions;
    looks[20276] = m.status;
    looks[20280] = m.play;
    looks[20284] = m.stop;
    looks[20288] = m.freeze;
    looks[20292] = m.seq;
    looks[20296] = m.pip;
    looks[20300] = m.release;
    looks[20304] = m.zoom;
    looks[20308] = m.display;
    looks[20312] = '.';
    looks[20316] = looks[20320] = m.fn;
    return looks;
}

// Whether the channel-count step leaves the key enabled, disabled, or alone.
char CountLook(UINT id, int channels) {
    if (channels != 4 && channels != 8 && channels != 16) {
        return '.';
    }
    if (id < 20264) {
        const int n = static_cast<int>(id - 20200) / 4 + 1;
        return n <= channels ? '+' : '-';
    }
    if (id == 20264) return '+';
    if (id == 20268) return channels >= 8 ? '+' : '-';
    if (id == 20272) return channels >= 16 ? '+' : '-';
    return '.';
}

TEST_F(KeyPanelTest, RefreshByChannelCountAndMode) {
    for (int channels : {4, 8, 16, 6}) {
        for (const ModeCase& m : kModes) {
            // From all enabled and from all disabled, so that "unchanged" shows.
            for (bool start : {true, false}) {
                MainKeyPanel panel(m_owner);
                for (ImageButton* b = panel.Buttons().First(); b != nullptr; b = b->next) {
                    b->SetEnabled(start);
                }
                m_owner.channels = channels;
                m_owner.SetMode(m.mode);
                panel.RefreshKeys();
                const std::map<UINT, char> looks = LooksOf(m);
                for (ImageButton* b = panel.Buttons().First(); b != nullptr; b = b->next) {
                    char look = looks.at(b->id);
                    if (look == '.' || look == 'c') {
                        look = CountLook(b->id, channels);
                    }
                    const bool want = look == '+' ? true : look == '-' ? false : start;
                    EXPECT_EQ(b->enabled != 0, want)
                        << "channels " << channels << " mode " << m.mode << " key " << b->id
                        << " start " << start;
                    EXPECT_EQ(b->state.load(), want ? ImageButton::kStateNormal
                                                    : ImageButton::kStateDisabled)
                        << b->id;
                    const bool checkedByMode = looks.at(b->id) == 'c';
                    EXPECT_EQ(b->checked != 0, checkedByMode)
                        << "channels " << channels << " mode " << m.mode << " key " << b->id;
                }
            }
        }
    }
}

TEST_F(KeyPanelTest, FourChannelLiveRefusesTheUpperKeysAndDidTakesThem) {
    m_owner.channels = 4;
    m_owner.SetMode(0);
    m_panel->RefreshKeys();
    for (UINT id : {ChannelKey(5), ChannelKey(16), 20268u, 20272u}) {
        m_owner.keys.clear();
        Click(id);
        EXPECT_TRUE(m_owner.keys.empty()) << id;
    }
    m_owner.SetMode(15);
    m_panel->RefreshKeys();
    m_owner.keys.clear();
    Click(ChannelKey(16));
    Click(20272);
    EXPECT_EQ(m_owner.keys, (std::vector<Pair>{{3, 16}, {9, 4}}));
}

TEST_F(KeyPanelTest, TogglesCheckedByTheRefreshStayChecked) {
    for (int mode : {3, 4, 5}) {
        m_owner.SetMode(mode);
        m_panel->RefreshKeys();
    }
    m_owner.SetMode(0);
    m_panel->RefreshKeys();
    for (UINT id : {20292u, 20296u, 20304u}) {
        EXPECT_TRUE(Checked(id)) << id;
        EXPECT_TRUE(Enabled(id)) << id;
    }
    // The user's click unchecks and sends the release.
    Click(20292);
    EXPECT_FALSE(Checked(20292));
    EXPECT_EQ(m_owner.keys, (std::vector<Pair>{{0, 51}}));
}

TEST_F(KeyPanelTest, DisplayToggleIsCheckedWhileTheDisplayIsOff) {
    m_owner.displayEnabled = true;
    m_panel->RefreshKeys();
    EXPECT_FALSE(Checked(20308));
    m_owner.displayEnabled = false;
    m_panel->RefreshKeys();
    EXPECT_TRUE(Checked(20308));
    m_owner.displayEnabled = true;  // never cleared by the refresh
    m_panel->RefreshKeys();
    EXPECT_TRUE(Checked(20308));
}

TEST_F(KeyPanelTest, ChannelStatusToggleFollowsTheEventBitsOfTheChannelsInUse) {
    struct Case {
        int channels;
        int channel;  // 0-based
        std::uint32_t word;
        bool checked;
    };
    const Case cases[] = {
        {16, 0, 0x100, true},  {16, 15, 0x200, true}, {16, 3, 0x0ff, false},
        {16, 3, 0x400, false}, {4, 3, 0x100, true},   {4, 4, 0x100, false},
        {8, 7, 0x300, true},   {0, 0, 0x100, false},
    };
    for (const Case& c : cases) {
        m_owner.status = FrameStatusHeader{};
        m_owner.channels = c.channels;
        m_owner.SetChannelStatus(c.channel, c.word);
        m_panel->Key(20276)->SetChecked(!c.checked);
        m_panel->RefreshKeys();
        EXPECT_EQ(Checked(20276), c.checked)
            << c.channels << " channels, channel " << c.channel << " word " << c.word;
    }
}

TEST_F(KeyPanelTest, ShowingRefreshes) {
    m_owner.channels = 4;
    m_owner.SetMode(0);
    m_panel->show();
    EXPECT_FALSE(Enabled(ChannelKey(5)));
    m_panel->hide();
    m_owner.channels = 16;
    m_panel->show();
    EXPECT_TRUE(Enabled(ChannelKey(5)));
}

TEST_F(KeyPanelTest, RefreshAskedFromAnotherThreadRunsOnTheWindowThread) {
    m_owner.channels = 4;
    m_owner.SetMode(0);
    std::thread worker([&] { m_panel->RequestRefresh(); });
    worker.join();
    // Nothing has been touched by the worker itself.
    EXPECT_TRUE(Enabled(ChannelKey(5)));
    ASSERT_TRUE(PumpUntil([&] { return !Enabled(ChannelKey(5)); }));
    EXPECT_TRUE(Enabled(ChannelKey(4)));
}

TEST_F(KeyPanelTest, PlacedOverTheViewAndDockedForKindThree) {
    m_owner.view.setGeometry(100, 50, 700, 800);
    m_owner.view.show();
    ASSERT_TRUE(PumpUntil(
        [&] { return m_owner.view.mapToGlobal(QPoint(0, 0)) == QPoint(100, 50); }));
    MainKeyPanel panel(m_owner);
    EXPECT_EQ(panel.geometry(), QRect(112, 666, 504, 145));

    m_owner.kind = 3;
    panel.show();
    panel.move(300, 300);
    EXPECT_TRUE(PumpUntil([&] { return panel.pos() == QPoint(116, 563); }));

    // Other kinds go where they are moved.
    m_owner.kind = 2;
    panel.move(300, 300);
    EXPECT_TRUE(PumpUntil([&] { return panel.pos() == QPoint(300, 300); }));
}

TEST_F(KeyPanelTest, DestroyingTellsTheOwner) {
    MainKeyPanel* panel = new MainKeyPanel(m_owner);
    panel->DestroyWindow();
    EXPECT_EQ(m_owner.destroyed, 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// --- Playback panel -------------------------------------------------------

TEST(PlayKeyPairTest, MappingPerRecorderKind) {
    struct Case {
        UINT id;
        Pair normal;
        Pair swapped;  // kinds 1 and 5
    };
    const Case cases[] = {
        {20400, {2, 3}, {2, 3}},  {20404, {2, 7}, {2, 9}},  {20408, {2, 5}, {2, 5}},
        {20412, {2, 8}, {2, 8}},  {20416, {2, 4}, {2, 4}},  {20420, {2, 6}, {2, 6}},
        {20424, {2, 2}, {2, 2}},  {20428, {1, 18}, {1, 18}}, {20432, {2, 9}, {2, 10}},
        {20436, {2, 10}, {2, 7}},
    };
    for (int kind : {0, 1, 2, 3, 4, 5, 6, 255}) {
        const bool swapped = kind == 1 || kind == 5;
        for (const Case& c : cases) {
            const auto pair = PlayKeyPair(c.id, kind);
            ASSERT_TRUE(pair.has_value()) << c.id;
            EXPECT_EQ(Pair(pair->first, pair->second), swapped ? c.swapped : c.normal)
                << "kind " << kind << " key " << c.id;
        }
    }
    for (UINT id : {20399u, 20401u, 20402u, 20440u, 20200u}) {
        EXPECT_FALSE(PlayKeyPair(id, 2).has_value()) << id;
    }
}

class PlayPanelTest : public SkinTest {
protected:
    FakeOwner m_owner;
};

TEST_F(PlayPanelTest, ClicksSendThePairOfTheCurrentKind) {
    SetupPlay panel(m_owner);
    ASSERT_EQ(panel.Buttons().Count(), 10);
    for (int kind : {1, 2, 5, 0}) {
        m_owner.kind = kind;
        for (UINT id = 20400; id <= 20436; id += 4) {
            m_owner.keys.clear();
            ClickAt(panel, Centre(panel.Key(id)));
            const auto want = PlayKeyPair(id, kind);
            ASSERT_TRUE(want.has_value());
            EXPECT_EQ(m_owner.keys, (std::vector<Pair>{{want->first, want->second}}))
                << "kind " << kind << " key " << id;
        }
    }
    // The edge named for kind 5 and kind 2, spelled out.
    m_owner.kind = 5;
    m_owner.keys.clear();
    ClickAt(panel, Centre(panel.Key(20404)));
    ClickAt(panel, Centre(panel.Key(20436)));
    m_owner.kind = 2;
    ClickAt(panel, Centre(panel.Key(20404)));
    ClickAt(panel, Centre(panel.Key(20436)));
    EXPECT_EQ(m_owner.keys, (std::vector<Pair>{{2, 9}, {2, 7}, {2, 7}, {2, 10}}));
}

TEST_F(PlayPanelTest, StopKeySendsAndHides) {
    SetupPlay panel(m_owner);
    panel.ShowPanel();
    ASSERT_TRUE(panel.isVisible());
    ClickAt(panel, Centre(panel.Key(20428)));
    EXPECT_EQ(m_owner.keys, (std::vector<Pair>{{1, 18}}));
    EXPECT_FALSE(panel.isVisible());
    panel.ShowPanel();
    EXPECT_TRUE(panel.isVisible());
    panel.HidePanel();
    EXPECT_FALSE(panel.isVisible());
    // Other keys leave it shown.
    panel.ShowPanel();
    ClickAt(panel, Centre(panel.Key(20400)));
    EXPECT_TRUE(panel.isVisible());
}

TEST_F(PlayPanelTest, IdsBetweenTheKeysDoNothing) {
    SetupPlay panel(m_owner);
    panel.ShowPanel();
    for (WPARAM id : {20399u, 20401u, 20430u, 20437u, 20440u, 20312u}) {
        SendMessage(panel.hwnd(), UM_BUTTON_CLICK, id, 0);
    }
    EXPECT_TRUE(m_owner.keys.empty());
    EXPECT_TRUE(panel.isVisible());
}

TEST_F(PlayPanelTest, PlacedOverTheView) {
    m_owner.view.setGeometry(100, 50, 700, 800);
    m_owner.view.show();
    ASSERT_TRUE(PumpUntil(
        [&] { return m_owner.view.mapToGlobal(QPoint(0, 0)) == QPoint(100, 50); }));
    SetupPlay panel(m_owner);
    EXPECT_EQ(panel.geometry(), QRect(624, 666, 138, 145));
}

// A skin whose first playback key sits where the kind-4 layout expects it, or not.
class PlaySkin : public SkinSource {
public:
    explicit PlaySkin(SkinRect first) {
        m_rects[10003] = SkinRect{0, 0, 400, 150};
        m_rects[20400] = first;
        for (UINT id = 20404; id <= 20436; id += 4) {
            const int i = static_cast<int>(id - 20400) / 4;
            m_rects[id] = SkinRect{10 + 30 * i, 100, 35 + 30 * i, 125};
        }
        m_background.fill(Qt::black);
    }
    ~PlaySkin() override = default;
    void GetResourceRect(int id, SkinRect* rect) override {
        auto it = m_rects.find(id);
        *rect = it != m_rects.end() ? it->second : SkinRect{};
    }
    void GetButtonBitmaps(int, HBITMAP* n, HBITMAP* h, HBITMAP* p, HBITMAP* d) override {
        *n = Make(Qt::red);
        *h = Make(Qt::green);
        *p = Make(Qt::blue);
        *d = Make(Qt::gray);
    }
    HBITMAP GetBackgroundBitmap(int id) override { return id == 10003 ? &m_background : nullptr; }
    void ReleaseBitmap(HBITMAP bitmap) override { delete bitmap; }
    std::map<int, SkinRect> m_rects;

private:
    static HBITMAP Make(Qt::GlobalColor c) {
        auto* image = new QImage(38, 38, QImage::Format_RGB32);
        image->fill(c);
        return image;
    }
    QImage m_background{400, 150, QImage::Format_RGB32};
};

bool SameRect(const SkinRect& a, const SkinRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(PlayPanelLayoutTest, KindFourOnItsSkinTakesTheFixedRow) {
    PlaySkin skin(SkinRect{26, 56, 64, 94});
    FakeOwner owner;
    owner.kind = 4;
    SetupPlay panel(owner, nullptr, &skin);
    for (int i = 0; i < 7; ++i) {
        const UINT id = 20400 + 4 * static_cast<UINT>(i);
        const int left = 22 + 52 * i;
        EXPECT_TRUE(SameRect(panel.Key(id)->rect, SkinRect{left, 56, left + 38, 94})) << id;
    }
    EXPECT_TRUE(SameRect(panel.Key(20428)->rect, skin.m_rects[20428]));
    EXPECT_TRUE(SameRect(panel.Key(20432)->rect, SkinRect{}));
    EXPECT_TRUE(SameRect(panel.Key(20436)->rect, SkinRect{}));

    // The first key answers at its new place; the emptied ones never do.
    ClickAt(panel, QPoint(41, 75));
    ClickAt(panel, QPoint(334 + 19, 75));
    EXPECT_EQ(owner.keys, (std::vector<Pair>{{2, 3}, {2, 2}}));
    owner.keys.clear();
    ClickAt(panel, Centre(skin.m_rects[20432]));
    ClickAt(panel, Centre(skin.m_rects[20436]));
    ClickAt(panel, QPoint(0, 0));
    EXPECT_TRUE(owner.keys.empty());
}

TEST(PlayPanelLayoutTest, OtherSkinsOrKindsKeepTheSkinLayout) {
    struct Case {
        int kind;
        SkinRect first;
    };
    const Case cases[] = {
        {4, SkinRect{26, 57, 64, 94}},  // top differs
        {4, SkinRect{26, 56, 65, 94}},  // right differs
        {2, SkinRect{26, 56, 64, 94}},  // the skin fits, the kind does not
        {5, SkinRect{26, 56, 64, 94}},
    };
    for (const Case& c : cases) {
        PlaySkin skin(c.first);
        FakeOwner owner;
        owner.kind = c.kind;
        SetupPlay panel(owner, nullptr, &skin);
        for (UINT id = 20400; id <= 20436; id += 4) {
            EXPECT_TRUE(SameRect(panel.Key(id)->rect, skin.m_rects[static_cast<int>(id)]))
                << "kind " << c.kind << " key " << id;
        }
    }
}

TEST(PlayPanelLayoutTest, LayoutIsFixedAtCreationWhileTheMappingFollowsTheKind) {
    PlaySkin skin(SkinRect{26, 56, 64, 94});
    FakeOwner owner;
    owner.kind = 2;
    SetupPlay panel(owner, nullptr, &skin);
    owner.kind = 4;
    EXPECT_TRUE(SameRect(panel.Key(20436)->rect, skin.m_rects[20436]));
    owner.kind = 1;
    ClickAt(panel, Centre(panel.Key(20436)));
    EXPECT_EQ(owner.keys, (std::vector<Pair>{{2, 7}}));
    EXPECT_EQ(panel.BuildKind(), 2);
}

}  // namespace
