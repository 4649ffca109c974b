// The transport against a raw TCP peer on 127.0.0.1: connecting, the init
// frame, receiving every route, the end of a connection, concurrent senders,
// and the life of the receive buffers (stale messages, a window that goes
// away, a session destroyed with messages still queued).

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "outside/qremotesocket/frame_reader.h"
#include "outside/qremotesocket/transport_stats.h"
#include "outside/qremotesocket/wire_format.h"
#include "platform/window.h"
#include "protocol/client_messages.h"
#include "protocol/qremotesocket.h"
#include "tests/integration/raw_client.h"
#include "tests/test_support.h"

using raw_client::Bytes;
using raw_client::FrameBytes;
using testing_support::PumpFor;
using testing_support::PumpUntil;

namespace {

Bytes Pattern(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>(seed * 31 + i * 7 + (i >> 8));
    }
    return b;
}

Bytes Join(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

// Waits without running the event loop, so posted messages stay queued.
bool WaitQuietly(const std::function<bool()>& pred, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) {
            return pred();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The recorder's end of the line: a listening socket on 127.0.0.1 and the one
// connection it accepted last.
class Peer {
public:
    Peer() {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 8);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~Peer() {
        CloseConnection();
        ::close(m_listen);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    int port() const { return m_port; }

    // A small receive window for connections accepted from now on: the other
    // side's writes then go through in pieces.
    void ShrinkReceiveWindow(int bytes) {
        ::setsockopt(m_listen, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }

    bool Accept(int timeoutMs = 5000) {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) {
            return false;
        }
        CloseConnection();
        m_fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return m_fd >= 0;
    }

    bool Send(const Bytes& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Exactly n bytes, or false on close, error or time-out.
    bool Read(std::size_t n, Bytes* out, int timeoutMs = 5000) {
        out->resize(n);
        std::size_t got = 0;
        while (got < n) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) != 1) {
                return false;
            }
            const ssize_t r = ::recv(m_fd, out->data() + got, n - got, 0);
            if (r <= 0) {
                return false;
            }
            got += static_cast<std::size_t>(r);
        }
        return true;
    }

    struct Received {
        wire::Header header;
        Bytes payload;
    };
    bool ReadFrame(Received* f, int timeoutMs = 5000) {
        Bytes h;
        if (!Read(wire::kHeaderSize, &h, timeoutMs) || !wire::DecodeHeader(h.data(), &f->header)) {
            return false;
        }
        return Read(f->header.length, &f->payload, timeoutMs);
    }

    // True once the other side has closed (end of stream or reset).
    bool SeesClose(int timeoutMs = 5000) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) {
            return false;
        }
        char c;
        return ::recv(m_fd, &c, 1, 0) <= 0;
    }

    void CloseConnection() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    // Close with a reset instead of an orderly end.
    void ResetConnection() {
        linger l{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        CloseConnection();
    }

private:
    int m_listen = -1;
    int m_fd = -1;
    int m_port = 0;
};

// What the window saw, copied while the message was being handled (the
// buffers are the transport's and valid only then).
struct Seen {
    UINT msg = 0;
    WPARAM w = 0;
    LPARAM l = 0;
    Bytes header;
    Bytes data;
    bool nullPayload = false;
};

