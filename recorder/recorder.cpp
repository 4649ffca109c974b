#include "recorder/recorder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "outside/qremotesocket/wire_format.h"
#include "recorder/h264_encoder.h"
#include "recorder/key_table.h"
#include "recorder/picture_composer.h"

namespace recorder {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = std::size_t{64} * 1024;

bool SetNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::optional<Clock::time_point> DeadlineAfter(Clock::time_point from, double seconds) {
    if (seconds <= 0) {
        return std::nullopt;
    }
    return from +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

bool IsValidInit(const std::vector<std::uint8_t>& payload) {
    return payload.size() == wire::kInitPayloadSize &&
           std::memcmp(payload.data(), wire::kInitTag, sizeof wire::kInitTag) == 0 &&
           wire::ReadU32(payload.data() + 8) == wire::kProtocolVersion;
}

// The picture of the oversized-frame fault: wider and taller than the client's
// largest (720 x 600).
constexpr int kOversizedWidth = 1280;
constexpr int kOversizedHeight = 720;
constexpr int kMaxBurst = 1000;
constexpr std::size_t kShortPayloadBytes = 60;

std::string CheckVideoConfig(const RecorderConfig& c) {
    if (c.videoWidth < 64 || c.videoWidth > 720 || c.videoWidth % 2 != 0 || c.videoHeight < 64 ||
        c.videoHeight > 600 || c.videoHeight % 2 != 0) {
        return "picture size must be even, 64 to 720 wide and 64 to 600 high: " +
               std::to_string(c.videoWidth) + "x" + std::to_string(c.videoHeight);
    }
    if (c.fps < 1 || c.fps > 60) {
        return "frame rate must be 1 to 60: " + std::to_string(c.fps);
    }
    if (c.gop < 1 || c.gop > 1000) {
        return "key frame interval must be 1 to 1000: " + std::to_string(c.gop);
    }
    return {};
}

}  // namespace

struct Recorder::Client {
    int id = 0;
    int fd = -1;
    bool closed = false;
    bool initDone = false;
    bool loggedIn = false;
    bool silent = false;
    std::optional<Clock::time_point> silentAt;
    std::optional<Clock::time_point> dropAt;
    std::vector<std::uint8_t> in;   // received bytes not yet framed
    std::vector<std::uint8_t> out;  // framed bytes not yet sent, from outPos
    std::size_t outPos = 0;
    bool needKey = true;  // video: wait for a key frame before the next frame
    std::uint64_t framesSent = 0;
};

// One video frame as every client gets it.
struct Recorder::OutFrame {
    std::vector<std::uint8_t> header;  // PT_VIDEO command payload
    std::vector<std::uint8_t> block;   // frame status header + H.264 data
    bool key = false;
    bool ignoreBacklog = false;  // burst frames: queued however far behind the client is
};

Recorder::Recorder() = default;

Recorder::~Recorder() {
    Stop();
}

bool Recorder::Start(const RecorderConfig& config, std::string* error) {
    if (config.streamVideo) {
        if (std::string why = CheckVideoConfig(config); !why.empty()) {
            if (error) {
                *error = why;
            }
            return false;
        }
    }
    if (!StartListening(config, error)) {
        return false;
    }
    if (config.streamVideo && !StartStreaming(error)) {
        Stop();
        return false;
    }
    return true;
}

bool Recorder::StartListening(const RecorderConfig& config, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) {
            *error = why;
        }
        return false;
    };
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_running) {
        return fail("the recorder is already running");
    }
    if (config.port < 0 || config.port > 65535) {
        return fail("port out of range: " + std::to_string(config.port));
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(config.port));
    if (::inet_pton(AF_INET, config.listenAddress.c_str(), &addr.sin_addr) != 1) {
        return fail("not an IPv4 address: " + config.listenAddress);
    }

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return fail(std::string("socket: ") + std::strerror(errno));
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0 ||
        !SetNonBlocking(fd)) {
        std::string why = "cannot listen on " + config.listenAddress + ":" +
                          std::to_string(config.port) + ": " + std::strerror(errno);
        ::close(fd);
        return fail(why);
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::string why = std::string("pipe: ") + std::strerror(errno);
        ::close(fd);
        return fail(why);
    }

    std::FILE* log = nullptr;
    if (!config.packetLogPath.empty()) {
        log = std::fopen(config.packetLogPath.c_str(), "we");
        if (log == nullptr) {
            std::string why =
                "cannot open packet log " + config.packetLogPath + ": " + std::strerror(errno);
            ::close(fd);
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
            return fail(why);
        }
    }

    m_config = config;
    m_listenFd = fd;
    m_wakeRead = pipeFds[0];
    m_wakeWrite = pipeFds[1];
    m_port = ntohs(addr.sin_port);
    m_log = log;
    m_nextClientId = 1;
    m_clients.clear();
    m_received.clear();
    m_receivedCounts.clear();
    m_stopping = false;
    m_screen = ScreenState{};
    m_screen.layout = config.initialLayout;
    m_playback = PlaybackClock{};
    m_overlay = {};
    m_overlayChanged = true;
    m_forceKey = false;
    m_faults = Faults{};
    m_videoFramesSent = 0;
    m_videoFramesSkipped = 0;
    m_running = true;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void Recorder::Stop() {
    StopStreaming();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_running) {
            return;
        }
        m_stopping = true;
    }
    Wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_clients) {
        CloseLocked(*entry.second);
    }
    m_clients.clear();
    ::close(m_listenFd);
    ::close(m_wakeRead);
    ::close(m_wakeWrite);
    m_listenFd = m_wakeRead = m_wakeWrite = -1;
    if (m_log != nullptr) {
        std::fclose(m_log);
        m_log = nullptr;
    }
    m_port = 0;
    m_running = false;
    m_stopping = false;
    m_changed.notify_all();
}

