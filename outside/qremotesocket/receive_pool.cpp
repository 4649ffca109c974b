#include "outside/qremotesocket/receive_pool.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

namespace qrs {

namespace {
std::atomic<std::uint32_t> g_buffersLent{0};
std::atomic<std::uint32_t> g_poolsAlive{0};
}  // namespace

std::uint32_t BuffersLentInProcess() {
    return g_buffersLent.load();
}
std::uint32_t PoolsAliveInProcess() {
    return g_poolsAlive.load();
}

// --- ReceiveBuffer -----------------------------------------------------------

bool ReceiveBuffer::Deliverable() const {
    return m_generation == m_pool->Generation();
}

void ReceiveBuffer::Finished() {
    m_pool->Return(this);
}

// --- ReceivePool ---------------------------------------------------------------

std::shared_ptr<ReceivePool> ReceivePool::Create() {
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    // All bookkeeping is made here, once; lending and returning never allocate.
    // (Payload memory comes later, sized by the frames that arrive.)
    std::unique_ptr<ReceivePool> owner(new (std::nothrow) ReceivePool(fd));
    if (!owner) {
        ::close(fd);
        return nullptr;
    }
    std::shared_ptr<ReceivePool> pool;
    try {
        pool = std::shared_ptr<ReceivePool>(std::move(owner));
        for (std::size_t i = 0; i < kMaxBuffers; ++i) {
            pool->m_buffers.push_back(
                std::unique_ptr<ReceiveBuffer>(new ReceiveBuffer(pool.get())));
        }
        pool->m_free.reserve(kMaxBuffers);
        for (auto it = pool->m_buffers.rbegin(); it != pool->m_buffers.rend(); ++it) {
            pool->m_free.push_back(it->get());
        }
    } catch (const std::bad_alloc&) {
        return nullptr;  // whoever owns the pool now closes the descriptor
    }
    return pool;
}

ReceivePool::ReceivePool(int wakeFd) : m_wakeFd(wakeFd) {
    g_poolsAlive.fetch_add(1);
}

ReceivePool::~ReceivePool() {
    ::close(m_wakeFd);
    g_poolsAlive.fetch_sub(1);
}

ReceiveBuffer* ReceivePool::Take(std::uint64_t generation) {
    ReceiveBuffer* b = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_free.empty()) {
            m_readerWaiting = true;
            return nullptr;
        }
        b = m_free.back();
        m_free.pop_back();
        ++m_lent;
    }
    g_buffersLent.fetch_add(1);
    b->m_generation = generation;
    b->m_keepAlive = shared_from_this();
    return b;
}

bool ReceivePool::Reserve(ReceiveBuffer* b, std::uint32_t size, std::uint32_t limit) {
    if (size > limit) {
        return false;
    }
    m_growTo = std::max(m_growTo, size);
    if (b->m_capacity >= size && b->m_capacity <= limit) {
        return true;
    }
    // Grow to the largest frame seen so far, so that each buffer reallocates
    // only when a larger frame than ever before arrives.
    const std::uint32_t want = std::min(m_growTo, limit);
    std::unique_ptr<std::uint8_t[]> room;
    if (want > 0) {
        room.reset(new (std::nothrow) std::uint8_t[want]);
        if (!room) {
            return false;
        }
    }
    std::unique_ptr<std::uint8_t[]> old;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        old = std::move(b->m_data);
        m_bytesHeld += want;
        m_bytesHeld -= b->m_capacity;
        b->m_data = std::move(room);
        b->m_capacity = want;
    }
    return true;
}

void ReceivePool::Return(ReceiveBuffer* b) {
    // The buffer may hold the last reference to this pool: take it out before
    // the buffer is back in the list, and let it go only after the lock.
    std::shared_ptr<ReceivePool> keep = std::move(b->m_keepAlive);
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_free.push_back(b);
        --m_lent;
        wake = m_readerWaiting;
        m_readerWaiting = false;
    }
    g_buffersLent.fetch_sub(1);
    if (wake) {
        Wake();
    }
}

void ReceivePool::Wake() {
    const std::uint64_t one = 1;
    // A full counter (never in practice) still leaves the descriptor readable.
    while (::write(m_wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void ReceivePool::DrainWake() {
    std::uint64_t n = 0;
    while (::read(m_wakeFd, &n, sizeof n) < 0 && errno == EINTR) {
    }
}

QRS_PoolStats ReceivePool::Stats() const {
    QRS_PoolStats s{};
    {
        std::lock_guard<std::mutex> lock(m_lock);
        s.buffers = static_cast<std::uint32_t>(m_buffers.size());
        s.buffersInFlight = static_cast<std::uint32_t>(m_lent);
        for (const auto& b : m_buffers) {
            s.largestBuffer = std::max(s.largestBuffer, b->m_capacity);
        }
        s.bytesHeld = m_bytesHeld;
    }
    return s;
}

}  // namespace qrs