class RecordingWindow : public MessageWindow {
public:
    LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
        Seen s{msg, w, l, {}, {}, false};
        if (msg == UM_NET_PACKET || msg == UM_NET_STREAM) {
            const auto* h = reinterpret_cast<const std::uint8_t*>(w);
            s.header.assign(h, h + kNetHeaderSize);
            const std::uint32_t length = wire::ReadU32(h + kNetHeaderLengthOffset);
            const std::uint8_t* data = nullptr;
            std::uint32_t dataLength = length;
            if (msg == UM_NET_PACKET) {
                data = reinterpret_cast<const std::uint8_t*>(l);
            } else {
                const auto* desc = reinterpret_cast<const std::uint8_t*>(l);
                std::memcpy(&data, desc + kStreamDescDataOffset, sizeof data);
                std::memcpy(&dataLength, desc + kStreamDescLengthOffset, sizeof dataLength);
                EXPECT_EQ(dataLength, length);
            }
            s.nullPayload = data == nullptr;
            if (data != nullptr) {
                s.data.assign(data, data + dataLength);
            }
        }
        seen.push_back(std::move(s));
        if (onMessage) {
            onMessage(seen.back());
        }
        return 0;
    }

    int Count(UINT msg) const {
        int n = 0;
        for (const Seen& s : seen) {
            n += s.msg == msg ? 1 : 0;
        }
        return n;
    }
    const Seen* Last(UINT msg) const {
        for (auto it = seen.rbegin(); it != seen.rend(); ++it) {
            if (it->msg == msg) {
                return &*it;
            }
        }
        return nullptr;
    }
    std::vector<Seen> Packets() const {
        std::vector<Seen> out;
        for (const Seen& s : seen) {
            if (s.msg == UM_NET_PACKET || s.msg == UM_NET_STREAM) {
                out.push_back(s);
            }
        }
        return out;
    }

    std::vector<Seen> seen;
    std::function<void(const Seen&)> onMessage;
};

_tagConnectSocketInfo Info(const char* host, int port, std::uint32_t bufferSize = 1u << 20,
                           int waitLimit = 5) {
    _tagConnectSocketInfo info{};
    std::strncpy(info.host, host, sizeof info.host - 1);
    info.kind = 2;
    info.port = port;
    info.waitLimit = waitLimit;
    info.option = 1;
    info.bufferSize = bufferSize;
    return info;
}

std::uint32_t InFlight(NSMG_SESSION s) {
    QRS_PoolStats st{};
    QRS_GetPoolStats(s, &st);
    return st.buffersInFlight;
}

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_poolsBefore = QRS_PoolsAlive();
        window = std::make_unique<RecordingWindow>();
        session = NSMGAPI_Create(window->hwnd());
        ASSERT_NE(session, nullptr);
    }
    void TearDown() override {
        if (session != nullptr) {
            NSMGAPI_Destroy(session);
        }
        // Whatever is still queued is dropped when the window goes; after that
        // every buffer is home and every pool gone.
        PumpFor(20);
        window.reset();
        EXPECT_TRUE(WaitQuietly([&] { return QRS_PoolsAlive() == m_poolsBefore; }));
    }

    // Connect to the peer and accept there; the 1445 of this connection is handled.
    void ConnectTo(Peer& peer, std::uint32_t bufferSize = 1u << 20) {
        const int before = window->Count(UM_NET_CONNECTED);
        const auto info = Info("127.0.0.1", peer.port(), bufferSize);
        ASSERT_EQ(NSMGAPI_Connect(session, &info), 1);
        ASSERT_TRUE(PumpUntil([&] { return window->Count(UM_NET_CONNECTED) > before; }));
        ASSERT_EQ(window->Last(UM_NET_CONNECTED)->w, 1u);
        ASSERT_TRUE(peer.Accept());
    }

    std::unique_ptr<RecordingWindow> window;
    NSMG_SESSION session = nullptr;

private:
    std::uint32_t m_poolsBefore = 0;
};

}  // namespace

// --- connecting ----------------------------------------------------------------

TEST_F(TransportTest, ConnectsAndSendsTheExactInitFrame) {
    Peer peer;
    ConnectTo(peer);
    ASSERT_EQ(NSMGAPI_SendInitPacketData(session), 1);
    Bytes got;
    ASSERT_TRUE(peer.Read(32, &got));
    const Bytes expected = {
        0x51, 0x56, 0x01, 0x03, 0x00, 0x00, 0x01, 0x00,  // "QV", version 1, control, type 1
        0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // length 16
        'Q',  'V',  'E',  'L',  'N',  'O',  'R',  0x00,  // tag
        0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // protocol version 1, 0
    };
    EXPECT_EQ(got, expected);
}

TEST_F(TransportTest, ConnectByNameResolves) {
    Peer peer;
    const auto info = Info("localhost", peer.port());
    ASSERT_EQ(NSMGAPI_Connect(session, &info), 1);
    ASSERT_TRUE(PumpUntil([&] { return window->Count(UM_NET_CONNECTED) == 1; }));
    // "localhost" may name ::1 first; the peer listens on IPv4 only, so the
    // transport must have tried the next address.
    EXPECT_EQ(window->Last(UM_NET_CONNECTED)->w, 1u);
}

