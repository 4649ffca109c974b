// The recorder simulator over loopback: a raw socket client of our own speaks
// the framing byte by byte, so these tests do not depend on the client
// transport. The last group runs the qvelnor-recorder program itself.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "outside/qremotesocket/wire_format.h"
#include "recorder/recorder.h"
#include "tests/integration/raw_client.h"
#include "tests/test_support.h"

extern char** environ;

namespace {

using raw_client::Bytes;
using raw_client::Clock;
using raw_client::FrameBytes;
using raw_client::InitPayload;
using raw_client::Le32;
using raw_client::LoginPayload;
using raw_client::ReadLe32;
using recorder::Recorder;
using recorder::RecorderConfig;

constexpr int kWaitMs = 3000;  // upper bound for anything that should be quick

// A header with any magic and version, for the headers that are not ours.
Bytes Header(std::uint16_t magic, std::uint8_t version, std::uint8_t route, std::uint16_t type,
             std::uint32_t length) {
    Bytes h(wire::kHeaderSize);
    wire::EncodeHeader(h.data(), wire::Header{route, type, length});
    wire::WriteU16(h.data(), magic);
    h[2] = version;
    return h;
}

std::string Hex(const Bytes& b) {
    std::string s;
    char buf[3];
    for (auto v : b) {
        std::snprintf(buf, sizeof buf, "%02x", v);
        s += buf;
    }
    return s;
}

// The shared raw client with this file's time-out and a login that fails the
// test when the recorder does not answer.
class RawClient : public raw_client::Client {
public:
    explicit RawClient(int port) : Client(port, kWaitMs) {}

    // Init, hello, login; the login reply's payload.
    Bytes InitAndLogin(const std::string& user, const std::string& password) {
        std::string failure;
        auto reply = Login(user, password, &failure);
        if (!reply) {
            ADD_FAILURE() << failure;
            return {};
        }
        return *reply;
    }
};

class RecorderTest : public ::testing::Test {
protected:
    void StartRecorder(RecorderConfig config) {
        config.port = 0;
        std::string error;
        ASSERT_TRUE(m_recorder.Start(config, &error)) << error;
        ASSERT_NE(m_recorder.Port(), 0);
    }
    void StartRecorder() { StartRecorder(RecorderConfig{}); }
    int Port() const { return m_recorder.Port(); }

    Recorder m_recorder;
};

// ---------------------------------------------------------------- login

TEST_F(RecorderTest, InitIsAnsweredWithHello) {
    StartRecorder();
    RawClient c(Port());
    ASSERT_TRUE(c.Connected());
    ASSERT_TRUE(c.SendInit());
    auto hello = c.Read();
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->route, wire::kRouteCommand);
    EXPECT_EQ(hello->type, 85);
    EXPECT_EQ(hello->payload, Le32(0x00010001));

    auto got = m_recorder.Received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].clientId, 1);
    EXPECT_EQ(got[0].route, wire::kRouteControl);
    EXPECT_EQ(got[0].type, wire::kControlInit);
    EXPECT_EQ(got[0].payload, InitPayload());
}

TEST_F(RecorderTest, LoginReplyCarriesConfiguredFields) {
    RecorderConfig cfg;
    cfg.kind = 3;
    cfg.videoSystem = 1;
    cfg.features = 0x81;
    cfg.channels = 12;
    cfg.sessionId = 0x12345678;
    cfg.rights = 4;
    StartRecorder(cfg);
    RawClient c(Port());
    const Bytes expected = {1, 0, 0, 0, 3, 1, 0x81, 12, 0,    0,    0,    0,    0, 0, 0, 0,
                            0, 0, 0, 0, 0, 0, 0,    0,  0x78, 0x56, 0x34, 0x12, 4, 0, 0, 0};
    EXPECT_EQ(c.InitAndLogin("admin", "1234"), expected);
}