int Recorder::Port() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_port;
}

int Recorder::ClientCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const auto& entry : m_clients) {
        n += entry.second->closed ? 0 : 1;
    }
    return n;
}

bool Recorder::WaitForClientCount(int count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        int n = 0;
        for (const auto& entry : m_clients) {
            n += entry.second->closed ? 0 : 1;
        }
        return n == count;
    });
}

int Recorder::SendCommand(std::uint16_t type, const std::vector<std::uint8_t>& payload) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return BroadcastLocked(wire::kRouteCommand, type, payload);
}

int Recorder::SendStream(std::uint16_t type, const std::vector<std::uint8_t>& data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return BroadcastLocked(wire::kRouteStream, type, data);
}

int Recorder::SendTalkOpen() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return BroadcastLocked(wire::kRouteControl, wire::kControlTalkOpen, {});
}

int Recorder::SendTalkClose() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return BroadcastLocked(wire::kRouteControl, wire::kControlTalkClose, {});
}

void Recorder::GoSilent() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_clients) {
        entry.second->silent = true;
        entry.second->silentAt.reset();
    }
}

void Recorder::DropClients() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& entry : m_clients) {
            CloseLocked(*entry.second);
        }
    }
    // The service thread forgets the closed clients on its next round.
    Wake();
}

std::vector<ReceivedPacket> Recorder::Received() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_received.begin(), m_received.end()};
}

std::size_t Recorder::ReceivedCount(std::uint16_t type, std::uint8_t route) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_receivedCounts.find({route, type});
    return it == m_receivedCounts.end() ? 0 : it->second;
}

bool Recorder::WaitForPacket(std::uint16_t type, int timeoutMs, std::size_t count,
                             std::uint8_t route) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        auto it = m_receivedCounts.find({route, type});
        return it != m_receivedCounts.end() && it->second >= count;
    });
}

void Recorder::Wake() {
    std::uint8_t b = 1;
    // A full pipe already holds a wake-up; nothing is lost when this fails.
    [[maybe_unused]] ssize_t n = ::write(m_wakeWrite, &b, 1);
}

