// The client view against the simulated recorder: connect, hello, login,
// refusals, disconnection and the watchdog's reconnection.

#include "tests/integration/view_fixture.h"

#include "protocol/packets.h"

using namespace packets;
using testing_support::PumpFor;
using testing_support::PumpUntil;

TEST_F(ViewFixture, LoginConversation) {
    recorder::RecorderConfig config;
    config.sessionId = 0x1234;
    config.timeZone.offsetMinutes = 540;
    config.timeZone.dstOn = 1;
    config.timeZone.startMonth = 3;
    config.timeZone.endMonth = 10;
    StartRecorder(config);
    MakeView();
    LogIn();
    ASSERT_TRUE(WaitPacket(PT_TIME_ZONE_ACK));

    const auto lines = m_view->StatusLines();
    const std::vector<std::u16string> expected = {u"PLEASE WAIT...", u"CONNECTION SUCCESS",
                                                  u"16 CH DVR", u"LOGIN SUCCESS"};
    EXPECT_EQ(std::vector<std::u16string>(lines.begin(), lines.begin() + 4), expected);

    // What the client said, in order: init, login, session, time-zone request, ack.
    std::vector<std::uint16_t> order;
    for (const auto& p : m_recorder.Received()) {
        if (p.route == 1) order.push_back(p.type);
    }
    EXPECT_EQ(order, (std::vector<std::uint16_t>{PT_LOGIN, PT_SESSION, PT_TIME_ZONE,
                                                 PT_TIME_ZONE_ACK}));
    const auto login = Packets(PT_LOGIN).at(0).payload;
    ASSERT_EQ(login.size(), 272u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(login.data())), "admin");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(login.data() + 128)), "1234");
    const auto session = Packets(PT_SESSION).at(0).payload;
    ASSERT_EQ(session.size(), 32u);
    EXPECT_EQ(session[0] | (session[1] << 8), 0x1234);
    EXPECT_TRUE(Packets(PT_TIME_ZONE).at(0).payload.empty());

    EXPECT_EQ(m_view->m_sessionId, 0x1234u);
    EXPECT_EQ(m_view->m_channelCount, 16);
    EXPECT_EQ(m_view->m_time.rules().offsetMinutes, 540);
    EXPECT_EQ(m_view->m_time.rules().endMonth, 10);
    EXPECT_EQ(m_timerStarts, 1);
    EXPECT_FALSE(m_view->ButtonEnabled(kBtnConnect));
    EXPECT_TRUE(m_view->ButtonEnabled(kBtnDisconnect));
}

TEST_F(ViewFixture, RefusedLoginsShowTheirTextAndDisconnect) {
    const std::pair<std::int32_t, std::u16string> cases[] = {
        {2, u"INCORRECT USER PASSWORD"},
        {3, u"UNKNOWN ERROR"},
        {4, u"CONNECTION DENIED DUE TO FULL OF USERS"},
        {5, u"CONNECTION REJECTED"},
        {6, u"REJECTED BY ADMIN"},
        {0, u"LOGIN FAILURE"},
        {77, u"LOGIN FAILURE"},
    };
    for (const auto& [result, text] : cases) {
        SCOPED_TRACE(result);
        recorder::RecorderConfig config;
        config.forcedLoginResult = result;
        StartRecorder(config);
        MakeView();
        m_view->OnBarCommand(kBtnConnect);
        ASSERT_TRUE(WaitStatus(u"DISCONNECTED"));
        const auto lines = m_view->StatusLines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], text);
        EXPECT_EQ(m_view->m_connectState, 2);
        EXPECT_TRUE(m_view->ButtonEnabled(kBtnConnect));
        EXPECT_FALSE(m_view->ButtonEnabled(kBtnSearch));
        EXPECT_EQ(m_timerStarts, 0);
        TearDown();
        m_view = nullptr;
    }
}

TEST_F(ViewFixture, WrongPasswordIsRefused) {
    StartRecorder();
    MakeView(u"admin", u"wrong");
    m_view->OnBarCommand(kBtnConnect);
    ASSERT_TRUE(WaitStatus(u"INCORRECT USER PASSWORD"));
}

TEST_F(ViewFixture, SessionIdZeroSendsNoSession) {
    recorder::RecorderConfig config;
    config.sessionId = 0;
    config.channels = 12;
    StartRecorder(config);
    MakeView();
    LogIn();
    EXPECT_TRUE(HasStatus(u"12 CH DVR"));
    EXPECT_EQ(m_view->m_channelCount, 12);
    // Give a stray packet time to show up.
    m_recorder.SendCommand(PT_HELLO + 0, {});  // an empty hello is ignored
    PumpFor(100);
    EXPECT_TRUE(Packets(PT_SESSION).empty());
    EXPECT_TRUE(Packets(PT_TIME_ZONE).empty());
}

