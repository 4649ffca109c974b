#pragma once
// One transport session: a window that receives the messages, a receive pool,
// and one I/O thread that lives from Create to Destroy and runs one connection
// at a time (resolve, connect, read).
//
// Threads:
//   window thread   Connect, Disconnect, the destructor, sends
//   any thread      sends (the microphone worker sends beside the window thread)
//   I/O thread      resolving, connecting, reading, posting
// The I/O thread never blocks anyone: the window thread only takes m_stateLock
// for a moment, and a sender only waits for its own frame to be written.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "outside/qremotesocket/frame_reader.h"
#include "outside/qremotesocket/receive_pool.h"
#include "protocol/qremotesocket.h"

namespace qrs {

// An open TCP connection, shared by the I/O thread (reading) and the senders.
// The socket is closed when the last holder lets go; Shutdown() ends the
// traffic at once for everybody, whoever still holds it.
struct Connection {
    explicit Connection(int socketFd) : fd(socketFd) {}
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    void Shutdown();

    const int fd;
    std::mutex sendLock;  // one whole frame at a time
    bool broken = false;  // guarded by sendLock: a frame was cut short, the stream is lost
};

class Session {
public:
    // Longest a sender waits for the socket to take a frame.
    static constexpr int kSendWaitMs = 5000;
    // Connect time-out when the record gives none.
    static constexpr int kDefaultWaitSeconds = 30;

    // Null when the pool or the thread cannot be made.
    static Session* Create(HWND window);
    // Disconnects, stops and joins the I/O thread.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    int Connect(const _tagConnectSocketInfo& info);
    void Disconnect();
    // One frame; 1 when all of it was written, 0 otherwise.
    int SendFrame(std::uint8_t route, std::uint16_t type, const std::uint8_t* payload,
                  std::uint32_t length);

    QRS_PoolStats PoolStats() const { return m_pool->Stats(); }

private:
    struct ConnectRequest {
        std::string host;
        std::string port;
        int waitMs = 0;
        std::uint32_t bufferSize = 0;
        std::uint64_t generation = 0;
    };
    enum class ReadEnd { kEndedByClient, kLost };

    Session(HWND window, std::shared_ptr<ReceivePool> pool);

    void Run();
    void RunConnection(const ConnectRequest& req);
    int OpenSocket(const ConnectRequest& req);
    ReadEnd ReadLoop(Connection& conn, std::uint64_t generation, std::uint32_t cap);
    // Hands a complete frame to the window (or back to the pool when no
    // message carries it).
    void Deliver(ReceiveBuffer* buffer, const FrameReader& reader);
    // Posts a connection event; waits for a free buffer if need be. False when
    // the connection ended meanwhile (nothing posted).
    bool PostEvent(std::uint64_t generation, UINT msg, WPARAM wParam);
    // The connection of `generation` is over by the recorder's side or ours:
    // forget it unless the client already has. True when it was still current.
    bool EndConnection(std::uint64_t generation);
    bool Current(std::uint64_t generation) const;

    const HWND m_window;
    const std::shared_ptr<ReceivePool> m_pool;
    std::thread m_thread;

    std::atomic<bool> m_stop{false};  // Destroy: the I/O thread ends

    mutable std::mutex m_stateLock;  // guards the fields below
    bool m_open = false;             // a connection or an attempt belongs to the client
    std::optional<ConnectRequest> m_pending;
    std::shared_ptr<Connection> m_conn;
    std::uint32_t m_sendCap = 0;

    // I/O thread only: socket reads land here unless they go straight into a payload.
    std::vector<std::uint8_t> m_staging;
};

}  // namespace qrs