void Recorder::Run() {
    std::vector<pollfd> fds;
    std::vector<int> ids;  // client id of fds[i + 2]
    for (;;) {
        int timeoutMs = -1;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping) {
                return;
            }
            fds.clear();
            ids.clear();
            fds.push_back({m_wakeRead, POLLIN, 0});
            fds.push_back({m_listenFd, POLLIN, 0});
            const auto now = Clock::now();
            for (auto& [id, c] : m_clients) {
                short events = POLLIN;
                if (c->outPos < c->out.size()) {
                    events |= POLLOUT;
                }
                fds.push_back({c->fd, events, 0});
                ids.push_back(id);
                for (const auto& at : {c->silentAt, c->dropAt}) {
                    if (!at) {
                        continue;
                    }
                    auto ms = std::chrono::ceil<std::chrono::milliseconds>(*at - now).count();
                    ms = ms < 0 ? 0 : ms;
                    if (timeoutMs < 0 || ms < timeoutMs) {
                        timeoutMs = static_cast<int>(ms);
                    }
                }
            }
        }

        int ready = ::poll(fds.data(), fds.size(), timeoutMs);
        if (ready < 0 && errno != EINTR) {
            return;
        }

        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) {
            return;
        }
        if (fds[0].revents != 0) {
            std::uint8_t drain[64];
            while (::read(m_wakeRead, drain, sizeof drain) > 0) {
            }
        }
        if (fds[1].revents != 0) {
            AcceptLocked();
        }
        for (std::size_t i = 0; i < ids.size(); ++i) {
            auto it = m_clients.find(ids[i]);
            const short revents = fds[i + 2].revents;
            if (it == m_clients.end() || it->second->closed || revents == 0) {
                continue;
            }
            Client& c = *it->second;
            if (revents & (POLLIN | POLLHUP | POLLERR)) {
                ReadLocked(c);
            }
            if (!c.closed && (revents & POLLOUT)) {
                WriteLocked(c);
            }
        }
        const auto now = Clock::now();
        for (auto it = m_clients.begin(); it != m_clients.end();) {
            Client& c = *it->second;
            if (!c.closed && c.dropAt && now >= *c.dropAt) {
                CloseLocked(c);
            }
            if (!c.closed && c.silentAt && now >= *c.silentAt) {
                c.silent = true;
                c.silentAt.reset();
            }
            it = c.closed ? m_clients.erase(it) : std::next(it);
        }
    }
}

void Recorder::AcceptLocked() {
    for (;;) {
        int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;  // EAGAIN, or a connection that died before we took it
        }
        int open = 0;
        for (const auto& entry : m_clients) {
            open += entry.second->closed ? 0 : 1;
        }
        if (open >= kMaxClients) {
            ::close(fd);
            continue;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (m_config.socketSendBuffer > 0) {
            ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &m_config.socketSendBuffer,
                         sizeof m_config.socketSendBuffer);
        }
        auto c = std::make_unique<Client>();
        c->id = m_nextClientId++;
        c->fd = fd;
        m_clients.emplace(c->id, std::move(c));
        m_changed.notify_all();
    }
}

void Recorder::ReadLocked(Client& c) {
    std::uint8_t chunk[kReadChunk];
    ssize_t n = ::recv(c.fd, chunk, sizeof chunk, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        CloseLocked(c);
        return;
    }
    if (n < 0) {
        return;
    }
    c.in.insert(c.in.end(), chunk, chunk + n);

    // Every complete frame in the buffer; the header is judged as soon as its
    // 16 bytes are in, so a bad or oversized frame is refused before its
    // payload is buffered.
    std::size_t pos = 0;
    while (!c.closed && c.in.size() - pos >= wire::kHeaderSize) {
        wire::Header h;
        if (!wire::DecodeHeader(c.in.data() + pos, &h) || h.length > kMaxPayload) {
            CloseLocked(c);
            return;
        }
        if (c.in.size() - pos - wire::kHeaderSize < h.length) {
            break;
        }
        const auto* body = c.in.data() + pos + wire::kHeaderSize;
        std::vector<std::uint8_t> payload(body, body + h.length);
        pos += wire::kHeaderSize + h.length;
        HandleFrameLocked(c, h.route, h.type, std::move(payload));
    }
    if (!c.closed) {
        c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(pos));
    }
}