TEST_F(ViewFixture, SessionAndTimeZoneRules) {
    StartRecorder();
    MakeView();
    LogIn();
    ASSERT_TRUE(WaitPacket(PT_TIME_ZONE_ACK));

    // PT_SESSION 0 asks for nothing; 1 asks for the time zone again.
    m_recorder.SendCommand(PT_SESSION, {0, 0, 0, 0});
    m_recorder.SendCommand(PT_SESSION, {1, 0, 0});  // too short: ignored
    m_recorder.SendCommand(PT_SESSION, {1, 0, 0, 0});
    ASSERT_TRUE(WaitPacket(PT_TIME_ZONE, 2));
    ASSERT_TRUE(WaitPacket(PT_TIME_ZONE_ACK, 2));
    PumpFor(50);
    EXPECT_EQ(Packets(PT_TIME_ZONE).size(), 2u);

    // Validity 0: no acknowledgement, nothing changes.
    std::vector<std::uint8_t> tz(24, 0);
    tz[16] = 60;
    m_recorder.SendCommand(PT_TIME_ZONE, tz);
    // Reversed rules: offset and on flag taken, rules kept.
    std::vector<std::uint8_t> reversed(24, 0);
    reversed[0] = 1;
    reversed[8] = 10;   // start month
    reversed[11] = 3;   // end month before it
    reversed[14] = 1;
    reversed[16] = 120;
    m_recorder.SendCommand(PT_TIME_ZONE, reversed);
    ASSERT_TRUE(WaitPacket(PT_TIME_ZONE_ACK, 3));
    PumpFor(50);
    EXPECT_EQ(Packets(PT_TIME_ZONE_ACK).size(), 3u);
    EXPECT_EQ(m_view->m_time.rules().offsetMinutes, 120);
    EXPECT_EQ(m_view->m_time.rules().dstEnabled, 1u);
    EXPECT_NE(m_view->m_time.rules().startMonth, 10);
}

TEST_F(ViewFixture, ConnectingToAClosedPortFails) {
    StartRecorder();
    MakeView();
    m_view->SetEditText(IDC_PORT, ToU16(std::to_string(testing_support::FreeLoopbackPort())));
    m_view->OnBarCommand(kBtnConnect);
    ASSERT_TRUE(WaitStatus(u"CONNECTION FAILURE"));
    EXPECT_TRUE(m_view->ButtonEnabled(kBtnConnect));
    EXPECT_FALSE(m_view->ButtonEnabled(kBtnDisconnect));
    EXPECT_EQ(m_view->m_connectState, 0);  // left as it was; only 1 counts
}

TEST_F(ViewFixture, EmptyAddressOrUserStartsNothing) {
    StartRecorder();
    MakeView(u"");
    m_view->OnBarCommand(kBtnConnect);
    EXPECT_TRUE(HasStatus(u"PLEASE INPUT IP AND USER ID"));
    EXPECT_FALSE(HasStatus(u"PLEASE WAIT..."));
    EXPECT_EQ(m_view->m_connectState, 2);
}

TEST_F(ViewFixture, RecorderDropShowsDisconnected) {
    recorder::RecorderConfig config;
    config.dropAfterSeconds = 0.2;
    StartRecorder(config);
    MakeView();
    LogIn();
    ASSERT_TRUE(WaitStatus(u"DISCONNECTED"));
    EXPECT_EQ(m_view->m_connectState, 2);
    EXPECT_TRUE(m_view->ButtonEnabled(kBtnConnect));
    EXPECT_EQ(CountStatus(u"DISCONNECTED"), 1);
}

TEST_F(ViewFixture, DisconnectButtonLogsOut) {
    StartRecorder();
    MakeView();
    LogIn();
    m_view->OnBarCommand(kBtnDisconnect);
    EXPECT_TRUE(HasStatus(u"DISCONNECTED"));
    ASSERT_TRUE(WaitPacket(PT_LOGOUT));
    ASSERT_TRUE(m_recorder.WaitForClientCount(0, 3000));
    // Nothing of the ended connection reaches the view afterwards.
    PumpFor(100);
    EXPECT_EQ(CountStatus(u"DISCONNECTED"), 1);
}

