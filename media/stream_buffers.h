#pragma once
// The containers between the window thread and the media workers: byte rings
// of framed records, and the three-slot queue of decoded pictures.
//
// Locks: one mutex per ring, one for the picture queue. The only nesting is
// the decode step, which holds the queue lock while it pops the video ring.

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

// 36-byte header in front of every ring record. Fields not named are zero.
struct StreamRecordHeader {
    static constexpr std::size_t kSize = 36;
    std::array<std::uint8_t, kSize> bytes{};

    std::uint32_t keyFrame() const { return Get(12); }
    std::uint32_t timeStamp() const { return Get(16); }
    std::uint32_t length() const { return Get(24); }
    std::uint32_t frameInterval() const { return Get(32); }
    void setKeyFrame(std::uint32_t v) { Put(12, v); }
    void setTimeStamp(std::uint32_t v) { Put(16, v); }
    void setLength(std::uint32_t v) { Put(24, v); }
    void setFrameInterval(std::uint32_t v) { Put(32, v); }

private:
    std::uint32_t Get(std::size_t o) const {
        std::uint32_t v;
        std::memcpy(&v, bytes.data() + o, 4);
        return v;
    }
    void Put(std::size_t o, std::uint32_t v) { std::memcpy(bytes.data() + o, &v, 4); }
};

// The recorder's 84-byte status block in front of every video frame.
struct FrameStatusHeader {
    static constexpr std::size_t kSize = 84;
    std::array<std::uint8_t, kSize> bytes{};

    std::uint8_t day() const { return bytes[0]; }
    std::uint8_t month() const { return bytes[1]; }
    std::uint16_t year() const { return static_cast<std::uint16_t>(bytes[2] | (bytes[3] << 8)); }
    std::uint8_t second() const { return bytes[5]; }
    std::uint8_t minute() const { return bytes[6]; }
    std::uint8_t hour() const { return bytes[7]; }
    std::uint8_t screenMode() const { return bytes[8]; }
    std::uint8_t divisionLayout() const { return bytes[9]; }
    std::uint8_t divisionParam() const { return bytes[10]; }
    std::uint8_t pipOrPlayback() const { return bytes[11]; }
    std::uint8_t keyLock() const { return bytes[12]; }
    std::uint32_t channelStatus(int channel) const {
        std::uint32_t v;
        std::memcpy(&v, bytes.data() + 20 + 4 * channel, 4);
        return v;
    }
};

// A byte ring of records (36-byte header + payload); either may wrap around
// the end of the storage at any byte.
class StreamRing {
public:
    static constexpr std::uint32_t kCapacity = 0x40000;  // 262,144 bytes

    StreamRing();
    StreamRing(const StreamRing&) = delete;
    StreamRing& operator=(const StreamRing&) = delete;

    // False, with nothing changed, when the record would make the ring hold
    // more than kCapacity bytes. The header's length field is set here.
    bool Push(StreamRecordHeader header, const std::uint8_t* payload, std::uint32_t length);
    // False when empty. A record longer than payloadCapacity is taken out of
    // the ring and dropped (false), never copied past the caller's buffer.
    bool Pop(StreamRecordHeader* header, std::uint8_t* payload, std::uint32_t payloadCapacity);
    void Clear();
    // Read without the lock (pacing); a stale value shifts one decision.
    std::uint32_t RecordCount() const { return m_recordCount.load(std::memory_order_relaxed); }
    std::uint32_t UsedBytes() const;

private:
    void WriteWrapped(const std::uint8_t* src, std::uint32_t n);
    void ReadWrapped(std::uint8_t* dst, std::uint32_t n);
    void SkipWrapped(std::uint32_t n);

    mutable std::mutex m_lock;
    std::uint32_t m_readOffset = 0;
    std::uint32_t m_writeOffset = 0;
    std::uint32_t m_usedBytes = 0;
    std::atomic<std::uint32_t> m_recordCount{0};
    std::unique_ptr<std::uint8_t[]> m_storage;
};

// Largest picture the pipeline accepts: width * height * 3 bytes.
constexpr std::uint32_t kMaxPictureBytes = 1296000;

struct DecodedFrameSlot {
    std::uint32_t timeStamp = 0;
    std::uint32_t frameInterval = 0;
    std::uint32_t keyFrame = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;  // negative: rows top-down
    std::unique_ptr<std::uint8_t[]> pixels;  // kMaxPictureBytes, 24-bit BGR
    FrameStatusHeader status;
};

// Three picture slots between decode and display. Fields are guarded by lock;
// count is also read without it (pacing).
struct DecodedFrameQueue {
    DecodedFrameQueue();
    void Reset();
    std::uint32_t Count() const { return count.load(std::memory_order_relaxed); }

    std::mutex lock;
    std::uint32_t readIndex = 0;
    std::uint32_t writeIndex = 0;
    std::atomic<std::uint32_t> count{0};
    DecodedFrameSlot frames[3];
};

// Everything a view's pipeline owns, allocated once per view.
struct StreamBuffers {
    StreamBuffers();

    static constexpr std::uint32_t kVideoPayloadBytes = 1048576;
    static constexpr std::uint32_t kAudioOutPayloadBytes = 163840;
    static constexpr std::uint32_t kAudioInSendBytes = 2097152;

    StreamRing audioOut;
    StreamRing audioIn;
    StreamRing video;
    DecodedFrameQueue pictures;
    std::unique_ptr<std::uint8_t[]> displayStaging;  // kMaxPictureBytes
    std::unique_ptr<std::uint8_t[]> videoPayload;    // kVideoPayloadBytes
    std::unique_ptr<std::uint8_t[]> audioOutPayload; // kAudioOutPayloadBytes
    std::unique_ptr<std::uint8_t[]> audioInSend;     // kAudioInSendBytes
};
