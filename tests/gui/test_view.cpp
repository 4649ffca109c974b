// The client view on its own (offscreen, no recorder): form, key mode, the
// corner square, rights, ARP flush, status list bound, playback panel state.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLineEdit>
#include <fstream>

#include "platform/neighbour_table.h"
#include "protocol/client_messages.h"
#include "panels/pixmart.h"
#include "protocol/velnor_client_view.h"
#include "tests/test_support.h"

using testing_support::PumpFor;

namespace {

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(BLDAPI_Initialize("ResKV.dll", 1), 0);
        m_view = new VelnorClientView;
        m_view->Initialise();
        m_view->SetNeighbourTable(&m_table);
    }
    void TearDown() override {
        m_view->DestroyWindow();
        PumpFor(5);
    }
    std::u16string LastLine() const {
        auto lines = m_view->StatusLines();
        return lines.empty() ? std::u16string() : lines.back();
    }
    void Click(Qt::MouseButton button, int x, int y) {
        QMouseEvent e(QEvent::MouseButtonPress, QPointF(x, y), QPointF(x, y), button, button,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &e);
    }
    void Key(int qtKey, QWidget* target = nullptr) {
        QKeyEvent e(QEvent::KeyPress, qtKey, Qt::NoModifier);
        QCoreApplication::sendEvent(target != nullptr ? target : m_view, &e);
    }
    // A login reply as the recorder sends it, handled directly.
    void LoginWith(std::uint32_t rights, std::uint8_t channels = 16) {
        std::uint8_t reply[32] = {};
        reply[0] = 1;
        reply[7] = channels;
        reply[28] = static_cast<std::uint8_t>(rights);  // session id 0: nothing is sent
        m_view->OnLoginReply(reply, sizeof reply);
    }

    VelnorClientView* m_view = nullptr;
    FakeNeighbourTable m_table;
};

std::vector<IpNetRow> Rows(int n) {
    std::vector<IpNetRow> rows(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        rows[static_cast<std::size_t>(i)].index = 1;
        rows[static_cast<std::size_t>(i)].addr = 0x0A000000u + static_cast<std::uint32_t>(i);
        rows[static_cast<std::size_t>(i)].type = 3;
    }
    return rows;
}

}  // namespace

TEST_F(ViewTest, StartsDisconnectedWithAnEmptyForm) {
    EXPECT_EQ(m_view->m_connectState, 2);
    EXPECT_TRUE(m_view->ButtonEnabled(kBtnConnect));
    EXPECT_FALSE(m_view->ButtonEnabled(kBtnDisconnect));
    EXPECT_TRUE(m_view->ButtonEnabled(kBtnExit));
    for (int id = kBtnKeyPanel; id <= kBtnPtzMode; id += 4) {
        EXPECT_FALSE(m_view->ButtonEnabled(id)) << id;
    }
    auto* address = qobject_cast<QLineEdit*>(m_view->GetDlgItem(IDC_ADDRESS));
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(address->maxLength(), 100);
    EXPECT_EQ(qobject_cast<QLineEdit*>(m_view->GetDlgItem(IDC_PASSWORD))->echoMode(),
              QLineEdit::Password);
    EXPECT_EQ(m_view->m_versionText, u"Ver 1. 0. 0. 1");
}

TEST_F(ViewTest, RightsEnableTheirGroups) {
    struct Case {
        std::uint32_t rights;
        bool remote;
        bool search;
    };
    for (const Case& c : {Case{4, true, false}, Case{2, false, true}, Case{6, true, true},
                          Case{0, false, false}}) {
        SCOPED_TRACE(c.rights);
        LoginWith(c.rights);
        for (int id : {int{kBtnKeyPanel}, int{kBtnSetup}, int{kBtnTalk}, 20020, 20028, 20044, 20072, int{kBtnPtzMode}}) {
            EXPECT_EQ(m_view->ButtonEnabled(id), c.remote) << id;
        }
        EXPECT_EQ(m_view->ButtonEnabled(kBtnSearch), c.search);
    }
}

TEST_F(ViewTest, LoginReplyWritesChannelLineThenSuccess) {
    LoginWith(6, 12);
    auto lines = m_view->StatusLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], u"12 CH DVR");
    EXPECT_EQ(lines.back(), u"LOGIN SUCCESS");
    EXPECT_EQ(m_view->m_channelCount, 12);
}

TEST_F(ViewTest, CornerSquareTogglesStatisticsAndKeyMode) {
    Click(Qt::LeftButton, 9, 9);
    EXPECT_TRUE(m_view->m_showStats);
    Click(Qt::LeftButton, 10, 0);
    EXPECT_TRUE(m_view->m_showStats);
    Click(Qt::LeftButton, 0, 0);
    EXPECT_FALSE(m_view->m_showStats);

    // Outside key mode the digits do nothing special.
    Key(Qt::Key_1);
    Click(Qt::RightButton, 10, 5);
    EXPECT_FALSE(m_view->m_keyMode);
    EXPECT_TRUE(m_view->StatusLines().empty());

    Click(Qt::RightButton, 3, 3);
    EXPECT_TRUE(m_view->m_keyMode);
    EXPECT_EQ(LastLine(), u"KEY MODE");
}