void Recorder::WriteLocked(Client& c) {
    while (c.outPos < c.out.size()) {
        ssize_t n = ::send(c.fd, c.out.data() + c.outPos, c.out.size() - c.outPos, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                break;
            }
            CloseLocked(c);
            return;
        }
        c.outPos += static_cast<std::size_t>(n);
    }
    if (c.outPos == c.out.size()) {
        c.out.clear();
        c.outPos = 0;
    } else if (c.outPos > c.out.size() / 2) {
        c.out.erase(c.out.begin(), c.out.begin() + static_cast<std::ptrdiff_t>(c.outPos));
        c.outPos = 0;
    }
}

void Recorder::HandleFrameLocked(Client& c, std::uint8_t route, std::uint16_t type,
                                 std::vector<std::uint8_t> payload) {
    if (m_log != nullptr) {
        std::string line = FormatPacketLogLine(c.id, route, type, payload.data(), payload.size());
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), m_log);
        std::fflush(m_log);
    }
    ++m_receivedCounts[{route, type}];
    if (m_config.keepReceived > 0) {
        if (m_received.size() >= m_config.keepReceived) {
            m_received.pop_front();
        }
        m_received.push_back(ReceivedPacket{c.id, route, type, payload});
    }
    m_changed.notify_all();

    if (!c.initDone) {
        if (route != wire::kRouteControl || type != wire::kControlInit || !IsValidInit(payload)) {
            CloseLocked(c);  // not one of our clients
            return;
        }
        c.initDone = true;
        QueueLocked(c, wire::kRouteCommand, PT_HELLO, EncodeU32(m_config.helloValue));
        return;
    }
    if (route != wire::kRouteCommand) {
        return;  // microphone audio and stray control frames: recorded only
    }

    switch (type) {
        case PT_LOGIN: {
            LoginReplyFields reply;
            if (m_config.forcedLoginResult) {
                reply.result = *m_config.forcedLoginResult;
            } else {
                const LoginCredentials cred = DecodeLoginRequest(payload.data(), payload.size());
                reply.result = kLoginBadCredentials;
                for (const auto& [user, password] : m_config.users) {
                    if (user == cred.user && password == cred.password) {
                        reply.result = kLoginOk;
                        break;
                    }
                }
            }
            reply.kind = m_config.kind;
            reply.videoSystem = m_config.videoSystem;
            reply.features = m_config.features;
            reply.channels = m_config.channels;
            reply.sessionId = m_config.sessionId;
            reply.rights = m_config.rights;
            c.loggedIn = reply.result == kLoginOk;
            if (c.loggedIn) {
                const auto now = Clock::now();
                c.silentAt = DeadlineAfter(now, m_config.silentAfterSeconds);
                c.dropAt = DeadlineAfter(now, m_config.dropAfterSeconds);
            }
            QueueLocked(c, wire::kRouteCommand, PT_LOGIN, EncodeLoginReply(reply));
            if (c.loggedIn && m_streaming) {
                BeginVideoLocked(c);
            }
            if (c.loggedIn && (c.silentAt || c.dropAt)) {
                Wake();  // the service thread takes the new deadline into its poll time-out
            }
            break;
        }
        case PT_SESSION:
            if (c.loggedIn) {
                QueueLocked(c, wire::kRouteCommand, PT_SESSION, EncodeSessionReply());
            }
            break;
        case PT_TIME_ZONE:
            if (c.loggedIn) {
                QueueLocked(c, wire::kRouteCommand, PT_TIME_ZONE,
                            EncodeTimeZone(m_config.timeZone));
            }
            break;
        case PT_LOGOUT:
            c.loggedIn = false;
            c.silentAt.reset();
            c.dropAt.reset();
            break;
        case PT_REMOTE_KEY:
            if (c.loggedIn && payload.size() >= 6) {
                HandleRemoteKeyLocked(payload[4], payload[5]);
            }
            break;
        case PT_PTZ:
            if (c.loggedIn && payload.size() >= 8) {
                ShowPtzCommandLocked(static_cast<int>(wire::ReadU32(payload.data())),
                                     static_cast<int>(wire::ReadU32(payload.data() + 4)));
            }
            break;
        default:
            break;  // PT_TIME_ZONE_ACK and the rest: recorded only
    }
}