TEST_F(ViewFixture, SilentLinkReconnectsAfterTwentyThousandTicks) {
    recorder::RecorderConfig config;
    config.silentAfterSeconds = 0.05;
    StartRecorder(config);
    MakeView();
    LogIn();
    PumpFor(150);  // the recorder has fallen silent

    for (int i = 0; i < 20000; ++i) m_view->OnLinkTick();
    EXPECT_EQ(m_view->m_idleTicks, 20000u);
    PumpFor(20);
    EXPECT_FALSE(HasStatus(u"RECONNECTED"));
    m_view->OnLinkTick();  // the 20001st
    EXPECT_EQ(m_view->m_idleTicks, 0u);
    ASSERT_TRUE(WaitStatus(u"RECONNECTED"));
    ASSERT_TRUE(WaitStatus(u"LOGIN SUCCESS", 2, 8000));
    EXPECT_EQ(CountStatus(u"RECONNECTED"), 1);
    EXPECT_EQ(Packets(PT_LOGIN).size(), 2u);
    EXPECT_EQ(Packets(PT_LOGOUT).size(), 1u);

    // A packet before the limit resets the count.
    for (int i = 0; i < 19999; ++i) m_view->OnLinkTick();
    m_recorder.SendCommand(PT_VIDEO, std::vector<std::uint8_t>(32, 0));
    ASSERT_TRUE(PumpUntil([&] { return m_view->m_idleTicks == 0u; }));
    for (int i = 0; i < 10; ++i) m_view->OnLinkTick();
    PumpFor(20);
    EXPECT_EQ(CountStatus(u"RECONNECTED"), 1);
}

TEST_F(ViewFixture, TicksOutsideALoginDoNotCount) {
    StartRecorder();
    MakeView();
    for (int i = 0; i < 30000; ++i) m_view->OnLinkTick();
    EXPECT_EQ(m_view->m_idleTicks, 0u);
    EXPECT_EQ(m_view->m_tickCount, 30000u);
    PumpFor(20);
    EXPECT_FALSE(HasStatus(u"RECONNECTED"));
}

TEST_F(ViewFixture, TwoWayAudioSignalsFromTheRecorder) {
    recorder::RecorderConfig config;
    config.sessionId = 9;
    StartRecorder(config);
    MakeView();
    LogIn();

    m_recorder.SendTalkOpen();
    ASSERT_TRUE(WaitPacket(PT_TALK_REPLY));
    EXPECT_EQ(Packets(PT_TALK_REPLY).at(0).payload, (std::vector<std::uint8_t>{9, 0, 0, 0}));
    EXPECT_EQ(m_view->m_audioState, 2);

    m_recorder.SendCommand(PT_TALK_STATE, {1, 0, 0, 0});
    ASSERT_TRUE(PumpUntil([&] { return m_view->m_audioState == 3; }));

    m_recorder.SendCommand(PT_TALK_STATE, {2, 0, 0, 0});
    ASSERT_TRUE(WaitPacket(PT_TALK_STOP));
    EXPECT_EQ(m_view->m_audioState, 5);

    m_recorder.SendCommand(PT_TALK_STOP, {});
    ASSERT_TRUE(WaitPacket(PT_TALK_END));
    EXPECT_EQ(m_view->m_audioState, 0);

    m_recorder.SendTalkOpen();
    ASSERT_TRUE(PumpUntil([&] { return m_view->m_audioState == 2; }));
    m_recorder.SendTalkClose();
    ASSERT_TRUE(WaitPacket(PT_TALK_END, 2));
    EXPECT_EQ(m_view->m_audioState, 0);
}

TEST_F(ViewFixture, TwoWayAudioRequestedByTheUser) {
    recorder::RecorderConfig config;
    config.sessionId = 9;
    StartRecorder(config);
    MakeView();
    LogIn();

    m_view->SetButtonChecked(kBtnTalk, true);
    m_view->OnBarCommand(kBtnTalk);
    ASSERT_TRUE(WaitPacket(PT_TALK_REQUEST));
    EXPECT_EQ(m_view->m_audioState, 1);
    // Pressed again while unanswered: nothing more.
    m_view->OnBarCommand(kBtnTalk);

    m_recorder.SendCommand(PT_TALK_REPLY, {1, 0, 0, 0});
    ASSERT_TRUE(WaitStatus(u"TWOWAY AUDIO CONNECTION SUCCESS"));
    EXPECT_EQ(m_view->m_audioState, 3);
    ASSERT_TRUE(WaitPacket(PT_TALK_STATE));
    EXPECT_EQ(Packets(PT_TALK_REQUEST).size(), 1u);

    // The disconnect button ends the talk after the logout: 84, 100 {2}, 98, 101.
    m_view->OnBarCommand(kBtnDisconnect);
    ASSERT_TRUE(WaitPacket(PT_TALK_END));
    std::vector<std::uint16_t> tail;
    for (const auto& p : m_recorder.Received()) {
        if (p.route == 1) tail.push_back(p.type);
    }
    ASSERT_GE(tail.size(), 4u);
    EXPECT_EQ(std::vector<std::uint16_t>(tail.end() - 4, tail.end()),
              (std::vector<std::uint16_t>{PT_LOGOUT, PT_TALK_STATE, PT_TALK_STOP, PT_TALK_END}));
    EXPECT_EQ(m_view->m_audioState, 0);
    EXPECT_FALSE(m_view->ButtonChecked(kBtnTalk));
}