TEST_F(ViewTest, KeyModeDigits) {
    m_table.rows = Rows(3);
    m_view->m_keyMode = true;
    // A key typed into the address edit is looked at first.
    auto* address = m_view->GetDlgItem(IDC_ADDRESS);
    Key(Qt::Key_1, address);
    EXPECT_EQ(LastLine(), u"DELETE NET ENTRY");
    EXPECT_EQ(m_table.deleted.size(), 3u);
    EXPECT_TRUE(qobject_cast<QLineEdit*>(address)->text().isEmpty());  // consumed

    Key(Qt::Key_2);  // connect: the form is empty
    EXPECT_EQ(LastLine(), u"PLEASE INPUT IP AND USER ID");
    Key(Qt::Key_3);  // disconnect
    EXPECT_EQ(LastLine(), u"DISCONNECTED");
    Key(Qt::Key_4, address);  // passes on to the edit
    EXPECT_EQ(qobject_cast<QLineEdit*>(address)->text(), QString());
}

TEST_F(ViewTest, ArpFlushStopsAtTheBufferLimit) {
    m_table.rows = Rows(401);
    m_view->FlushArpCache();
    EXPECT_EQ(m_table.deleted.size(), 401u);

    FakeNeighbourTable big;
    big.rows = Rows(402);
    m_view->SetNeighbourTable(&big);
    m_view->FlushArpCache();
    EXPECT_TRUE(big.deleted.empty());

    FakeNeighbourTable empty;
    m_view->SetNeighbourTable(&empty);
    m_view->FlushArpCache();
    EXPECT_TRUE(empty.deleted.empty());
}

TEST_F(ViewTest, StatusListKeepsTheNewestThousandLines) {
    for (int i = 0; i < 1005; ++i) {
        m_view->WriteStatusF("line %d", i);
    }
    auto lines = m_view->StatusLines();
    ASSERT_EQ(lines.size(), 1000u);
    EXPECT_EQ(lines.front(), u"line 5");
    EXPECT_EQ(lines.back(), u"line 1004");
}

TEST_F(ViewTest, WorkersWriteStatusLinesThroughTheWindowThread) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        m_view->WriteStatus(u"PAUSE");
        done = true;
    });
    ASSERT_TRUE(testing_support::PumpUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(LastLine(), u"PAUSE");
}

TEST_F(ViewTest, LanguageFileTranslatesStatusLines) {
    const std::string path = testing_support::MakeTempDir("view-lang") + "/lang.inf";
    {
        std::ofstream out(path);
        out << "[VIEW]\nDISCONNECTED=VERBINDUNG GETRENNT\n";
    }
    m_view->m_langFile = path;
    m_view->OnBarCommand(kBtnDisconnect);
    EXPECT_EQ(LastLine(), u"VERBINDUNG GETRENNT");
    m_view->WriteStatus(u"KEYLOCK ON");
    EXPECT_EQ(LastLine(), u"KEYLOCK ON");
}

TEST_F(ViewTest, PlayPanelMessagesMovePlayMode) {
    m_view->WindowProc(UM_PLAY_PANEL, 1, 0);
    EXPECT_EQ(m_view->m_playMode, 1);
    m_view->WindowProc(UM_PLAY_PANEL, 2, 0);  // shows nothing while mode 1
    EXPECT_EQ(m_view->m_playMode, 1);
    m_view->m_lastSpeedByte = 0x27;
    m_view->WindowProc(UM_PLAY_PANEL, 3, 0);
    EXPECT_EQ(m_view->m_lastSpeedByte, 0);
    m_view->WindowProc(UM_PLAY_PANEL, 0, 0);
    EXPECT_EQ(m_view->m_playMode, 0);
}

TEST_F(ViewTest, PacketsWithUnknownTypesOnlyResetTheIdleCount) {
    std::uint8_t header[16] = {};
    std::uint8_t payload[4] = {1, 0, 0, 0};
    for (std::uint16_t type : {std::uint16_t{0}, std::uint16_t{139}, std::uint16_t{19},
                               std::uint16_t{80}, std::uint16_t{0xFFFF}}) {
        header[6] = static_cast<std::uint8_t>(type);
        header[7] = static_cast<std::uint8_t>(type >> 8);
        header[8] = 4;
        m_view->m_idleTicks = 55;
        m_view->WindowProc(UM_NET_PACKET, reinterpret_cast<WPARAM>(header),
                           reinterpret_cast<LPARAM>(payload));
        EXPECT_EQ(m_view->m_idleTicks, 0u);
    }
    m_view->WindowProc(UM_NET_PACKET, 0, 0);  // null header
    EXPECT_TRUE(m_view->StatusLines().empty());
    EXPECT_EQ(m_view->m_connectState, 2);
}

TEST_F(ViewTest, PtzChannelButtons) {
    VelnorClientView::lastPtzChannel = 0;
    m_view->OnBarCommand(kBtnPtzChannelDown);  // at 1 stays 1
    EXPECT_EQ(VelnorClientView::lastPtzChannel, 0);
    m_view->m_ptzMode = true;
    m_view->OnBarCommand(kBtnPtzChannelDown);
    EXPECT_EQ(VelnorClientView::lastPtzChannel, 1);
    for (int i = 0; i < 20; ++i) m_view->OnBarCommand(kBtnPtzChannelUp);
    EXPECT_EQ(VelnorClientView::lastPtzChannel, 16);  // stops at 16

    m_view->m_ptzMode = false;
    m_view->m_heldPtzButton = -1;
    m_view->FlushPtz();  // outside PTZ mode a release sends nothing
    EXPECT_EQ(m_view->m_heldPtzButton, 0);
}

TEST_F(ViewTest, ExitButtonAsksTheHostToClose) {
    class Host : public MessageWindow {
    public:
        LRESULT WindowProc(UINT msg, WPARAM, LPARAM) override {
            if (msg == UM_CLOSE_REQUEST) ++requests;
            return 0;
        }
        int requests = 0;
    } host;
    m_view->m_hCtrlWnd = host.hwnd();
    m_view->OnBarCommand(kBtnExit);
    EXPECT_EQ(host.requests, 1);
}