void Recorder::QueueLocked(Client& c, std::uint8_t route, std::uint16_t type,
                           const std::vector<std::uint8_t>& payload) {
    if (c.closed || c.silent) {
        return;
    }
    std::uint8_t header[wire::kHeaderSize];
    wire::Header h;
    h.route = route;
    h.type = type;
    h.length = static_cast<std::uint32_t>(payload.size());
    wire::EncodeHeader(header, h);
    const bool wasIdle = c.outPos == c.out.size();
    c.out.insert(c.out.end(), header, header + wire::kHeaderSize);
    c.out.insert(c.out.end(), payload.begin(), payload.end());
    if (c.out.size() - c.outPos > kMaxPendingOutput) {
        CloseLocked(c);  // the client does not read; do not buffer for ever
        return;
    }
    if (wasIdle) {
        WriteLocked(c);
        if (!c.closed && c.outPos < c.out.size()) {
            Wake();  // the rest goes when the socket can take it
        }
    }
}

int Recorder::BroadcastLocked(std::uint8_t route, std::uint16_t type,
                              const std::vector<std::uint8_t>& payload) {
    int sent = 0;
    for (auto& entry : m_clients) {
        Client& c = *entry.second;
        if (c.closed || c.silent || !c.loggedIn) {
            continue;
        }
        QueueLocked(c, route, type, payload);
        sent += c.closed ? 0 : 1;
    }
    return sent;
}

void Recorder::CloseLocked(Client& c) {
    if (c.closed) {
        return;
    }
    ::close(c.fd);
    c.fd = -1;
    c.closed = true;
    c.loggedIn = false;
    c.in.clear();
    c.in.shrink_to_fit();
    c.out.clear();
    c.out.shrink_to_fit();
    c.outPos = 0;
    m_changed.notify_all();
}

// ---------------------------------------------------------------- live video

bool Recorder::StartStreaming(std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) {
            *error = why;
        }
        return false;
    };
    RecorderConfig config;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_running) {
            return fail("the recorder is not running");
        }
        if (m_streaming) {
            return true;
        }
        config = m_config;
    }
    if (std::string why = CheckVideoConfig(config); !why.empty()) {
        return fail(why);
    }
    auto encoder = std::make_unique<H264Encoder>();
    H264Encoder::Settings settings;
    settings.width = config.videoWidth;
    settings.height = config.videoHeight;
    settings.fps = config.fps;
    settings.gop = config.gop;
    std::string why;
    if (!encoder->Open(settings, &why)) {
        return fail("cannot open the video encoder: " + why);
    }
    m_encoder = std::move(encoder);
    m_composer =
        std::make_unique<PictureComposer>(config.videoWidth, config.videoHeight, config.channels);

    std::lock_guard<std::mutex> lock(m_mutex);
    m_streaming = true;
    m_streamStop = false;
    m_overlayChanged = true;
    for (auto& entry : m_clients) {
        Client& c = *entry.second;
        if (!c.closed && c.loggedIn) {
            BeginVideoLocked(c);
        }
    }
    m_streamThread = std::thread([this] { StreamLoop(); });
    return true;
}

void Recorder::StopStreaming() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_streaming) {
            return;
        }
        m_streamStop = true;
    }
    m_streamWake.notify_all();
    if (m_streamThread.joinable()) {
        m_streamThread.join();
    }
    m_encoder.reset();
    m_composer.reset();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streaming = false;
    m_streamStop = false;
}

bool Recorder::Streaming() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_streaming;
}

void Recorder::SetScreenMode(std::uint8_t mode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_screen.screenMode = mode;
}

