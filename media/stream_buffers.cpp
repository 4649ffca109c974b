#include "media/stream_buffers.h"

#include <algorithm>

namespace {
constexpr std::uint32_t kMask = StreamRing::kCapacity - 1;
std::unique_ptr<std::uint8_t[]> Zeroed(std::size_t n) {
    return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[n]());
}
}  // namespace

StreamRing::StreamRing() : m_storage(Zeroed(kCapacity)) {}

void StreamRing::WriteWrapped(const std::uint8_t* src, std::uint32_t n) {
    const std::uint32_t first = std::min(n, kCapacity - m_writeOffset);
    std::memcpy(m_storage.get() + m_writeOffset, src, first);
    std::memcpy(m_storage.get(), src + first, n - first);
    m_writeOffset = (m_writeOffset + n) & kMask;
}

void StreamRing::ReadWrapped(std::uint8_t* dst, std::uint32_t n) {
    const std::uint32_t first = std::min(n, kCapacity - m_readOffset);
    std::memcpy(dst, m_storage.get() + m_readOffset, first);
    std::memcpy(dst + first, m_storage.get(), n - first);
    m_readOffset = (m_readOffset + n) & kMask;
}

void StreamRing::SkipWrapped(std::uint32_t n) { m_readOffset = (m_readOffset + n) & kMask; }

bool StreamRing::Push(StreamRecordHeader header, const std::uint8_t* payload,
                      std::uint32_t length) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (static_cast<std::uint64_t>(m_usedBytes) + length + StreamRecordHeader::kSize > kCapacity) {
        return false;
    }
    header.setLength(length);
    WriteWrapped(header.bytes.data(), StreamRecordHeader::kSize);
    if (length != 0) {
        WriteWrapped(payload, length);
    }
    m_usedBytes += length + static_cast<std::uint32_t>(StreamRecordHeader::kSize);
    m_recordCount.fetch_add(1, std::memory_order_relaxed);
    return true;
}

bool StreamRing::Pop(StreamRecordHeader* header, std::uint8_t* payload,
                     std::uint32_t payloadCapacity) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_usedBytes == 0) {
        return false;
    }
    ReadWrapped(header->bytes.data(), StreamRecordHeader::kSize);
    const std::uint32_t length = header->length();
    const bool fits = length <= payloadCapacity;
    if (fits) {
        ReadWrapped(payload, length);
    } else {
        SkipWrapped(length);
    }
    m_usedBytes -= length + static_cast<std::uint32_t>(StreamRecordHeader::kSize);
    m_recordCount.fetch_sub(1, std::memory_order_relaxed);
    return fits;
}

void StreamRing::Clear() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_readOffset = 0;
    m_writeOffset = 0;
    m_usedBytes = 0;
    m_recordCount.store(0, std::memory_order_relaxed);
}

std::uint32_t StreamRing::UsedBytes() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_usedBytes;
}

DecodedFrameQueue::DecodedFrameQueue() {
    for (DecodedFrameSlot& s : frames) {
        s.pixels = Zeroed(kMaxPictureBytes);
    }
}

void DecodedFrameQueue::Reset() {
    std::lock_guard<std::mutex> l(lock);
    readIndex = 0;
    writeIndex = 0;
    count.store(0, std::memory_order_relaxed);
}

StreamBuffers::StreamBuffers()
    : displayStaging(Zeroed(kMaxPictureBytes)),
      videoPayload(Zeroed(kVideoPayloadBytes)),
      audioOutPayload(Zeroed(kAudioOutPayloadBytes)),
      audioInSend(Zeroed(kAudioInSendBytes)) {}