TEST_F(TransportTest, ClosedPortFailsAndTheSessionCanTryAgain) {
    const int closed = testing_support::FreeLoopbackPort();
    const auto info = Info("127.0.0.1", closed);
    ASSERT_EQ(NSMGAPI_Connect(session, &info), 1);
    ASSERT_TRUE(PumpUntil([&] { return window->Count(UM_NET_CONNECTED) == 1; }));
    EXPECT_EQ(window->Last(UM_NET_CONNECTED)->w, 0u);
    EXPECT_EQ(NSMGAPI_SendPacketData(session, 85, nullptr, 0), 0);

    // A failed attempt leaves nothing open: no Disconnect is needed before the next.
    Peer peer;
    ConnectTo(peer);
    EXPECT_EQ(window->Count(UM_NET_CLOSED), 0);
}

TEST_F(TransportTest, ConnectRefusesBadRecordsAndASecondAttempt) {
    struct Case {
        const char* what;
        std::function<void(_tagConnectSocketInfo&)> spoil;
    } cases[] = {
        {"empty host", [](auto& i) { i.host[0] = '\0'; }},
        {"host without NUL", [](auto& i) { std::memset(i.host, 'a', sizeof i.host); }},
        {"port 0", [](auto& i) { i.port = 0; }},
        {"port -1", [](auto& i) { i.port = -1; }},
        {"port 65536", [](auto& i) { i.port = 65536; }},
        {"buffer size 0", [](auto& i) { i.bufferSize = 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto info = Info("127.0.0.1", 5000);
        c.spoil(info);
        EXPECT_EQ(NSMGAPI_Connect(session, &info), 0);
    }
    EXPECT_EQ(NSMGAPI_Connect(session, nullptr), 0);
    const auto good = Info("127.0.0.1", 5000);
    EXPECT_EQ(NSMGAPI_Connect(nullptr, &good), 0);
    PumpFor(50);
    EXPECT_TRUE(window->seen.empty());  // nothing was started, nothing is reported

    // While an attempt is open, nothing else starts.
    Peer peer;
    const auto first = Info("127.0.0.1", peer.port());
    EXPECT_EQ(NSMGAPI_Connect(session, &first), 1);
    const auto second = Info("127.0.0.1", peer.port());
    EXPECT_EQ(NSMGAPI_Connect(session, &second), 0);
    NSMGAPI_Disconnect(session);
    ConnectTo(peer);
    EXPECT_EQ(NSMGAPI_Connect(session, &second), 0);  // connected: still refused
}

TEST_F(TransportTest, AttemptThatNeverCompletesTimesOutOrIsCancelled) {
    // A listener with a full accept queue lets new handshakes hang.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(f);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int port = ntohs(a.sin_port);

    // A cancelled attempt reports nothing, and the session is free at once.
    auto info = Info("127.0.0.1", port, 1u << 20, 30);
    ASSERT_EQ(NSMGAPI_Connect(session, &info), 1);
    PumpFor(100);
    const bool hanging = window->Count(UM_NET_CONNECTED) == 0;
    NSMGAPI_Disconnect(session);
    Peer peer;
    ConnectTo(peer);
    EXPECT_EQ(window->Count(UM_NET_CONNECTED), 1);
    NSMGAPI_Disconnect(session);

    // With one second allowed, the attempt fails by itself.
    if (hanging) {
        info.waitLimit = 1;
        ASSERT_EQ(NSMGAPI_Connect(session, &info), 1);
        ASSERT_TRUE(PumpUntil([&] { return window->Count(UM_NET_CONNECTED) == 2; }, 10000));
        EXPECT_EQ(window->Last(UM_NET_CONNECTED)->w, 0u);
    } else {
        ADD_FAILURE() << "this system completed the handshake; the time-out was not exercised";
    }
    for (int f : fillers) {
        ::close(f);
    }
    ::close(listener);
}

// --- receiving ---------------------------------------------------------------------

TEST_F(TransportTest, EveryRouteArrivesWithItsHeaderAndData) {
    Peer peer;
    ConnectTo(peer);
    Bytes withReserved = FrameBytes(wire::kRouteCommand, 8, Pattern(32, 1));
    withReserved[4] = 0x5A;  // reserved bytes travel to the window as received
    withReserved[15] = 0xA5;
    const Bytes big = Pattern(300 * 1024, 2);
    ASSERT_TRUE(peer.Send(Join({
        FrameBytes(wire::kRouteCommand, 85, {0x01, 0x00, 0x01, 0x00}),
        FrameBytes(wire::kRouteCommand, 87, {}),
        withReserved,
        FrameBytes(wire::kRouteStream, 83, Pattern(5000, 3)),
        FrameBytes(wire::kRouteControl, wire::kControlTalkOpen, {}),
        FrameBytes(wire::kRouteControl, 9, {1, 2, 3}),  // unknown control code: ignored
        FrameBytes(wire::kRouteControl, wire::kControlInit, Pattern(16, 0)),  // not for the client
        FrameBytes(wire::kRouteStream, 134, big),
        FrameBytes(wire::kRouteStream, 99, {}),
        FrameBytes(wire::kRouteControl, wire::kControlTalkClose, {}),
    })));
    ASSERT_TRUE(PumpUntil([&] { return window->Count(UM_NET_TALK_CLOSE) == 1; }));

    std::vector<UINT> order;
    for (const Seen& s : window->seen) {
        order.push_back(s.msg);
    }
    EXPECT_EQ(order, (std::vector<UINT>{UM_NET_CONNECTED, UM_NET_PACKET, UM_NET_PACKET,
                                        UM_NET_PACKET, UM_NET_STREAM, UM_NET_TALK_OPEN,
                                        UM_NET_STREAM, UM_NET_STREAM, UM_NET_TALK_CLOSE}));
    const auto packets = window->Packets();
    ASSERT_EQ(packets.size(), 6u);
    struct Expect {
        std::uint16_t type;
        Bytes data;
    } expected[] = {
        {85, {0x01, 0x00, 0x01, 0x00}}, {87, {}},   {8, Pattern(32, 1)},
        {83, Pattern(5000, 3)},         {134, big}, {99, {}},
    };
    for (std::size_t i = 0; i < packets.size(); ++i) {
        SCOPED_TRACE("packet " + std::to_string(i));
        EXPECT_EQ(wire::ReadU16(packets[i].header.data() + kNetHeaderTypeOffset), expected[i].type);
        EXPECT_EQ(wire::ReadU32(packets[i].header.data() + kNetHeaderLengthOffset),
                  expected[i].data.size());
        EXPECT_FALSE(packets[i].nullPayload);  // also for an empty payload
        EXPECT_EQ(packets[i].data, expected[i].data);
    }
    EXPECT_EQ(packets[2].header, Bytes(withReserved.begin(), withReserved.begin() + 16));
    const Seen* open = window->Last(UM_NET_TALK_OPEN);
    EXPECT_EQ(open->w, 0u);
    EXPECT_EQ(open->l, 0);
    EXPECT_EQ(window->Count(UM_NET_CLOSED), 0);
}

TEST_F(TransportTest, FramesTrickledInOddPiecesArriveWhole) {
    Peer peer;
    ConnectTo(peer);
    std::vector<Bytes> frames;
    for (int i = 0; i < 20; ++i) {
        frames.push_back(FrameBytes(i % 3 == 0 ? wire::kRouteStream : wire::kRouteCommand,
                                    static_cast<std::uint16_t>(100 + i), Pattern(i * 5, i)));
    }
    const Bytes all = Join(frames);
    std::thread sender([&] {
        std::size_t pos = 0;
        std::size_t piece = 1;
        while (pos < all.size()) {
            const std::size_t n = std::min(piece, all.size() - pos);
            peer.Send(Bytes(all.begin() + pos, all.begin() + pos + n));
            pos += n;
            piece = piece % 7 + 1;
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    const bool done = PumpUntil([&] { return window->Packets().size() == frames.size(); });
    sender.join();
    ASSERT_TRUE(done);
    const auto packets = window->Packets();
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(wire::ReadU16(packets[i].header.data() + kNetHeaderTypeOffset), 100 + i);
        EXPECT_EQ(packets[i].data, Pattern(i * 5, i));
    }
}

TEST_F(TransportTest, SlowWindowHoldsTheReaderBackButLosesNothing) {
    Peer peer;
    ConnectTo(peer);
    constexpr int kFrames = 300;
    std::thread sender([&] {
        for (int i = 0; i < kFrames; ++i) {
            peer.Send(FrameBytes(wire::kRouteStream, 83, Pattern(2000 + i, i)));
        }
    });
    // Nobody handles messages: the pool runs dry and the reader stops there.
    ASSERT_TRUE(WaitQuietly([&] { return InFlight(session) == 64; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QRS_PoolStats st{};
    QRS_GetPoolStats(session, &st);
    EXPECT_EQ(st.buffersInFlight, 64u);
    EXPECT_EQ(st.buffers, 64u);

    ASSERT_TRUE(PumpUntil([&] { return window->Packets().size() == kFrames; }));
    sender.join();
    const auto packets = window->Packets();
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_EQ(packets[i].data, Pattern(2000 + i, i)) << "frame " << i;
    }
    // Buffers grew to the largest frame, never past the cap.
    QRS_GetPoolStats(session, &st);
    EXPECT_LE(st.largestBuffer, 1u << 20);
    EXPECT_GE(st.largestBuffer, 2000u + kFrames - 1);
    EXPECT_TRUE(PumpUntil([&] { return InFlight(session) == 0; }));
}

// --- the end of a connection ---------------------------------------------------------------

TEST_F(TransportTest, PeerClosingGivesExactlyOneClosed) {
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "orderly close");
        Peer peer;
        ConnectTo(peer);
        ASSERT_TRUE(peer.Send(FrameBytes(wire::kRouteCommand, 85, {1, 0, 0, 0})));
        ASSERT_TRUE(PumpUntil([&] { return window->Last(UM_NET_PACKET) != nullptr; }));
        reset ? peer.ResetConnection() : peer.CloseConnection();
        ASSERT_TRUE(PumpUntil([&] { return window->Count(UM_NET_CLOSED) == 1; }));
        PumpFor(100);
        EXPECT_EQ(window->Count(UM_NET_CLOSED), 1);
        EXPECT_EQ(NSMGAPI_SendPacketData(session, 84, nullptr, 0), 0);
        // What the client does on 1446; then the next round.
        NSMGAPI_Disconnect(session);
        window->seen.clear();
    }
}

TEST_F(TransportTest, FramesThatBreakTheRulesEndTheConnection) {
    constexpr std::uint32_t kCap = 4096;
    Bytes badMagic = FrameBytes(wire::kRouteCommand, 85, {});
    badMagic[0] = 'G';
    Bytes badRoute = FrameBytes(wire::kRouteCommand, 85, {});
    badRoute[3] = 7;
    Bytes oversized(wire::kHeaderSize);
    wire::EncodeHeader(oversized.data(), wire::Header{wire::kRouteStream, 83, kCap + 1});
    Bytes huge(wire::kHeaderSize);
    wire::EncodeHeader(huge.data(), wire::Header{wire::kRouteStream, 83, 0x7FFFFFFF});
    struct Case {
        const char* what;
        Bytes bad;
    } cases[] = {{"bad magic", badMagic},
                 {"bad route", badRoute},
                 {"one byte over the cap", oversized},
                 {"2 GiB announced", huge}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Peer peer;
        ConnectTo(peer, kCap);
        // A good frame first: it is still delivered, before the end.
        ASSERT_TRUE(peer.Send(Join({FrameBytes(wire::kRouteCommand, 85, {7, 0, 0, 0}), c.bad})));
        ASSERT_TRUE(PumpUntil([&] { return window->Count(UM_NET_CLOSED) == 1; }));
        ASSERT_EQ(window->seen.size(), 3u);
        EXPECT_EQ(window->seen[1].msg, UM_NET_PACKET);
        EXPECT_EQ(window->seen[1].data, (Bytes{7, 0, 0, 0}));
        EXPECT_EQ(window->seen[2].msg, UM_NET_CLOSED);
        EXPECT_TRUE(peer.SeesClose());
        QRS_PoolStats st{};
        QRS_GetPoolStats(session, &st);
        EXPECT_LE(st.largestBuffer, kCap);  // nothing of the announced size was allocated
        EXPECT_LE(st.bytesHeld, 64u * kCap);
        PumpFor(50);
        EXPECT_EQ(window->Count(UM_NET_CLOSED), 1);
        NSMGAPI_Disconnect(session);
        window->seen.clear();
    }
}

TEST_F(TransportTest, DisconnectDropsWhatIsQueuedAndPostsNothing) {
    Peer peer;
    ConnectTo(peer);
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(peer.Send(FrameBytes(wire::kRouteCommand, 85, Pattern(4, i))));
    }
    ASSERT_TRUE(peer.Send(FrameBytes(wire::kRouteControl, wire::kControlTalkOpen, {})));
    ASSERT_TRUE(WaitQuietly([&] { return InFlight(session) == 11; }));
    NSMGAPI_Disconnect(session);
    EXPECT_TRUE(peer.SeesClose(2000));  // the socket ends promptly
    PumpFor(100);
    ASSERT_EQ(window->seen.size(), 1u);  // only the 1445 handled before
    EXPECT_EQ(InFlight(session), 0u);    // dropped messages gave their buffers back
    EXPECT_EQ(NSMGAPI_SendPacketData(session, 85, nullptr, 0), 0);
}

TEST_F(TransportTest, ReconnectOnTheSameSession) {
    Peer peer;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        window->seen.clear();
        ConnectTo(peer);
        ASSERT_EQ(NSMGAPI_SendInitPacketData(session), 1);
        Peer::Received f;
        ASSERT_TRUE(peer.ReadFrame(&f));
        EXPECT_EQ(f.header.route, wire::kRouteControl);
        EXPECT_EQ(f.header.type, wire::kControlInit);
        ASSERT_TRUE(peer.Send(FrameBytes(wire::kRouteCommand, 85, Pattern(4, round))));
        ASSERT_TRUE(PumpUntil([&] { return window->Count(UM_NET_PACKET) == 1; }));
        EXPECT_EQ(window->Last(UM_NET_PACKET)->data, Pattern(4, round));
        // Something is still on its way when the client disconnects.
        ASSERT_TRUE(peer.Send(FrameBytes(wire::kRouteCommand, 1, Pattern(32, round))));
        ASSERT_TRUE(WaitQuietly([&] { return InFlight(session) == 1; }));
        NSMGAPI_Disconnect(session);
        EXPECT_TRUE(peer.SeesClose());
    }
    PumpFor(50);
    EXPECT_EQ(window->Count(UM_NET_PACKET), 1);  // the stale packet never arrived
    EXPECT_EQ(window->Count(UM_NET_CLOSED), 0);
}

// --- sending ---------------------------------------------------------------------

TEST_F(TransportTest, SendRules) {
    EXPECT_EQ(NSMGAPI_SendPacketData(session, 85, nullptr, 0), 0);  // not connected
    EXPECT_EQ(NSMGAPI_SendInitPacketData(session), 0);
    Peer peer;
    ConnectTo(peer, 1000);
    const Bytes payload = Pattern(1000, 4);
    struct Case {
        const char* what;
        std::function<int()> send;
        int result;
        std::uint8_t route;
        std::uint16_t type;
        Bytes sent;
    } cases[] = {
        {"command", [&] { return NSMGAPI_SendPacketData(session, 80, payload.data(), 84); }, 1,
         wire::kRouteCommand, 80, Bytes(payload.begin(), payload.begin() + 84)},
        {"command without payload",
         [&] { return NSMGAPI_SendPacketData(session, 8, nullptr, 0); },
         1,
         wire::kRouteCommand,
         8,
         {}},
        {"stream at the cap",
         [&] { return NSMGAPI_SendTypeStreamData(session, 99, payload.data(), 1000); }, 1,
         wire::kRouteStream, 99, payload},
        {"null payload with a length",
         [&] { return NSMGAPI_SendPacketData(session, 80, nullptr, 84); },
         0,
         0,
         0,
         {}},
        {"stream over the cap",
         [&] { return NSMGAPI_SendTypeStreamData(session, 99, payload.data(), 1001); },
         0,
         0,
         0,
         {}},
        {"null session",
         [&] { return NSMGAPI_SendPacketData(nullptr, 8, nullptr, 0); },
         0,
         0,
         0,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.send(), c.result);
        if (c.result == 1) {
            Peer::Received f;
            ASSERT_TRUE(peer.ReadFrame(&f));
            EXPECT_EQ(f.header.route, c.route);
            EXPECT_EQ(f.header.type, c.type);
            EXPECT_EQ(f.payload, c.sent);
        }
    }
    // Refused sends put nothing on the wire: the next frame follows directly.
    ASSERT_EQ(NSMGAPI_SendPacketData(session, 84, nullptr, 0), 1);
    Peer::Received f;
    ASSERT_TRUE(peer.ReadFrame(&f));
    EXPECT_EQ(f.header.type, 84);
}

TEST_F(TransportTest, TwoThreadsSendingAtOnceNeverInterleave) {
    Peer peer;
    peer.ShrinkReceiveWindow(8 * 1024);
    ConnectTo(peer);
    constexpr int kPerThread = 1000;
    std::atomic<int> failures{0};
    std::vector<Peer::Received> got;
    std::thread reader([&] {
        for (int i = 0; i < 2 * kPerThread; ++i) {
            Peer::Received f;
            if (!peer.ReadFrame(&f, 10000)) {
                return;
            }
            got.push_back(std::move(f));
            if (i % 100 == 0) {
                // Let the socket fill up now and then, so that writes are cut short.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
    });
    // Frames large enough that the socket takes them in pieces: then only the
    // transport's own locking keeps each frame together.
    auto CommandSize = [](int i) {
        return std::size_t{84} + static_cast<std::size_t>(i % 5) * 30000;
    };
    auto StreamSize = [](int i) {
        return std::size_t{800} + static_cast<std::size_t>(i % 4) * 50000;
    };
    std::thread commands([&] {
        for (int i = 0; i < kPerThread; ++i) {
            Bytes p = Pattern(CommandSize(i), i);
            wire::WriteU32(p.data(), static_cast<std::uint32_t>(i));
            failures += NSMGAPI_SendPacketData(session, 80, p.data(),
                                               static_cast<std::uint32_t>(p.size())) == 1
                            ? 0
                            : 1;
        }
    });
    std::thread microphone([&] {
        for (int i = 0; i < kPerThread; ++i) {
            Bytes p = Pattern(StreamSize(i), 5000 + i);
            wire::WriteU32(p.data(), static_cast<std::uint32_t>(i));
            failures += NSMGAPI_SendTypeStreamData(session, 99, p.data(),
                                                   static_cast<std::uint32_t>(p.size())) == 1
                            ? 0
                            : 1;
        }
    });
    commands.join();
    microphone.join();
    reader.join();
    EXPECT_EQ(failures, 0);
    ASSERT_EQ(got.size(), 2u * kPerThread);
    int nextCommand = 0;
    int nextStream = 0;
    for (const auto& f : got) {
        if (f.header.route == wire::kRouteCommand) {
            ASSERT_EQ(f.header.type, 80);
            Bytes want = Pattern(CommandSize(nextCommand), nextCommand);
            wire::WriteU32(want.data(), static_cast<std::uint32_t>(nextCommand));
            ASSERT_EQ(f.payload, want) << "command " << nextCommand;
            ++nextCommand;
        } else {
            ASSERT_EQ(f.header.route, wire::kRouteStream);
            ASSERT_EQ(f.header.type, 99);
            Bytes want = Pattern(StreamSize(nextStream), 5000 + nextStream);
            wire::WriteU32(want.data(), static_cast<std::uint32_t>(nextStream));
            ASSERT_EQ(f.payload, want) << "stream " << nextStream;
            ++nextStream;
        }
    }
    EXPECT_EQ(nextCommand, kPerThread);
    EXPECT_EQ(nextStream, kPerThread);
}

TEST_F(TransportTest, StuckPeerCannotHangTheSender) {
    Peer peer;  // accepts, then never reads
    ConnectTo(peer);
    const Bytes big = Pattern(1u << 20, 6);
    int sent = 0;
    // Loopback buffers take a few MiB; after that every send has to give up.
    while (NSMGAPI_SendTypeStreamData(session, 83, big.data(), 1u << 20) == 1) {
        ASSERT_LT(++sent, 200) << "the peer's buffers never filled";
    }
    // Usually the send that gave up left half a frame behind and cut the
    // connection itself; if not, the peer's going ends it. Either way the end
    // is reported once.
    peer.CloseConnection();
    ASSERT_TRUE(PumpUntil([&] { return window->Count(UM_NET_CLOSED) == 1; }, 10000));
    PumpFor(50);
    EXPECT_EQ(window->Count(UM_NET_CLOSED), 1);
    EXPECT_EQ(NSMGAPI_SendPacketData(session, 8, nullptr, 0), 0);
}

// --- buffer lifetimes ----------------------------------------------------------------

TEST_F(TransportTest, WindowDestroyedWithMessagesQueuedGivesEveryBufferBack) {
    const std::uint32_t lentBefore = QRS_BuffersInFlightAll();
    Peer peer;
    ConnectTo(peer);
    std::thread sender([&] {
        for (int i = 0; i < 200; ++i) {
            peer.Send(FrameBytes(wire::kRouteStream, 83, Pattern(10000, i)));
        }
    });
    ASSERT_TRUE(WaitQuietly([&] { return InFlight(session) == 64; }));
    window.reset();  // drops the 64 queued messages
    // The reader goes on: with no window, each message is dropped as it is posted.
    sender.join();
    EXPECT_TRUE(WaitQuietly([&] { return QRS_BuffersInFlightAll() == lentBefore; }));
    EXPECT_EQ(InFlight(session), 0u);
    // The connection itself carries on.
    EXPECT_EQ(NSMGAPI_SendPacketData(session, 8, nullptr, 0), 1);
    window = std::make_unique<RecordingWindow>();  // for TearDown
}

TEST_F(TransportTest, PoolOutlivesADestroyedSessionUntilItsMessagesAreGone) {
    const std::uint32_t poolsBefore = QRS_PoolsAlive();
    const std::uint32_t lentBefore = QRS_BuffersInFlightAll();
    Peer peer;
    ConnectTo(peer);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(peer.Send(FrameBytes(wire::kRouteStream, 83, Pattern(3000, i))));
    }
    ASSERT_TRUE(WaitQuietly([&] { return InFlight(session) == 5; }));
    NSMGAPI_Destroy(session);
    session = nullptr;
    EXPECT_TRUE(peer.SeesClose());
    EXPECT_EQ(QRS_PoolsAlive(), poolsBefore);  // still held by the queued messages
    EXPECT_EQ(QRS_BuffersInFlightAll(), lentBefore + 5);
    PumpFor(50);
    // They belonged to a connection that ended: dropped, and the pool is freed.
    EXPECT_EQ(window->Packets().size(), 0u);
    EXPECT_EQ(QRS_BuffersInFlightAll(), lentBefore);
    EXPECT_EQ(QRS_PoolsAlive(), poolsBefore - 1);
}

TEST(TransportCalls, NullSessionAndLibraryCalls) {
    EXPECT_EQ(NSMGAPI_Initialize(), 1);
    EXPECT_EQ(NSMGAPI_SendInitPacketData(nullptr), 0);
    EXPECT_EQ(NSMGAPI_SendTypeStreamData(nullptr, 99, nullptr, 0), 0);
    NSMGAPI_Disconnect(nullptr);
    NSMGAPI_Destroy(nullptr);
    QRS_PoolStats st{};
    EXPECT_EQ(QRS_GetPoolStats(nullptr, &st), 0);
    NSMGAPI_Uninitialize();
    // A session for a window that does not exist posts into the void, harmlessly.
    const std::uint32_t lentBefore = QRS_BuffersInFlightAll();
    NSMG_SESSION s = NSMGAPI_Create(kNoWindow);
    ASSERT_NE(s, nullptr);
    const auto info = Info("127.0.0.1", testing_support::FreeLoopbackPort());
    EXPECT_EQ(NSMGAPI_Connect(s, &info), 1);
    EXPECT_TRUE(WaitQuietly([&] { return NSMGAPI_Connect(s, &info) == 1; }));
    NSMGAPI_Destroy(s);
    EXPECT_EQ(QRS_BuffersInFlightAll(), lentBefore);
}