void Recorder::SetDivision(std::uint8_t layout, std::uint8_t first) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_screen.layout = layout;
    m_screen.layoutParam = first;
    if (m_screen.screenMode == 4) {
        m_screen.screenMode = 0;
    }
}

void Recorder::SetPip(std::uint8_t mainChannel, std::uint8_t subChannel) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_screen.screenMode = 4;
    m_screen.layoutParam = mainChannel;
    m_screen.layoutExtra = subChannel;
}

void Recorder::SetPlaybackState(std::uint8_t state) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_screen.layoutExtra = state;
}

void Recorder::SetKeyLock(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_screen.keyLock = on ? 1 : 0;
}

void Recorder::SetChannelEvents(int channel, std::uint32_t bits) {
    if (channel < 0 || channel >= ScreenState::kStatusWords) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_screen.channelStatus[static_cast<std::size_t>(channel)] = bits;
}

// The camera a PTZ command moves shows it along the bottom of its picture;
// the line leaves the camera that had it before.
void Recorder::ShowPtzCommandLocked(int channel, int code) {
    static const std::map<int, const char*> kNames = {
        {0, "UP"},          {1, "UP RIGHT"},  {2, "RIGHT"},     {3, "DOWN RIGHT"},
        {4, "DOWN"},        {5, "DOWN LEFT"}, {6, "LEFT"},      {7, "UP LEFT"},
        {10, "FOCUS FAR"},  {11, "FOCUS NEAR"}, {12, "ZOOM OUT"}, {13, "ZOOM IN"},
        {22, "STOP"},
    };
    if (channel < 0 || channel >= static_cast<int>(m_overlay.size())) {
        return;
    }
    if (m_ptzOverlayChannel >= 0) {
        m_overlay[static_cast<std::size_t>(m_ptzOverlayChannel)].clear();
    }
    const auto name = kNames.find(code);
    m_overlay[static_cast<std::size_t>(channel)] =
        "PTZ CH" + std::to_string(channel + 1) + " " +
        (name != kNames.end() ? std::string(name->second) : "CODE " + std::to_string(code));
    m_ptzOverlayChannel = channel;
    m_overlayChanged = true;
}

void Recorder::SetChannelOverlay(int channel, const std::string& text) {
    if (channel < 0 || channel >= static_cast<int>(m_overlay.size())) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_overlay[static_cast<std::size_t>(channel)] = text;
    m_overlayChanged = true;
}

ScreenState Recorder::CurrentScreen() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_screen;
}

int Recorder::SendFlush() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const int sent = BroadcastLocked(wire::kRouteCommand, PT_STREAM_SETTINGS_SET, {});
    // A frame encoded before the flush must not reach a client after it.
    for (auto& entry : m_clients) {
        entry.second->needKey = true;
    }
    m_forceKey = true;
    return sent;
}

void Recorder::InjectNoStartCode() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.noStartCode = true;
}

void Recorder::InjectShortPayload() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.shortPayload = true;
}

void Recorder::InjectOversizedPicture() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.oversized = true;
}

void Recorder::InjectZeroFrameRate() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.zeroFrameRate = true;
}

void Recorder::InjectBurst(int count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.burst = std::clamp(count, 0, kMaxBurst);
}

std::uint64_t Recorder::VideoFramesSent() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_videoFramesSent;
}

std::uint64_t Recorder::VideoFramesSkipped() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_videoFramesSkipped;
}

std::uint64_t Recorder::VideoFramesSentTo(int clientId) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_clients.find(clientId);
    return it == m_clients.end() || it->second->closed ? 0 : it->second->framesSent;
}

std::int64_t Recorder::ClockSeconds() const {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::floor<std::chrono::seconds>(now).count() + m_config.clockOffsetSeconds;
}

DateTime Recorder::ClockNow() const {
    return DateTimeFromEpoch(ClockSeconds());
}

double Recorder::SteadySeconds() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// A key the table knows changes the screen from the next frame on; any other
// is recorded and logged like every packet, and does nothing.
void Recorder::HandleRemoteKeyLocked(std::uint8_t group, std::uint8_t code) {
    const KeyRow* row = FindKey(group, code);
    if (row == nullptr) {
        return;
    }
    KeyContext context;
    context.channels = m_config.channels;
    context.recorderNow = ClockSeconds();
    context.steadyNow = SteadySeconds();
    ApplyKey(*row, code, context, &m_screen, &m_playback);
}