TEST_F(ViewFixture, RecordRangeAndMalformedPackets) {
    StartRecorder();
    MakeView();
    LogIn();
    std::vector<std::uint8_t> range(32, 0);
    range[10] = 0xD8;
    range[11] = 0x07;  // begin year 2008, end year 0
    m_recorder.SendCommand(PT_RECORD_RANGE, range);
    ASSERT_TRUE(WaitStatus(u"INVALID DVR TIME"));
    EXPECT_EQ(m_view->m_dvrTime, (std::array<std::uint8_t, 32>{[&] {
                  std::array<std::uint8_t, 32> a{};
                  std::copy(range.begin(), range.end(), a.begin());
                  return a;
              }()}));

    // Short payloads are dropped without reading past them.
    m_recorder.SendCommand(PT_LOGIN, {1, 0, 0, 0, 0, 0, 0, 16});
    m_recorder.SendCommand(PT_RECORD_RANGE, {1, 2, 3});
    m_recorder.SendCommand(PT_VIDEO, {0, 0, 0, 0, 1});
    m_recorder.SendCommand(PT_TIME_ZONE, {1, 0, 0, 0});
    m_recorder.SendCommand(PT_TALK_STATE, {});
    m_recorder.SendCommand(0, {1, 2});
    m_recorder.SendCommand(500, std::vector<std::uint8_t>(100, 0xFF));
    m_recorder.SendStream(PT_CAMERA_TITLES, std::vector<std::uint8_t>(40, 'A'));
    PumpFor(200);
    EXPECT_EQ(CountStatus(u"LOGIN SUCCESS"), 1);
    EXPECT_EQ(CountStatus(u"INVALID DVR TIME"), 1);
    EXPECT_EQ(m_view->m_connectState, 1);
}

TEST_F(ViewFixture, StreamSettingsSetRestartsTheStream) {
    StartRecorder();
    MakeView();
    LogIn();
    m_view->m_streamSynced = true;
    m_recorder.SendCommand(PT_STREAM_SETTINGS_SET, {});
    ASSERT_TRUE(PumpUntil([&] { return !m_view->m_streamSynced.load(); }));
}

TEST_F(ViewFixture, VideoHeaderWithZeroRateKeepsTheLastGoodRate) {
    StartRecorder();
    MakeView();
    LogIn();
    std::vector<std::uint8_t> header(32, 0);
    header[29] = 25;
    m_recorder.SendCommand(PT_VIDEO, header);
    ASSERT_TRUE(PumpUntil([&] { return m_view->m_framesPerSecond == 25u; }));
    EXPECT_EQ(m_view->m_frameIntervalMs, 40u);
    header[29] = 0;
    m_recorder.SendCommand(PT_VIDEO, header);
    m_recorder.SendCommand(PT_SESSION, {0, 0, 0, 0});
    PumpFor(100);
    EXPECT_EQ(m_view->m_framesPerSecond, 25u);
    EXPECT_EQ(m_view->m_frameIntervalMs, 40u);
}

TEST_F(ViewFixture, HeldPtzButtonSendsOneCommandPerStreamBlock) {
    StartRecorder();
    MakeView();
    LogIn();
    m_view->StepPtzChannel(3);
    m_view->EnterLeavePtzMode();  // (1, 2) then (3, 3)
    ASSERT_TRUE(WaitPacket(PT_REMOTE_KEY, 2));

    m_view->HoldPtz(20044);
    m_recorder.SendStream(PT_VIDEO, {0});
    m_recorder.SendStream(PT_VIDEO, {0});  // no new press or repeat: nothing more
    ASSERT_TRUE(WaitPacket(PT_PTZ, 1));
    m_view->ReleasePtz(20044);
    m_recorder.SendStream(PT_VIDEO, {0});
    ASSERT_TRUE(WaitPacket(PT_PTZ, 2));
    PumpFor(50);
    const auto ptz = Packets(PT_PTZ);
    ASSERT_EQ(ptz.size(), 2u);
    EXPECT_EQ(ptz[0].payload, (std::vector<std::uint8_t>{2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0}));
    EXPECT_EQ(ptz[1].payload, (std::vector<std::uint8_t>{2, 0, 0, 0, 22, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0}));
    const auto keys = Packets(PT_REMOTE_KEY);
    EXPECT_EQ(keys[0].payload[4], 1);
    EXPECT_EQ(keys[0].payload[5], 2);
    EXPECT_EQ(keys[1].payload[4], 3);
    EXPECT_EQ(keys[1].payload[5], 3);
}