TEST_F(RecorderTest, LoginResults) {
    struct Case {
        const char* name;
        std::optional<std::int32_t> forced;
        std::string user, password;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"first account", std::nullopt, "admin", "1234", 1},
        {"second account", std::nullopt, "guest", "", 1},
        {"wrong password", std::nullopt, "admin", "4321", 2},
        {"password prefix", std::nullopt, "admin", "123", 2},
        {"password longer", std::nullopt, "admin", "12345", 2},
        {"unknown user", std::nullopt, "root", "1234", 2},
        {"user case differs", std::nullopt, "Admin", "1234", 2},
        {"password of other account", std::nullopt, "guest", "1234", 2},
        {"forced refusal, good credentials", 5, "admin", "1234", 5},
        {"forced success, bad credentials", 1, "nobody", "x", 1},
        {"forced negative", -7, "admin", "1234", -7},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        RecorderConfig cfg;
        cfg.users = {{"admin", "1234"}, {"guest", ""}};
        cfg.forcedLoginResult = tc.forced;
        Recorder rec;
        cfg.port = 0;
        std::string error;
        ASSERT_TRUE(rec.Start(cfg, &error)) << error;
        RawClient c(rec.Port());
        Bytes reply = c.InitAndLogin(tc.user, tc.password);
        ASSERT_EQ(reply.size(), 32u);
        EXPECT_EQ(static_cast<std::int32_t>(ReadLe32(reply, 0)), tc.expected);
    }
}