std::optional<std::int64_t> Recorder::PlaybackSecondsLocked() {
    if (m_screen.screenMode != kModePlay) {
        return std::nullopt;
    }
    const double now = SteadySeconds();
    if (!m_playback.active) {
        StartPlayback(&m_playback, ClockSeconds(), now);  // PLAY set through SetScreenMode
    }
    return PlaybackPosition(m_playback, m_screen.layoutExtra, now);
}

void Recorder::BeginVideoLocked(Client& c) {
    if (m_config.channels > 0) {
        QueueLocked(c, wire::kRouteStream, PT_CAMERA_TITLES,
                    EncodeCameraTitles(m_config.channels, m_config.cameraTitles));
    }
    c.needKey = true;
    m_forceKey = true;  // so that it can start at once
}

// Frame n is due n / fps seconds after the start. The thread sleeps until then;
// when it wakes more than a frame late (a slow machine, a long burst) it skips
// to the latest due frame instead of sending the missed ones back to back.
void Recorder::StreamLoop() {
    const std::int64_t fps = m_config.fps;
    const auto interval = std::chrono::nanoseconds(1'000'000'000 / fps);
    const auto start = Clock::now();
    std::uint64_t tick = 0;
    for (;;) {
        const auto due =
            start + std::chrono::nanoseconds(static_cast<std::int64_t>(tick) * 1'000'000'000 / fps);
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_streamWake.wait_until(lock, due, [&] { return m_streamStop; })) {
                return;
            }
        }
        const auto now = Clock::now();
        if (now - due > interval) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::nanoseconds>(now - start).count();
            tick = static_cast<std::uint64_t>(elapsed * fps / 1'000'000'000);
        }
        StreamTick(tick);
        ++tick;
    }
}

bool Recorder::EncodeFrame(H264Encoder& encoder, const std::uint8_t* pixels,
                           const ScreenState& screen, const DateTime& clock,
                           std::uint32_t timeStampMs, OutFrame* frame) const {
    std::vector<std::uint8_t> data;
    bool key = false;
    if (!encoder.Encode(pixels, &data, &key)) {
        return false;
    }
    frame->key = key;
    frame->header = EncodeVideoHeader(key, timeStampMs, static_cast<std::uint8_t>(m_config.fps));
    frame->block.resize(kFrameStatusSize + data.size());
    WriteFrameStatus(frame->block.data(), screen, clock);
    std::memcpy(frame->block.data() + kFrameStatusSize, data.data(), data.size());
    return true;
}

