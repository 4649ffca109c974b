#pragma once
// A raw socket client of the recorder simulator for the loopback tests: a
// blocking TCP connection to 127.0.0.1 that sends and reads whole frames of our
// framing itself, without the client transport, plus the byte helpers the tests
// build payloads with.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "outside/qremotesocket/wire_format.h"

namespace raw_client {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// One frame as read off the line.
struct Frame {
    std::uint8_t route = 0;
    std::uint16_t type = 0;
    Bytes payload;
};

// Header and payload of one frame, ready to send.
inline Bytes FrameBytes(std::uint8_t route, std::uint16_t type, const Bytes& payload) {
    Bytes out(wire::kHeaderSize + payload.size());
    wire::EncodeHeader(out.data(),
                       wire::Header{route, type, static_cast<std::uint32_t>(payload.size())});
    std::copy(payload.begin(), payload.end(), out.begin() + wire::kHeaderSize);
    return out;
}

// The init payload, written out byte by byte.
inline Bytes InitPayload() {
    return {'Q', 'V', 'E', 'L', 'N', 'O', 'R', 0, 1, 0, 0, 0, 0, 0, 0, 0};
}

// The login payload: user and password in their fixed fields, and the 4 at 260.
inline Bytes LoginPayload(const std::string& user, const std::string& password) {
    Bytes p(272, 0);
    std::memcpy(p.data(), user.data(), std::min<std::size_t>(user.size(), 128));
    std::memcpy(p.data() + 128, password.data(), std::min<std::size_t>(password.size(), 132));
    p[260] = 4;
    return p;
}

// v as four little-endian bytes.
inline Bytes Le32(std::uint32_t v) {
    Bytes b(4);
    wire::WriteU32(b.data(), v);
    return b;
}

// The little-endian uint32 at offset `at` of b.
inline std::uint32_t ReadLe32(const Bytes& b, std::size_t at) {
    return wire::ReadU32(b.data() + at);
}

// Milliseconds left until deadline, 0 once it has passed.
inline int RemainingMs(Clock::time_point deadline) {
    return static_cast<int>(std::max<std::int64_t>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
}

// A blocking TCP client on 127.0.0.1 that reads whole frames within a
// deadline. waitMs is the time-out of the calls that are not given one.
class Client {
public:
    // receiveBuffer > 0 shrinks the socket's receive buffer before connecting,
    // so that a client that stops reading backs up quickly.
    Client(int port, int waitMs, int receiveBuffer = 0) : m_waitMs(waitMs) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0) {
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~Client() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Connected() const { return m_fd >= 0; }

    bool SendRaw(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    bool Send(std::uint8_t route, std::uint16_t type, const Bytes& payload = {}) {
        return SendRaw(FrameBytes(route, type, payload));
    }
    bool SendCommand(std::uint16_t type, const Bytes& payload = {}) {
        return Send(wire::kRouteCommand, type, payload);
    }
    bool SendInit() { return Send(wire::kRouteControl, wire::kControlInit, InitPayload()); }

    // The next frame, or nothing on time-out, close or a header that is not ours.
    std::optional<Frame> Read() { return Read(m_waitMs); }
    std::optional<Frame> Read(int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        if (!Fill(wire::kHeaderSize, deadline)) {
            return std::nullopt;
        }
        wire::Header h;
        if (!wire::DecodeHeader(m_in.data() + m_pos, &h) ||
            !Fill(wire::kHeaderSize + h.length, deadline)) {
            return std::nullopt;
        }
        Frame f;
        f.route = h.route;
        f.type = h.type;
        const auto begin = m_in.begin() + static_cast<std::ptrdiff_t>(m_pos + wire::kHeaderSize);
        f.payload.assign(begin, begin + static_cast<std::ptrdiff_t>(h.length));
        m_pos += wire::kHeaderSize + h.length;
        return f;
    }

    // True once the recorder has closed the connection; frames before the
    // close are skipped. False if it is still open after the time-out.
    bool WaitClosed() { return WaitClosed(m_waitMs); }
    bool WaitClosed(int timeoutMs) {
        m_in.clear();
        m_pos = 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::uint8_t buf[4096];
        for (;;) {
            if (!Readable(deadline)) {
                return false;
            }
            if (::recv(m_fd, buf, sizeof buf, 0) <= 0) {
                return true;
            }
        }
    }

    // Init, hello (type 85), login (command 1): the login reply's payload, or
    // nothing with what went wrong in *failure.
    std::optional<Bytes> Login(const std::string& user, const std::string& password,
                               std::string* failure) {
        auto hello = SendInit() ? Read() : std::nullopt;
        if (!hello || hello->type != 85) {
            *failure = "no hello";
            return std::nullopt;
        }
        auto reply = SendCommand(1, LoginPayload(user, password)) ? Read() : std::nullopt;
        if (!reply || reply->type != 1) {
            *failure = "no login reply";
            return std::nullopt;
        }
        return std::move(reply->payload);
    }

private:
    // True once there is data or the close to read; false at the deadline.
    bool Readable(Clock::time_point deadline) const {
        const int left = RemainingMs(deadline);
        pollfd p{m_fd, POLLIN, 0};
        return left > 0 && ::poll(&p, 1, left) > 0;
    }

    // Until at least `size` unread bytes are buffered; false on time-out or close.
    bool Fill(std::size_t size, Clock::time_point deadline) {
        if (m_pos > 0 && m_pos == m_in.size()) {
            m_in.clear();
            m_pos = 0;
        } else if (m_pos > (1u << 20)) {
            m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(m_pos));
            m_pos = 0;
        }
        std::uint8_t buf[65536];
        while (m_in.size() - m_pos < size) {
            if (!Readable(deadline)) {
                return false;
            }
            ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0) {
                return false;
            }
            m_in.insert(m_in.end(), buf, buf + n);
        }
        return true;
    }

    int m_fd = -1;
    int m_waitMs;
    Bytes m_in;
    std::size_t m_pos = 0;
};

}  // namespace raw_client
