#pragma once
// The receive buffers of one session and the tickets that bring them home.
//
// Every message the transport posts to its window lends one ReceiveBuffer: the
// header, descriptor and payload the message points at live in it, and the
// buffer is the message's ticket. When the window has handled the message, or
// the message was dropped, the ticket is finished and the buffer goes back to
// the free list, keeping its memory for the next frame. At most kMaxBuffers
// are lent out at a time; when none is free the reader stops reading the
// socket until one comes back, so a slow window throttles the recorder
// through TCP instead of growing memory.
//
// The pool is shared: the session holds it, and every buffer lent out holds it
// too, so messages still queued after NSMGAPI_Destroy keep their memory until
// they are handled or dropped.
//
// The pool also carries the connection generation. Each connection of a
// session gets a new number; a buffer remembers the number of the connection
// it was filled for, and its message is deliverable only while that is still
// the current one. The window thread advances it (Connect, Disconnect) and
// compares it (Deliverable), so a stale message can never slip through.
//
// Threads: Take() and Reserve() belong to the session's I/O thread; Finished()
// runs on whichever thread handles or drops the message; the generation and
// the statistics may be read anywhere.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "outside/qremotesocket/transport_stats.h"
#include "platform/messages.h"
#include "protocol/qremotesocket.h"

namespace qrs {

class ReceivePool;

class ReceiveBuffer final : public MessageTicket {
public:
    bool Deliverable() const override;
    void Finished() override;

    // The 16 header bytes as received and the stream descriptor.
    std::uint8_t header[kNetHeaderSize] = {};
    std::uint8_t descriptor[kStreamDescSize] = {};

    // Room for the payload; never null, even with no capacity (then it points
    // at a zero-length area inside the buffer).
    std::uint8_t* data() { return m_data ? m_data.get() : m_empty; }
    std::uint32_t capacity() const { return m_capacity; }

private:
    friend class ReceivePool;
    explicit ReceiveBuffer(ReceivePool* pool) : m_pool(pool) {}

    ReceivePool* m_pool;
    std::shared_ptr<ReceivePool> m_keepAlive;  // set while lent out
    std::uint64_t m_generation = 0;
    // Changed by the I/O thread while the buffer is taken, under the pool's
    // lock so that Stats() can read them.
    std::unique_ptr<std::uint8_t[]> m_data;
    std::uint32_t m_capacity = 0;
    std::uint8_t m_empty[1] = {};
};

class ReceivePool : public std::enable_shared_from_this<ReceivePool> {
public:
    // Buffers lent out at most at one time.
    static constexpr std::size_t kMaxBuffers = 64;

    // Null when the wake-up descriptor or the bookkeeping cannot be made.
    static std::shared_ptr<ReceivePool> Create();
    ~ReceivePool();
    ReceivePool(const ReceivePool&) = delete;
    ReceivePool& operator=(const ReceivePool&) = delete;

    // A buffer for a message of connection `generation`; null when all
    // kMaxBuffers are lent out. After a null, the next buffer that comes back
    // signals WakeFd(). Never allocates.
    ReceiveBuffer* Take(std::uint64_t generation);
    // Makes room for `size` payload bytes in a buffer that was taken. The room
    // grows to the largest size seen so far, but never beyond `limit`; a buffer
    // that holds more than `limit` (left from a connection with a larger cap)
    // is cut back. False when memory cannot be had.
    bool Reserve(ReceiveBuffer* buffer, std::uint32_t size, std::uint32_t limit);

    std::uint64_t Generation() const { return m_generation.load(std::memory_order_acquire); }
    // Starts a new generation and returns it; messages of older ones are stale.
    std::uint64_t Advance() { return m_generation.fetch_add(1, std::memory_order_acq_rel) + 1; }

    // Readable when a buffer came back to a waiting reader, or after Wake().
    int WakeFd() const { return m_wakeFd; }
    void Wake();
    void DrainWake();

    QRS_PoolStats Stats() const;

private:
    friend class ReceiveBuffer;
    explicit ReceivePool(int wakeFd);
    void Return(ReceiveBuffer* buffer);

    const int m_wakeFd;
    std::atomic<std::uint64_t> m_generation{0};

    // Made once in Create(); the vector itself never changes afterwards.
    std::vector<std::unique_ptr<ReceiveBuffer>> m_buffers;

    mutable std::mutex m_lock;  // guards the fields below and every buffer's data/capacity
    std::vector<ReceiveBuffer*> m_free;
    std::size_t m_lent = 0;
    bool m_readerWaiting = false;
    std::uint64_t m_bytesHeld = 0;

    std::uint32_t m_growTo = 0;  // largest payload asked for so far; I/O thread only
};

// Process-wide counts, over every pool alive (also those outliving their
// session).
std::uint32_t BuffersLentInProcess();
std::uint32_t PoolsAliveInProcess();

}  // namespace qrs
