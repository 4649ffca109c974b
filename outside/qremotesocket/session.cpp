#include "outside/qremotesocket/session.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "outside/qremotesocket/wire_format.h"
#include "protocol/client_messages.h"

namespace qrs {

namespace {

using Clock = std::chrono::steady_clock;

// Socket reads land in this staging area; a payload still missing at least
// kDirectReadMin bytes is read straight into its receive buffer instead.
constexpr std::size_t kStagingSize = 64 * 1024;
constexpr std::size_t kDirectReadMin = 8 * 1024;
// A connect time-out beyond a day is a mistake in the record, not a wish.
constexpr int kMaxWaitSeconds = 24 * 60 * 60;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
        return 0;
    }
    return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

}  // namespace

// --- Connection ----------------------------------------------------------------

Connection::~Connection() {
    ::close(fd);
}

void Connection::Shutdown() {
    ::shutdown(fd, SHUT_RDWR);
}

// --- Session: window-thread side --------------------------------------------------

Session* Session::Create(HWND window) {
    std::shared_ptr<ReceivePool> pool = ReceivePool::Create();
    if (!pool) {
        return nullptr;
    }
    try {
        std::unique_ptr<Session> s(new Session(window, std::move(pool)));
        s->m_thread = std::thread(&Session::Run, s.get());
        return s.release();
    } catch (...) {  // no memory or no thread: no session
        return nullptr;
    }
}

Session::Session(HWND window, std::shared_ptr<ReceivePool> pool)
    : m_window(window), m_pool(std::move(pool)), m_staging(kStagingSize) {}

Session::~Session() {
    Disconnect();
    m_stop.store(true);
    m_pool->Wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

int Session::Connect(const _tagConnectSocketInfo& info) {
    if (std::memchr(info.host, '\0', sizeof info.host) == nullptr || info.host[0] == '\0') {
        return 0;
    }
    if (info.port < 1 || info.port > 65535 || info.bufferSize == 0) {
        return 0;
    }
    ConnectRequest req;
    req.host = info.host;
    req.port = std::to_string(info.port);
    const int seconds =
        info.waitLimit > 0 ? std::min(info.waitLimit, kMaxWaitSeconds) : kDefaultWaitSeconds;
    req.waitMs = seconds * 1000;
    req.bufferSize = info.bufferSize;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (m_open) {
            return 0;
        }
        // Whatever is still queued from an earlier connection is stale now.
        req.generation = m_pool->Advance();
        m_open = true;
        m_pending = std::move(req);
    }
    m_pool->Wake();
    return 1;
}

void Session::Disconnect() {
    std::shared_ptr<Connection> conn;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_pool->Advance();
        m_open = false;
        m_pending.reset();
        conn = std::move(m_conn);
        m_sendCap = 0;
    }
    if (conn) {
        // Ends the traffic now; the I/O thread closes the socket when it wakes.
        conn->Shutdown();
    }
    m_pool->Wake();
}

int Session::SendFrame(std::uint8_t route, std::uint16_t type, const std::uint8_t* payload,
                       std::uint32_t length) {
    if (payload == nullptr && length > 0) {
        return 0;
    }
    std::shared_ptr<Connection> conn;
    std::uint32_t cap = 0;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        conn = m_conn;
        cap = m_sendCap;
    }
    if (!conn || length > cap) {
        return 0;
    }

    std::uint8_t header[wire::kHeaderSize];
    wire::EncodeHeader(header, wire::Header{route, type, length});
    const std::size_t total = wire::kHeaderSize + length;

    std::lock_guard<std::mutex> lock(conn->sendLock);
    if (conn->broken) {
        return 0;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kSendWaitMs);
    std::size_t sent = 0;
    bool timedOut = false;
    while (sent < total) {
        iovec iov[2];
        int count = 0;
        if (sent < wire::kHeaderSize) {
            iov[count++] = {header + sent, wire::kHeaderSize - sent};
            if (length > 0) {
                iov[count++] = {const_cast<std::uint8_t*>(payload), length};
            }
        } else {
            iov[count++] = {const_cast<std::uint8_t*>(payload) + (sent - wire::kHeaderSize),
                            total - sent};
        }
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = static_cast<decltype(msg.msg_iovlen)>(count);
        const ssize_t n = ::sendmsg(conn->fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int waitMs = MillisecondsLeft(deadline);
            if (waitMs == 0) {
                timedOut = true;
                break;
            }
            pollfd p{conn->fd, POLLOUT, 0};
            ::poll(&p, 1, waitMs);  // an error or hang-up shows in the next sendmsg
            continue;
        }
        break;  // the connection is gone
    }
    if (sent == total) {
        return 1;
    }
    if (sent > 0 || !timedOut) {
        // Half a frame on the wire, or a dead socket: nothing sensible can
        // follow. Cutting the connection lets the reader report it (1446).
        conn->broken = true;
        conn->Shutdown();
    }
    return 0;
}

