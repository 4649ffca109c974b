// The stream ring's framing and capacity rule, and the picture queue.

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "media/stream_buffers.h"

namespace {

std::vector<std::uint8_t> Pattern(std::uint32_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> v(n);
    for (std::uint32_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 7);
    return v;
}

// Moves the ring's offsets to `offset` by pushing and popping one record.
void AdvanceTo(StreamRing& ring, std::uint32_t offset, std::vector<std::uint8_t>& scratch) {
    ring.Clear();
    if (offset == 0) return;
    // A record of exactly `offset` bytes (header included) cannot be shorter
    // than the header; go around once more for small offsets.
    std::uint32_t total = offset < StreamRecordHeader::kSize ? offset + StreamRing::kCapacity / 2 : offset;
    while (total > 0) {
        const std::uint32_t record = std::min<std::uint32_t>(total, StreamRing::kCapacity / 2);
        const std::uint32_t payload = record - static_cast<std::uint32_t>(StreamRecordHeader::kSize);
        std::vector<std::uint8_t> data(payload, 0xEE);
        ASSERT_TRUE(ring.Push(StreamRecordHeader{}, data.data(), payload));
        StreamRecordHeader h;
        ASSERT_TRUE(ring.Pop(&h, scratch.data(), static_cast<std::uint32_t>(scratch.size())));
        total -= record;
        if (total > 0 && total < StreamRecordHeader::kSize) {
            total += StreamRing::kCapacity / 2;  // keep every record at least a header long
        }
    }
}

}  // namespace

TEST(StreamRing, RecordsWrapAtEveryByteOfHeaderAndPayload) {
    StreamRing ring;
    std::vector<std::uint8_t> scratch(StreamRing::kCapacity);
    const std::uint32_t payloadLength = 100;
    // Put the record start at every offset from 40 bytes before the end of the
    // storage to the end, so that the wrap falls on every byte of the header
    // and the first bytes of the payload, and further in for the payload.
    std::vector<std::uint32_t> starts;
    for (std::uint32_t back = 1; back <= StreamRecordHeader::kSize + payloadLength; ++back) {
        starts.push_back(StreamRing::kCapacity - back);
    }
    for (std::uint32_t start : starts) {
        SCOPED_TRACE(start);
        AdvanceTo(ring, start, scratch);
        StreamRecordHeader in;
        in.setKeyFrame(1);
        in.setTimeStamp(0x01020304 + start);
        in.setFrameInterval(33);
        const auto payload = Pattern(payloadLength, static_cast<std::uint8_t>(start));
        ASSERT_TRUE(ring.Push(in, payload.data(), payloadLength));
        StreamRecordHeader out;
        std::vector<std::uint8_t> got(payloadLength);
        ASSERT_TRUE(ring.Pop(&out, got.data(), payloadLength));
        EXPECT_EQ(out.keyFrame(), 1u);
        EXPECT_EQ(out.timeStamp(), 0x01020304 + start);
        EXPECT_EQ(out.length(), payloadLength);
        EXPECT_EQ(out.frameInterval(), 33u);
        EXPECT_EQ(got, payload);
        EXPECT_EQ(ring.RecordCount(), 0u);
        EXPECT_EQ(ring.UsedBytes(), 0u);
    }
}

TEST(StreamRing, CapacityRule) {
    StreamRing ring;
    const std::uint32_t header = StreamRecordHeader::kSize;
    std::vector<std::uint8_t> big(StreamRing::kCapacity);
    // Exactly full succeeds; one byte more fails and changes nothing.
    ASSERT_TRUE(ring.Push(StreamRecordHeader{}, big.data(), StreamRing::kCapacity - 2 * header - 10));
    EXPECT_FALSE(ring.Push(StreamRecordHeader{}, big.data(), 11));
    EXPECT_EQ(ring.RecordCount(), 1u);
    EXPECT_TRUE(ring.Push(StreamRecordHeader{}, big.data(), 10));
    EXPECT_EQ(ring.UsedBytes(), StreamRing::kCapacity);
    EXPECT_FALSE(ring.Push(StreamRecordHeader{}, big.data(), 0));
    EXPECT_EQ(ring.RecordCount(), 2u);
    ring.Clear();
    EXPECT_EQ(ring.RecordCount(), 0u);
    StreamRecordHeader h;
    EXPECT_FALSE(ring.Pop(&h, big.data(), 1));
}

TEST(StreamRing, ARecordLargerThanTheReadersBufferIsDroppedNotCopied) {
    StreamRing ring;
    const auto a = Pattern(300, 1);
    const auto b = Pattern(20, 2);
    ASSERT_TRUE(ring.Push(StreamRecordHeader{}, a.data(), 300));
    ASSERT_TRUE(ring.Push(StreamRecordHeader{}, b.data(), 20));
    std::vector<std::uint8_t> small(64, 0x55);
    StreamRecordHeader h;
    EXPECT_FALSE(ring.Pop(&h, small.data(), 64));
    EXPECT_EQ(small, std::vector<std::uint8_t>(64, 0x55));
    ASSERT_TRUE(ring.Pop(&h, small.data(), 64));
    EXPECT_EQ(std::vector<std::uint8_t>(small.begin(), small.begin() + 20), b);
    EXPECT_EQ(ring.UsedBytes(), 0u);
}

TEST(StreamRing, ManyRecordsKeepTheirOrderAcrossWraps) {
    StreamRing ring;
    std::vector<std::uint8_t> out(5000);
    std::uint32_t next = 0;
    for (std::uint32_t i = 0; i < 2000; ++i) {
        const std::uint32_t len = (i * 1237) % 4999;
        auto data = Pattern(len, static_cast<std::uint8_t>(i));
        StreamRecordHeader h;
        h.setTimeStamp(i);
        while (!ring.Push(h, data.data(), len)) {
            StreamRecordHeader got;
            ASSERT_TRUE(ring.Pop(&got, out.data(), 5000));
            ASSERT_EQ(got.timeStamp(), next++);
        }
    }
}

TEST(DecodedFrameQueue, ResetEmptiesIt) {
    DecodedFrameQueue q;
    q.writeIndex = 2;
    q.readIndex = 1;
    q.count = 1;
    q.Reset();
    EXPECT_EQ(q.Count(), 0u);
    EXPECT_EQ(q.readIndex, 0u);
    EXPECT_EQ(q.writeIndex, 0u);
    ASSERT_NE(q.frames[2].pixels, nullptr);
}