TEST_F(RecorderTest, SessionIsAnsweredWithOneAfterLogin) {
    StartRecorder();
    RawClient c(Port());
    c.InitAndLogin("admin", "1234");

    ASSERT_TRUE(c.SendCommand(81, Le32(1)));
    auto session = c.Read();
    ASSERT_TRUE(session);
    EXPECT_EQ(session->route, wire::kRouteCommand);
    EXPECT_EQ(session->type, 81);
    Bytes expected(32, 0);
    expected[0] = 1;
    EXPECT_EQ(session->payload, expected);

    // The time-zone acknowledgement is taken silently; the connection carries on.
    ASSERT_TRUE(c.SendCommand(82, {1, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(c.SendCommand(81, Le32(1)));
    auto again = c.Read();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->type, 81);
}

TEST(RecorderTimeZone, RequestIsAnsweredWithTheConfiguredRules) {
    recorder::TimeZoneRules dst;
    dst.offsetMinutes = -300;
    dst.dstOn = 1;
    dst.dstBiasMinutes = 60;
    dst.startMonth = 3;
    dst.startDay = 0;
    dst.startHour = 2;
    dst.startWeek = 2;
    dst.startWeekday = 0;
    dst.endMonth = 11;
    dst.endDay = 7;
    dst.endHour = 3;
    dst.endWeek = 1;
    dst.endWeekday = 6;
    recorder::TimeZoneRules invalid;
    invalid.validity = 0;
    invalid.offsetMinutes = 540;
    invalid.dstBiasMinutes = 255;

    struct Case {
        const char* name;
        recorder::TimeZoneRules rules;
        Bytes expected;  // validity, 4 reserved, start m d h, end m d h, on, bias, offset,
                         // start week, weekday, end week, weekday
    };
    const Case cases[] = {
        {"defaults", {}, {1, 0, 0, 0,  0, 0, 0, 0, 3, 0, 1, 10,
                          0, 2, 0, 60, 0, 0, 0, 0, 5, 0, 5, 0}},
        {"daylight saving, west of UTC", dst, {1, 0, 0, 0,  0,    0,    0,    0,    3, 0, 2, 11,
                                               7, 3, 1, 60, 0xd4, 0xfe, 0xff, 0xff, 2, 0, 1, 6}},
        {"validity 0 is sent as configured", invalid, {0, 0, 0, 0,   0,    0,    0, 0, 3, 0, 1, 10,
                                                       0, 2, 0, 255, 0x1c, 0x02, 0, 0, 5, 0, 5, 0}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        Recorder rec;
        RecorderConfig cfg;
        cfg.port = 0;
        cfg.timeZone = tc.rules;
        std::string error;
        ASSERT_TRUE(rec.Start(cfg, &error)) << error;
        RawClient c(rec.Port());
        c.InitAndLogin("admin", "1234");
        ASSERT_TRUE(c.SendCommand(135));
        auto tz = c.Read();
        ASSERT_TRUE(tz);
        EXPECT_EQ(tz->route, wire::kRouteCommand);
        EXPECT_EQ(tz->type, 135);
        EXPECT_EQ(tz->payload, tc.expected);
    }
}

// Requests that need a login get no answer without one. A login request
// afterwards serves as the marker: its reply must be the next frame.
TEST_F(RecorderTest, SessionAndTimeZoneNeedALogin) {
    StartRecorder();
    struct Case {
        const char* name;
        bool failedLoginFirst;
        bool loginThenLogout;
    };
    const Case cases[] = {
        {"after init only", false, false},
        {"after a refused login", true, false},
        {"after logout", false, true},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        RawClient c(Port());
        if (tc.failedLoginFirst) {
            ASSERT_EQ(ReadLe32(c.InitAndLogin("admin", "bad"), 0), 2u);
        } else if (tc.loginThenLogout) {
            ASSERT_EQ(ReadLe32(c.InitAndLogin("admin", "1234"), 0), 1u);
            ASSERT_TRUE(c.SendCommand(84, Le32(0)));
        } else {
            c.SendInit();
            ASSERT_TRUE(c.Read());
        }
        ASSERT_TRUE(c.SendCommand(81, Le32(1)));
        ASSERT_TRUE(c.SendCommand(135));
        ASSERT_TRUE(c.SendCommand(1, LoginPayload("admin", "1234")));
        auto next = c.Read();
        ASSERT_TRUE(next);
        EXPECT_EQ(next->type, 1);
    }
}

TEST_F(RecorderTest, ShortLoginRequestIsRefusedNotOverread) {
    StartRecorder();
    RawClient c(Port());
    c.SendInit();
    ASSERT_TRUE(c.Read());
    // "admin" without its terminator and without the password field.
    ASSERT_TRUE(c.SendCommand(1, {'a', 'd', 'm', 'i', 'n'}));
    auto reply = c.Read();
    ASSERT_TRUE(reply);
    EXPECT_EQ(ReadLe32(reply->payload, 0), 2u);
}

// ---------------------------------------------------------------- framing

TEST_F(RecorderTest, FramesSplitOrJoinedAnyHowAreReassembled) {
    StartRecorder();
    Bytes both = FrameBytes(wire::kRouteControl, wire::kControlInit, InitPayload());
    Bytes login = FrameBytes(wire::kRouteCommand, 1, LoginPayload("admin", "1234"));
    both.insert(both.end(), login.begin(), login.end());

    {
        SCOPED_TRACE("one byte at a time");
        RawClient c(Port());
        for (std::uint8_t b : both) {
            ASSERT_TRUE(c.SendRaw({b}));
        }
        auto hello = c.Read();
        auto reply = c.Read();
        ASSERT_TRUE(hello && reply);
        EXPECT_EQ(hello->type, 85);
        EXPECT_EQ(reply->type, 1);
        EXPECT_EQ(ReadLe32(reply->payload, 0), 1u);
    }
    {
        SCOPED_TRACE("two frames in one write");
        RawClient c(Port());
        ASSERT_TRUE(c.SendRaw(both));
        auto hello = c.Read();
        auto reply = c.Read();
        ASSERT_TRUE(hello && reply);
        EXPECT_EQ(hello->type, 85);
        EXPECT_EQ(ReadLe32(reply->payload, 0), 1u);
    }
}

TEST_F(RecorderTest, BadFramesCloseTheConnection) {
    StartRecorder();
    const Bytes init = FrameBytes(wire::kRouteControl, wire::kControlInit, InitPayload());
    Bytes wrongTag = InitPayload();
    wrongTag[0] = 'X';
    Bytes wrongProtocol = InitPayload();
    wrongProtocol[8] = 2;
    const Bytes shortInit(wire::kInitTag, wire::kInitTag + sizeof wire::kInitTag);
    struct Case {
        const char* name;
        bool initFirst;
        Bytes bytes;
    };
    const Case cases[] = {
        {"wrong magic", true, Header(0x5652, 1, 1, 81, 0)},
        {"wrong version", true, Header(0x5651, 2, 1, 81, 0)},
        {"route 0", true, Header(0x5651, 1, 0, 81, 0)},
        {"route 4", true, Header(0x5651, 1, 4, 81, 0)},
        // Refused on the header alone: the payload is never sent.
        {"payload above the cap", true, Header(0x5651, 1, 2, 99, Recorder::kMaxPayload + 1)},
        {"length 0xffffffff", true, Header(0x5651, 1, 1, 1, 0xffffffffu)},
        {"command before init", false, FrameBytes(1, 1, LoginPayload("admin", "1234"))},
        {"stream before init", false, FrameBytes(2, 99, Bytes(800, 0x80))},
        {"init with a wrong tag", false, FrameBytes(3, 1, wrongTag)},
        {"init of another protocol version", false, FrameBytes(3, 1, wrongProtocol)},
        {"init too short", false, FrameBytes(3, 1, shortInit)},
        {"talk code instead of init", false, FrameBytes(3, 2, {})},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        RawClient c(Port());
        if (tc.initFirst) {
            ASSERT_TRUE(c.SendRaw(init));
            ASSERT_TRUE(c.Read());
        }
        c.SendRaw(tc.bytes);
        EXPECT_TRUE(c.WaitClosed());
    }
    // Each bad client took only itself down.
    RawClient after(Port());
    EXPECT_EQ(after.InitAndLogin("admin", "1234").size(), 32u);
    EXPECT_TRUE(m_recorder.WaitForClientCount(1, kWaitMs));
}

TEST_F(RecorderTest, PayloadAtTheCapIsAccepted) {
    StartRecorder();
    RawClient c(Port());
    c.InitAndLogin("admin", "1234");
    Bytes big(Recorder::kMaxPayload, 0x80);
    big.back() = 0x7f;
    ASSERT_TRUE(c.Send(wire::kRouteStream, 99, big));
    ASSERT_TRUE(m_recorder.WaitForPacket(99, kWaitMs, 1, wire::kRouteStream));
    auto got = m_recorder.Received();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back().payload, big);
    // Still served.
    ASSERT_TRUE(c.SendCommand(81, Le32(1)));
    auto session = c.Read();
    ASSERT_TRUE(session);
    EXPECT_EQ(session->type, 81);
}

// ---------------------------------------------------------------- clients

TEST_F(RecorderTest, TwoClientsAtOnce) {
    RecorderConfig cfg;
    cfg.users = {{"admin", "1234"}, {"viewer", "pw"}};
    StartRecorder(cfg);
    RawClient a(Port());
    RawClient b(Port());
    ASSERT_TRUE(m_recorder.WaitForClientCount(2, kWaitMs));

    // Interleaved: both greet, then b logs in before a.
    ASSERT_TRUE(a.SendInit());
    ASSERT_TRUE(b.SendInit());
    ASSERT_TRUE(b.SendCommand(1, LoginPayload("viewer", "pw")));
    ASSERT_TRUE(a.SendCommand(1, LoginPayload("admin", "wrong")));
    for (RawClient* c : {&a, &b}) {
        auto hello = c->Read();
        ASSERT_TRUE(hello);
        EXPECT_EQ(hello->type, 85);
    }
    auto ra = a.Read();
    auto rb = b.Read();
    ASSERT_TRUE(ra && rb);
    EXPECT_EQ(ReadLe32(ra->payload, 0), 2u);
    EXPECT_EQ(ReadLe32(rb->payload, 0), 1u);
    EXPECT_EQ(m_recorder.ClientCount(), 2);

    int clientOfViewerLogin = 0;
    for (const auto& p : m_recorder.Received()) {
        if (p.type == 1 && p.payload[0] == 'v') {
            clientOfViewerLogin = p.clientId;
        }
    }
    EXPECT_EQ(clientOfViewerLogin, 2);  // numbered in accept order

    b.SendCommand(84, Le32(0));
    ASSERT_TRUE(m_recorder.WaitForPacket(84, kWaitMs));
}

TEST_F(RecorderTest, SendsReachLoggedInClientsOnly) {
    StartRecorder();
    RawClient in(Port());
    in.InitAndLogin("admin", "1234");
    RawClient greeted(Port());
    greeted.SendInit();
    ASSERT_TRUE(greeted.Read());

    EXPECT_EQ(m_recorder.SendCommand(83, Bytes(32, 7)), 1);
    EXPECT_EQ(m_recorder.SendStream(83, {0, 0, 0, 1, 0x65}), 1);
    EXPECT_EQ(m_recorder.SendTalkOpen(), 1);
    EXPECT_EQ(m_recorder.SendTalkClose(), 1);

    struct Expected {
        std::uint8_t route;
        std::uint16_t type;
        Bytes payload;
    };
    const Expected expected[] = {
        {wire::kRouteCommand, 83, Bytes(32, 7)},
        {wire::kRouteStream, 83, {0, 0, 0, 1, 0x65}},
        {wire::kRouteControl, wire::kControlTalkOpen, {}},
        {wire::kRouteControl, wire::kControlTalkClose, {}},
    };
    for (const Expected& e : expected) {
        auto f = in.Read();
        ASSERT_TRUE(f);
        EXPECT_EQ(f->route, e.route);
        EXPECT_EQ(f->type, e.type);
        EXPECT_EQ(f->payload, e.payload);
    }

    // The client that is not logged in got none of it: its next frame is the
    // reply to its own login.
    greeted.SendCommand(1, LoginPayload("admin", "1234"));
    auto next = greeted.Read();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->type, 1);
}

TEST_F(RecorderTest, ClientStreamAndControlFramesAreRecordedOnly) {
    StartRecorder();
    RawClient c(Port());
    c.InitAndLogin("admin", "1234");
    Bytes audioHeader = {1, 0, 0, 0, 0x20, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(c.SendCommand(99, audioHeader));
    ASSERT_TRUE(c.Send(wire::kRouteStream, 99, Bytes(800, 0x80)));
    ASSERT_TRUE(c.Send(wire::kRouteControl, wire::kControlInit, InitPayload()));
    ASSERT_TRUE(c.SendCommand(81, Le32(1)));
    auto next = c.Read();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->type, 81);  // nothing was sent for the three before

    auto got = m_recorder.Received();
    ASSERT_EQ(got.size(), 6u);  // init, login, header, data, second init, session
    EXPECT_EQ(got[2].route, wire::kRouteCommand);
    EXPECT_EQ(got[2].payload, audioHeader);
    EXPECT_EQ(got[3].route, wire::kRouteStream);
    EXPECT_EQ(got[3].type, 99);
    EXPECT_EQ(got[3].payload.size(), 800u);
    EXPECT_EQ(got[4].route, wire::kRouteControl);
}

// ---------------------------------------------------------------- silence and drop

TEST_F(RecorderTest, DropAfterClosesTheConnection) {
    RecorderConfig cfg;
    cfg.dropAfterSeconds = 0.2;
    StartRecorder(cfg);
    RawClient c(Port());
    // Not before the login: a greeted client answers normally.
    c.SendInit();
    ASSERT_TRUE(c.Read());
    const auto loginAt = Clock::now();
    c.SendCommand(1, LoginPayload("admin", "1234"));
    auto reply = c.Read();
    ASSERT_TRUE(reply);
    EXPECT_TRUE(c.WaitClosed());
    EXPECT_GE(Clock::now() - loginAt, std::chrono::milliseconds(150));
    EXPECT_TRUE(m_recorder.WaitForClientCount(0, kWaitMs));
}

TEST_F(RecorderTest, SilentAfterKeepsTheConnectionButSendsNothing) {
    RecorderConfig cfg;
    cfg.silentAfterSeconds = 0.2;
    StartRecorder(cfg);
    RawClient c(Port());
    c.InitAndLogin("admin", "1234");

    // Broadcasts reach the client until it falls silent; then none is queued.
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
    while (m_recorder.SendCommand(0x7777, {}) != 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(m_recorder.SendCommand(0x7777, {}), 0);

    ASSERT_TRUE(c.SendCommand(135));
    ASSERT_TRUE(m_recorder.WaitForPacket(135, kWaitMs));
    while (auto f = c.Read(300)) {
        EXPECT_EQ(f->type, 0x7777) << "a reply after the silence";
    }
    EXPECT_EQ(m_recorder.ClientCount(), 1);
    EXPECT_FALSE(c.WaitClosed(50));
}

TEST_F(RecorderTest, GoSilentAndDropClientsOnDemand) {
    StartRecorder();
    RawClient a(Port());
    RawClient b(Port());
    a.InitAndLogin("admin", "1234");
    b.InitAndLogin("admin", "1234");

    m_recorder.GoSilent();
    EXPECT_EQ(m_recorder.SendCommand(83, Bytes(32, 0)), 0);
    ASSERT_TRUE(a.SendCommand(81, Le32(1)));
    ASSERT_TRUE(m_recorder.WaitForPacket(81, kWaitMs));
    EXPECT_FALSE(a.Read(200));

    m_recorder.DropClients();
    EXPECT_TRUE(a.WaitClosed());
    EXPECT_TRUE(b.WaitClosed());
    EXPECT_TRUE(m_recorder.WaitForClientCount(0, kWaitMs));

    // Still listening, and a new client is not silent.
    RawClient c(Port());
    EXPECT_EQ(c.InitAndLogin("admin", "1234").size(), 32u);
}

// ---------------------------------------------------------------- packet log

TEST_F(RecorderTest, PacketLogHasOneLinePerFrameReceived) {
    const std::string path = testing_support::MakeTempDir("recorder-log") + "/packets.log";
    RecorderConfig cfg;
    cfg.packetLogPath = path;
    StartRecorder(cfg);
    RawClient a(Port());
    a.InitAndLogin("admin", "1234");
    ASSERT_TRUE(a.SendCommand(135));
    ASSERT_TRUE(a.Read());
    ASSERT_TRUE(a.SendCommand(82, {1, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(a.Send(wire::kRouteStream, 99, {0x80, 0x7f, 0xff}));
    ASSERT_TRUE(m_recorder.WaitForPacket(99, kWaitMs, 1, wire::kRouteStream));
    RawClient b(Port());
    ASSERT_TRUE(b.SendInit());
    ASSERT_TRUE(m_recorder.WaitForPacket(wire::kControlInit, kWaitMs, 2, wire::kRouteControl));

    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    const std::vector<std::string> expected = {
        "client=1 route=control type=1 len=16 payload=" + Hex(InitPayload()),
        "client=1 route=command type=1 len=272 payload=" + Hex(LoginPayload("admin", "1234")),
        "client=1 route=command type=135 len=0 payload=",
        "client=1 route=command type=82 len=8 payload=0100000000000000",
        "client=1 route=stream type=99 len=3 payload=807fff",
        "client=2 route=control type=1 len=16 payload=5156454c4e4f52000100000000000000",
    };
    EXPECT_EQ(lines, expected);
}

// ---------------------------------------------------------------- start and stop

TEST(RecorderLifecycle, StartFailuresAreReported) {
    Recorder first;
    RecorderConfig cfg;
    cfg.port = 0;
    std::string error;
    ASSERT_TRUE(first.Start(cfg, &error)) << error;
    EXPECT_FALSE(first.Start(cfg, &error));

    struct Case {
        const char* name;
        std::string address;
        int port;
        std::string log;
    };
    const Case cases[] = {
        {"port in use", "127.0.0.1", first.Port(), ""},
        {"not an address", "localhost:1", 0, ""},
        {"port out of range", "127.0.0.1", 70000, ""},
        {"log in a missing folder", "127.0.0.1", 0,
         testing_support::MakeTempDir("recorder-bad-log") + "/no/such/dir/log"},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        Recorder r;
        RecorderConfig c;
        c.listenAddress = tc.address;
        c.port = tc.port;
        c.packetLogPath = tc.log;
        error.clear();
        EXPECT_FALSE(r.Start(c, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(r.Port(), 0);
    }
}

TEST(RecorderLifecycle, StopClosesClientsAndAllowsARestart) {
    Recorder rec;
    RecorderConfig cfg;
    cfg.port = 0;
    std::string error;
    ASSERT_TRUE(rec.Start(cfg, &error)) << error;
    RawClient c(rec.Port());
    c.InitAndLogin("admin", "1234");
    RawClient idle(rec.Port());  // connected, never speaks
    ASSERT_TRUE(rec.WaitForClientCount(2, kWaitMs));

    rec.Stop();
    EXPECT_TRUE(c.WaitClosed());
    EXPECT_TRUE(idle.WaitClosed());
    EXPECT_EQ(rec.Port(), 0);
    EXPECT_EQ(rec.ClientCount(), 0);
    rec.Stop();  // twice is harmless

    ASSERT_TRUE(rec.Start(cfg, &error)) << error;
    EXPECT_TRUE(rec.Received().empty());
    RawClient again(rec.Port());
    EXPECT_EQ(again.InitAndLogin("admin", "1234").size(), 32u);
}

TEST(RecorderLifecycle, ReceivedKeepsOnlyTheNewestPackets) {
    Recorder rec;
    RecorderConfig cfg;
    cfg.port = 0;
    cfg.keepReceived = 3;
    std::string error;
    ASSERT_TRUE(rec.Start(cfg, &error)) << error;
    RawClient c(rec.Port());
    c.InitAndLogin("admin", "1234");
    for (std::uint8_t i = 0; i < 5; ++i) {
        c.SendCommand(80, {i});
    }
    ASSERT_TRUE(rec.WaitForPacket(80, kWaitMs, 5));
    EXPECT_EQ(rec.ReceivedCount(80), 5u);
    EXPECT_EQ(rec.ReceivedCount(80, wire::kRouteStream), 0u);
    auto got = rec.Received();
    ASSERT_EQ(got.size(), 3u);
    for (std::uint8_t i = 0; i < 3; ++i) {
        EXPECT_EQ(got[i].payload, Bytes{static_cast<std::uint8_t>(i + 2)});
    }
}

// ---------------------------------------------------------------- the program

// The program sits beside the test binary in the build's bin folder.
std::string RecorderProgram() {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    auto program = self.parent_path() / "qvelnor-recorder";
    return std::filesystem::exists(program) ? program.string() : std::string();
}

struct Child {
    pid_t pid = -1;
    int out = -1;  // its stdout
    int err = -1;  // its stderr

    ~Child() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (out >= 0) {
            ::close(out);
        }
        if (err >= 0) {
            ::close(err);
        }
    }

    bool Spawn(const std::string& program, const std::vector<std::string>& args) {
        int o[2], e[2];
        if (::pipe2(o, O_CLOEXEC) != 0 || ::pipe2(e, O_CLOEXEC) != 0) {
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, o[1], 1);
        posix_spawn_file_actions_adddup2(&actions, e[1], 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(o[1]);
        ::close(e[1]);
        out = o[0];
        err = e[0];
        if (rc != 0) {
            pid = -1;
        }
        return rc == 0;
    }

    // Up to the first newline of fd, within timeoutMs.
    static std::string ReadLine(int fd, int timeoutMs) {
        std::string line;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        char ch = 0;
        while (Clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) {
                continue;
            }
            if (::read(fd, &ch, 1) != 1 || ch == '\n') {
                break;
            }
            line += ch;
        }
        return line;
    }

    // The exit code, or -1 if it has not exited within timeoutMs.
    int Wait(int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (Clock::now() >= deadline) {
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
};

TEST(RecorderProgram, ServesUntilSignalled) {
    const std::string program = RecorderProgram();
    if (program.empty()) {
        GTEST_SKIP() << "qvelnor-recorder is not built beside the tests";
    }
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        Child child;
        ASSERT_TRUE(child.Spawn(program, {"--listen", "127.0.0.1:0", "--channels", "4", "--user",
                                          "op:se:cret", "--video-system", "pal"}));
        const std::string line = Child::ReadLine(child.out, kWaitMs);
        const std::string prefix = "listening on 127.0.0.1:";
        ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
        const int port = std::stoi(line.substr(prefix.size()));
        ASSERT_GT(port, 0);

        RawClient c(port);
        Bytes reply = c.InitAndLogin("op", "se:cret");
        ASSERT_EQ(reply.size(), 32u);
        EXPECT_EQ(ReadLe32(reply, 0), 1u);
        EXPECT_EQ(reply[5], 1);  // PAL
        EXPECT_EQ(reply[7], 4);

        ::kill(child.pid, sig);
        EXPECT_EQ(child.Wait(kWaitMs), 0);
        EXPECT_TRUE(c.WaitClosed());
    }
}

TEST(RecorderProgram, BadOptionsExitWithTwo) {
    const std::string program = RecorderProgram();
    if (program.empty()) {
        GTEST_SKIP() << "qvelnor-recorder is not built beside the tests";
    }
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},
        {"--channels", "300"},
        {"--channels"},
        {"--video-system", "secam"},
        {"--listen", "127.0.0.1"},
        {"--dst-start", "13:0:0:0:0"},
        {"--user", "nocolon"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0]);
        Child child;
        ASSERT_TRUE(child.Spawn(program, args));
        EXPECT_EQ(child.Wait(kWaitMs), 2);
        EXPECT_FALSE(Child::ReadLine(child.err, kWaitMs).empty());
    }
    Child help;
    ASSERT_TRUE(help.Spawn(program, {"--help"}));
    EXPECT_EQ(help.Wait(kWaitMs), 0);
    EXPECT_EQ(Child::ReadLine(help.out, kWaitMs).rfind("Usage:", 0), 0u);
}

}  // namespace