// --- Session: I/O thread ---------------------------------------------------------

bool Session::Current(std::uint64_t generation) const {
    return m_pool->Generation() == generation && !m_stop.load();
}

void Session::Run() {
    for (;;) {
        std::optional<ConnectRequest> req;
        {
            std::lock_guard<std::mutex> lock(m_stateLock);
            if (m_stop.load()) {
                return;
            }
            req.swap(m_pending);
        }
        if (req) {
            RunConnection(*req);
            continue;
        }
        pollfd p{m_pool->WakeFd(), POLLIN, 0};
        ::poll(&p, 1, -1);
        m_pool->DrainWake();
    }
}

void Session::RunConnection(const ConnectRequest& req) {
    const std::uint64_t gen = req.generation;
    const int fd = OpenSocket(req);
    std::shared_ptr<Connection> conn;
    if (fd >= 0) {
        try {
            conn = std::make_shared<Connection>(fd);
        } catch (const std::bad_alloc&) {
            ::close(fd);
        }
    }
    if (!conn) {
        if (EndConnection(gen)) {
            PostEvent(gen, UM_NET_CONNECTED, 0);
        }
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (!Current(gen)) {
            return;  // the client gave up meanwhile; the socket closes here
        }
        m_conn = conn;
        m_sendCap = req.bufferSize;
    }
    // The connection is published before 1445 goes out, so the client can send
    // its init frame as soon as it hears of it.
    if (!PostEvent(gen, UM_NET_CONNECTED, 1)) {
        return;
    }
    if (ReadLoop(*conn, gen, req.bufferSize) == ReadEnd::kLost) {
        conn->Shutdown();
        const bool current = EndConnection(gen);
        conn.reset();
        if (current) {
            PostEvent(gen, UM_NET_CLOSED, 0);
        }
    }
}