void Recorder::StreamTick(std::uint64_t tick) {
    ScreenState screen;
    Faults faults;
    bool forceKey = false;
    std::optional<std::int64_t> playSeconds;  // PLAY mode: the time being played
    std::optional<std::array<std::string, 16>> overlay;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bool anyone = false;
        for (const auto& entry : m_clients) {
            const Client& c = *entry.second;
            anyone = anyone || (!c.closed && c.loggedIn && !c.silent);
        }
        if (!anyone) {
            return;  // nothing composed or encoded while nobody watches
        }
        screen = m_screen;
        playSeconds = PlaybackSecondsLocked();
        // One kind of fault a frame: an oversized picture or a burst takes the
        // frame's place; the others alter it.
        if (m_faults.oversized) {
            faults.oversized = std::exchange(m_faults.oversized, false);
        } else if (m_faults.burst > 0) {
            faults.burst = std::exchange(m_faults.burst, 0);
        } else {
            faults.noStartCode = std::exchange(m_faults.noStartCode, false);
            faults.shortPayload = std::exchange(m_faults.shortPayload, false);
            faults.zeroFrameRate = std::exchange(m_faults.zeroFrameRate, false);
        }
        if (!faults.oversized) {
            forceKey = std::exchange(m_forceKey, false);
        }
        if (m_overlayChanged) {
            overlay = m_overlay;
            m_overlayChanged = false;
        }
    }
    if (overlay) {
        for (int ch = 0; ch < PictureComposer::kOverlayChannels; ++ch) {
            m_composer->SetOverlayLine(ch, (*overlay)[static_cast<std::size_t>(ch)]);
        }
    }

    const auto timeStampMs =
        static_cast<std::uint32_t>(tick * 1000 / static_cast<std::uint64_t>(m_config.fps));
    const DateTime clock = playSeconds ? DateTimeFromEpoch(*playSeconds) : ClockNow();
    std::vector<OutFrame> frames;
    bool keyAfter = false;
    if (faults.oversized) {
        PictureComposer big(kOversizedWidth, kOversizedHeight, m_config.channels);
        big.Compose(screen, clock, tick);
        H264Encoder encoder;
        H264Encoder::Settings settings;
        settings.width = kOversizedWidth;
        settings.height = kOversizedHeight;
        settings.fps = m_config.fps;
        settings.gop = m_config.gop;
        OutFrame f;
        if (encoder.Open(settings, nullptr) &&
            EncodeFrame(encoder, big.Pixels(), screen, clock, timeStampMs, &f)) {
            frames.push_back(std::move(f));
        }
        keyAfter = true;
    } else if (faults.burst > 0) {
        if (forceKey) {
            m_encoder->ForceKeyFrame();
        }
        for (int i = 0; i < faults.burst; ++i) {
            m_composer->ComposeNoise(static_cast<std::uint32_t>(tick * kMaxBurst + i));
            OutFrame f;
            if (EncodeFrame(*m_encoder, m_composer->Pixels(), screen, clock, timeStampMs, &f)) {
                f.ignoreBacklog = true;
                frames.push_back(std::move(f));
            }
        }
        keyAfter = true;
    } else {
        m_composer->Compose(screen, clock, tick);
        if (forceKey) {
            m_encoder->ForceKeyFrame();
        }
        OutFrame f;
        if (EncodeFrame(*m_encoder, m_composer->Pixels(), screen, clock, timeStampMs, &f)) {
            if (faults.noStartCode && f.block.size() >= kFrameStatusSize + 4) {
                f.block[kFrameStatusSize + 3] = 2;
            }
            if (faults.shortPayload) {
                f.block.resize(std::min(f.block.size(), kShortPayloadBytes));
            }
            if (faults.zeroFrameRate) {
                f.header[29] = 0;
            }
            frames.push_back(std::move(f));
        }
        keyAfter = faults.noStartCode || faults.shortPayload;
    }

    {
        std::lock_guard<std::mutex> lock(m_mutex);
        SendFramesLocked(frames);
        if (keyAfter) {
            m_forceKey = true;
        }
    }
    if (m_config.onVideoQueued && !frames.empty()) {
        m_config.onVideoQueued(timeStampMs);
    }
}

void Recorder::SendFramesLocked(const std::vector<OutFrame>& frames) {
    bool wantKey = false;
    for (auto& entry : m_clients) {
        Client& c = *entry.second;
        for (const OutFrame& f : frames) {
            if (c.closed || c.silent || !c.loggedIn) {
                break;
            }
            const std::size_t pending = c.out.size() - c.outPos;
            if (!f.ignoreBacklog && pending > m_config.videoBacklogBytes) {
                c.needKey = true;  // it resumes at a key frame once drained
                ++m_videoFramesSkipped;
                continue;
            }
            if (c.needKey && !f.key) {
                wantKey = true;
                ++m_videoFramesSkipped;
                continue;
            }
            QueueLocked(c, wire::kRouteCommand, PT_VIDEO, f.header);
            QueueLocked(c, wire::kRouteStream, PT_VIDEO, f.block);
            if (c.closed) {
                break;
            }
            c.needKey = false;
            ++c.framesSent;
            ++m_videoFramesSent;
        }
    }
    if (wantKey) {
        m_forceKey = true;
    }
}

}  // namespace recorder
