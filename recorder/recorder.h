#pragma once
// The recorder simulator: a TCP server that speaks the recorder's side of the
// protocol over our framing (outside/qremotesocket/wire_format.h). Tests run
// it in-process; recorder/main.cpp wraps it as the qvelnor-recorder program.
//
// Conversation with each client:
//   - The first frame must be the init frame (control route, code 1, 16-byte
//     payload "QVELNOR\0", uint32 1, uint32 0); anything else closes the
//     connection. The recorder answers PT_HELLO with helloValue.
//   - PT_LOGIN: checked against `users` (or answered with forcedLoginResult);
//     the 32-byte login reply follows. Result 1 logs the client in and starts
//     its silent/drop clocks.
//   - PT_SESSION from a logged-in client: 32 bytes, first uint32 1.
//   - PT_TIME_ZONE from a logged-in client: the 24-byte rules record.
//   - PT_LOGOUT logs the client out; the connection stays until the client
//     closes it. PT_TIME_ZONE_ACK and everything else are recorded and logged
//     only.
// A frame with a bad header or a payload above kMaxPayload closes that
// connection; the recorder keeps serving the others.
//
// Threads: one service thread runs every socket (poll loop). The sending,
// query and wait methods may be called from any thread; they are serialised by
// one mutex. Start and Stop belong to one controlling thread.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "outside/qremotesocket/wire_format.h"
#include "recorder/recorder_packets.h"

namespace recorder {

struct RecorderConfig {
    std::string listenAddress = "127.0.0.1";  // IPv4 dotted address
    int port = 50000;                         // 0: any free port, see Recorder::Port()
    std::vector<std::pair<std::string, std::string>> users = {{"admin", "1234"}};
    std::optional<std::int32_t> forcedLoginResult;  // answer this whatever the credentials
    std::uint8_t kind = 0;
    std::uint8_t videoSystem = 0;  // 0 NTSC, 1 PAL
    std::uint8_t features = 0;
    std::uint8_t channels = 16;
    std::uint32_t sessionId = 1;
    std::uint32_t rights = 6;
    std::uint32_t helloValue = 0x00010001;
    TimeZoneRules timeZone;
    // Counted from each login success; 0 = never. Silent: the connection stays
    // open but nothing more is sent to that client. Drop: the recorder closes it.
    double silentAfterSeconds = 0;
    double dropAfterSeconds = 0;
    // Packet log, truncated at Start; one FormatPacketLogLine() line per frame
    // received (the init frame included), flushed at once. Empty: no log.
    std::string packetLogPath;
    // Received() keeps at most this many packets, dropping the oldest, so that a
    // long-running recorder does not grow without end; 0 keeps none. The
    // counts behind ReceivedCount() and WaitForPacket() are not limited.
    std::size_t keepReceived = 10000;
};

struct ReceivedPacket {
    int clientId = 0;        // connections are numbered from 1 in accept order
    std::uint8_t route = 0;  // wire::kRouteCommand / kRouteStream / kRouteControl
    std::uint16_t type = 0;
    std::vector<std::uint8_t> payload;
};

class Recorder {
public:
    // Largest frame payload accepted from a client.
    static constexpr std::uint32_t kMaxPayload = 1u << 20;
    // Largest amount of unsent output kept for one client; a client that lets
    // more pile up is disconnected.
    static constexpr std::size_t kMaxPendingOutput = 64u << 20;
    // Connections beyond this many are closed as soon as they are accepted.
    static constexpr int kMaxClients = 64;

    Recorder();
    ~Recorder();  // Stop()
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Binds, listens and starts the service thread. False with *error set when
    // the address is bad, the port is taken, the log cannot be opened or the
    // recorder already runs.
    bool Start(const RecorderConfig& config, std::string* error);
    // Closes every connection and the listener and joins the service thread.
    // Safe to call twice; the recorder may be started again afterwards.
    void Stop();
    // The port actually listened on (useful with port 0); 0 when not running.
    int Port() const;

    // Open connections (logged in or not).
    int ClientCount() const;
    // Waits until ClientCount() == count. False on timeout.
    bool WaitForClientCount(int count, int timeoutMs) const;

    // Queue a frame for every logged-in client that has not gone silent.
    // Return the number of clients it was queued for. The client transport
    // refuses payloads above 1 MiB, so larger ones end that connection.
    int SendCommand(std::uint16_t type, const std::vector<std::uint8_t>& payload);
    int SendStream(std::uint16_t type, const std::vector<std::uint8_t>& data);
    int SendTalkOpen();
    int SendTalkClose();

    // Every connected client goes silent now (see silentAfterSeconds).
    void GoSilent();
    // Closes every client connection; the recorder keeps listening.
    void DropClients();

    // The packets received so far (the last keepReceived of them), in order.
    std::vector<ReceivedPacket> Received() const;
    // Frames of this route and type received since Start (not limited by
    // keepReceived). Does not block: a test that must keep an event loop
    // running polls this instead of calling WaitForPacket.
    std::size_t ReceivedCount(std::uint16_t type, std::uint8_t route = wire::kRouteCommand) const;
    // Blocks until at least `count` frames of this route and type have been
    // received since Start, or timeoutMs has passed (false). By the time it
    // returns true the packet's log line is written and the recorder's answer,
    // if any, is queued.
    bool WaitForPacket(std::uint16_t type, int timeoutMs, std::size_t count = 1,
                       std::uint8_t route = wire::kRouteCommand) const;

private:
    struct Client;

    void Run();
    void AcceptLocked();
    void ReadLocked(Client& c);
    void WriteLocked(Client& c);
    void HandleFrameLocked(Client& c, std::uint8_t route, std::uint16_t type,
                           std::vector<std::uint8_t> payload);
    void QueueLocked(Client& c, std::uint8_t route, std::uint16_t type,
                     const std::vector<std::uint8_t>& payload);
    int BroadcastLocked(std::uint8_t route, std::uint16_t type,
                        const std::vector<std::uint8_t>& payload);
    void CloseLocked(Client& c);
    void Wake();

    mutable std::mutex m_mutex;  // guards everything below except m_thread
    mutable std::condition_variable m_changed;
    RecorderConfig m_config;
    bool m_running = false;
    bool m_stopping = false;
    int m_listenFd = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    int m_port = 0;
    int m_nextClientId = 1;
    std::map<int, std::unique_ptr<Client>> m_clients;  // by client id
    std::deque<ReceivedPacket> m_received;
    std::map<std::pair<std::uint8_t, std::uint16_t>, std::size_t> m_receivedCounts;
    std::FILE* m_log = nullptr;
    std::thread m_thread;
};

}  // namespace recorder