int Session::OpenSocket(const ConnectRequest& req) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    if (::getaddrinfo(req.host.c_str(), req.port.c_str(), &hints, &list) != 0) {
        return -1;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(req.waitMs);
    int result = -1;
    bool giveUp = false;
    for (addrinfo* ai = list; ai != nullptr && result < 0 && !giveUp; ai = ai->ai_next) {
        if (!Current(req.generation)) {
            break;
        }
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                ai->ai_protocol);
        if (fd < 0) {
            continue;
        }
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) {
            result = fd;
            break;
        }
        if (errno != EINPROGRESS) {
            ::close(fd);
            continue;
        }
        // Wait for the handshake, the deadline, or the client's change of mind.
        for (;;) {
            const int waitMs = MillisecondsLeft(deadline);
            if (waitMs == 0) {
                giveUp = true;
                break;
            }
            pollfd fds[2] = {{fd, POLLOUT, 0}, {m_pool->WakeFd(), POLLIN, 0}};
            if (::poll(fds, 2, waitMs) < 0 && errno != EINTR) {
                giveUp = true;
                break;
            }
            if (fds[1].revents != 0) {
                m_pool->DrainWake();
                if (!Current(req.generation)) {
                    giveUp = true;
                    break;
                }
            }
            if (fds[0].revents != 0) {
                int error = 0;
                socklen_t len = sizeof error;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) {
                    result = fd;
                }
                break;
            }
        }
        if (result != fd) {
            ::close(fd);
        }
    }
    ::freeaddrinfo(list);
    if (result >= 0) {
        // Command packets are small and answered one by one; do not hold them back.
        const int one = 1;
        ::setsockopt(result, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return result;
}

Session::ReadEnd Session::ReadLoop(Connection& conn, std::uint64_t gen, std::uint32_t cap) {
    FrameReader reader(cap);
    ReceiveBuffer* filling = nullptr;  // lent to the frame being read
    std::size_t pos = 0;               // m_staging[pos, len) is not parsed yet
    std::size_t len = 0;
    ReadEnd end = ReadEnd::kLost;

    for (;;) {
        if (!Current(gen)) {
            end = ReadEnd::kEndedByClient;
            break;
        }
        // Parse what has arrived, as far as free buffers allow.
        bool starved = false;
        bool failed = false;
        for (;;) {
            if (reader.NeedsBuffer()) {
                filling = m_pool->Take(gen);
                if (filling == nullptr) {
                    starved = true;
                    break;
                }
                if (!m_pool->Reserve(filling, reader.payloadLength(), cap)) {
                    failed = true;
                    break;
                }
                if (reader.SetPayloadBuffer(filling->data()) == FrameReader::Result::kFrame) {
                    Deliver(filling, reader);
                    filling = nullptr;
                }
                continue;
            }
            if (pos == len) {
                break;
            }
            std::size_t used = 0;
            const FrameReader::Result r = reader.Feed(m_staging.data() + pos, len - pos, &used);
            pos += used;
            if (r == FrameReader::Result::kError) {
                failed = true;
                break;
            }
            if (r == FrameReader::Result::kFrame) {
                Deliver(filling, reader);
                filling = nullptr;
            }
        }
        if (failed) {
            break;
        }

        // Sleep until there is something to read, or a buffer came back, or
        // the client changed its mind. While starved the socket is left alone:
        // its receive window fills up and TCP holds the recorder back.
        pollfd fds[2] = {{m_pool->WakeFd(), POLLIN, 0}, {starved ? -1 : conn.fd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents != 0) {
            m_pool->DrainWake();
        }
        if (starved || fds[1].revents == 0) {
            continue;
        }

        ssize_t n = 0;
        if (reader.PayloadRemaining() >= kDirectReadMin) {
            n = ::recv(conn.fd, reader.PayloadCursor(), reader.PayloadRemaining(), 0);
            if (n > 0 &&
                reader.CommitPayload(static_cast<std::size_t>(n)) == FrameReader::Result::kFrame) {
                Deliver(filling, reader);
                filling = nullptr;
            }
        } else {
            n = ::recv(conn.fd, m_staging.data(), m_staging.size(), 0);
            if (n > 0) {
                pos = 0;
                len = static_cast<std::size_t>(n);
            }
        }
        if (n > 0) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            continue;
        }
        break;  // closed by the recorder, reset, or a read error
    }
    if (filling != nullptr) {
        filling->Finished();  // a frame cut short: its buffer goes back unposted
    }
    return end;
}

void Session::Deliver(ReceiveBuffer* b, const FrameReader& reader) {
    std::memcpy(b->header, reader.RawHeader(), wire::kHeaderSize);
    const wire::Header& h = reader.header();
    std::uint8_t* payload = b->data();
    switch (h.route) {
        case wire::kRouteCommand:
            PostMessage(m_window, UM_NET_PACKET, reinterpret_cast<WPARAM>(b->header),
                        reinterpret_cast<LPARAM>(payload), b);
            return;
        case wire::kRouteStream: {
            std::memset(b->descriptor, 0, sizeof b->descriptor);
            const std::uint32_t length = h.length;
            std::memcpy(b->descriptor + kStreamDescDataOffset, &payload, sizeof payload);
            std::memcpy(b->descriptor + kStreamDescLengthOffset, &length, sizeof length);
            PostMessage(m_window, UM_NET_STREAM, reinterpret_cast<WPARAM>(b->header),
                        reinterpret_cast<LPARAM>(b->descriptor), b);
            return;
        }
        case wire::kRouteControl:
            if (h.type == wire::kControlTalkOpen) {
                PostMessage(m_window, UM_NET_TALK_OPEN, 0, 0, b);
                return;
            }
            if (h.type == wire::kControlTalkClose) {
                PostMessage(m_window, UM_NET_TALK_CLOSE, 0, 0, b);
                return;
            }
            break;  // other control codes mean nothing to the client
        default:
            break;
    }
    b->Finished();
}

bool Session::PostEvent(std::uint64_t generation, UINT msg, WPARAM wParam) {
    for (;;) {
        if (!Current(generation)) {
            return false;
        }
        ReceiveBuffer* b = m_pool->Take(generation);
        if (b != nullptr) {
            PostMessage(m_window, msg, wParam, 0, b);
            return true;
        }
        pollfd p{m_pool->WakeFd(), POLLIN, 0};
        ::poll(&p, 1, -1);
        m_pool->DrainWake();
    }
}

bool Session::EndConnection(std::uint64_t generation) {
    std::shared_ptr<Connection> old;
    std::lock_guard<std::mutex> lock(m_stateLock);
    if (!Current(generation)) {
        return false;
    }
    m_open = false;
    old = std::move(m_conn);
    m_sendCap = 0;
    return true;
}

}  // namespace qrs
