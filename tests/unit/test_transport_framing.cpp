// The transport's frame parser: frames cut at any byte, many frames in one
// chunk, headers that are not ours, the payload cap.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "outside/qremotesocket/frame_reader.h"
#include "outside/qremotesocket/wire_format.h"

using qrs::FrameReader;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Frame {
    std::uint8_t route;
    std::uint16_t type;
    Bytes payload;
    bool operator==(const Frame& o) const {
        return route == o.route && type == o.type && payload == o.payload;
    }
};

void PrintTo(const Frame& f, std::ostream* os) {
    *os << "{route " << int(f.route) << ", type " << f.type << ", " << f.payload.size()
        << " bytes}";
}

Bytes Encode(const Frame& f) {
    Bytes out(wire::kHeaderSize + f.payload.size());
    wire::EncodeHeader(out.data(),
                       wire::Header{f.route, f.type, static_cast<std::uint32_t>(f.payload.size())});
    std::copy(f.payload.begin(), f.payload.end(), out.begin() + wire::kHeaderSize);
    return out;
}

Bytes Pattern(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return b;
}

// Drives a reader the way the transport does, keeping each payload in a
// vector of its own. Feeds the chunks in order; stops at the first error.
struct Parsed {
    std::vector<Frame> frames;
    bool error = false;
    FrameReader::Error why = FrameReader::Error::kNone;
};

Parsed ParseChunks(const std::vector<Bytes>& chunks, std::uint32_t maxPayload) {
    Parsed out;
    FrameReader reader(maxPayload);
    Bytes room;
    auto take = [&] {
        Frame f{reader.header().route, reader.header().type,
                Bytes(reader.payload(), reader.payload() + reader.payloadLength())};
        out.frames.push_back(std::move(f));
    };
    for (const Bytes& chunk : chunks) {
        std::size_t pos = 0;
        for (;;) {
            if (reader.NeedsBuffer()) {
                room.assign(reader.payloadLength(), 0xEE);
                if (reader.SetPayloadBuffer(room.empty() ? nullptr : room.data()) ==
                    FrameReader::Result::kFrame) {
                    take();
                }
                continue;
            }
            if (pos == chunk.size()) {
                break;
            }
            std::size_t used = 0;
            auto r = reader.Feed(chunk.data() + pos, chunk.size() - pos, &used);
            EXPECT_LE(used, chunk.size() - pos);
            pos += used;
            if (r == FrameReader::Result::kError) {
                out.error = true;
                out.why = reader.error();
                return out;
            }
            if (r == FrameReader::Result::kFrame) {
                take();
            }
        }
    }
    return out;
}

Bytes Concat(const std::vector<Frame>& frames) {
    Bytes all;
    for (const Frame& f : frames) {
        Bytes e = Encode(f);
        all.insert(all.end(), e.begin(), e.end());
    }
    return all;
}

const std::vector<Frame> kSample = {
    {wire::kRouteCommand, 85, {0x01, 0x00, 0x01, 0x00}},
    {wire::kRouteCommand, 8, {}},
    {wire::kRouteStream, 83, Pattern(300, 3)},
    {wire::kRouteControl, wire::kControlTalkOpen, {}},
    {wire::kRouteCommand, 1, Pattern(32, 9)},
};

}  // namespace

TEST(FrameReader, WholeStreamInOneChunk) {
    Parsed p = ParseChunks({Concat(kSample)}, 1024);
    EXPECT_FALSE(p.error);
    EXPECT_EQ(p.frames, kSample);
}

TEST(FrameReader, StreamCutInTwoAtEveryOffset) {
    const Bytes all = Concat(kSample);
    for (std::size_t cut = 0; cut <= all.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        Parsed p = ParseChunks(
            {Bytes(all.begin(), all.begin() + cut), Bytes(all.begin() + cut, all.end())}, 1024);
        EXPECT_FALSE(p.error);
        EXPECT_EQ(p.frames, kSample);
    }
}

TEST(FrameReader, StreamFedInSmallPieces) {
    const Bytes all = Concat(kSample);
    for (std::size_t piece : {1u, 2u, 3u, 5u, 15u, 16u, 17u, 500u}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        std::vector<Bytes> chunks;
        for (std::size_t i = 0; i < all.size(); i += piece) {
            chunks.emplace_back(all.begin() + i, all.begin() + std::min(all.size(), i + piece));
        }
        Parsed p = ParseChunks(chunks, 1024);
        EXPECT_FALSE(p.error);
        EXPECT_EQ(p.frames, kSample);
    }
}

TEST(FrameReader, IncompleteStreamYieldsOnlyTheWholeFrames) {
    const Bytes all = Concat(kSample);
    // Everything but the last byte: the last frame is still missing.
    Parsed p = ParseChunks({Bytes(all.begin(), all.end() - 1)}, 1024);
    EXPECT_FALSE(p.error);
    EXPECT_EQ(p.frames, std::vector<Frame>(kSample.begin(), kSample.end() - 1));
}

TEST(FrameReader, PayloadCap) {
    struct Case {
        std::uint32_t cap;
        std::size_t payload;
        bool ok;
    } cases[] = {
        {100, 100, true}, {100, 101, false}, {1, 0, true}, {0, 0, true}, {0, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.cap) + "/" + std::to_string(c.payload));
        Parsed p = ParseChunks({Encode({wire::kRouteStream, 83, Pattern(c.payload, 1)})}, c.cap);
        EXPECT_EQ(p.error, !c.ok);
        if (!c.ok) {
            EXPECT_EQ(p.why, FrameReader::Error::kTooLarge);
        }
    }
}

TEST(FrameReader, OversizedHeaderFailsBeforeAnyRoomIsAsked) {
    // Only the header of a 4 GiB frame: the reader must refuse it at once,
    // without asking for a buffer of that size.
    FrameReader reader(1u << 20);
    Bytes header(wire::kHeaderSize);
    wire::EncodeHeader(header.data(), wire::Header{wire::kRouteStream, 83, 0xFFFFFFFFu});
    std::size_t used = 0;
    EXPECT_EQ(reader.Feed(header.data(), header.size(), &used), FrameReader::Result::kError);
    EXPECT_EQ(reader.error(), FrameReader::Error::kTooLarge);
    EXPECT_FALSE(reader.NeedsBuffer());
}

TEST(FrameReader, HeadersThatAreNotOurs) {
    struct Case {
        const char* what;
        std::size_t offset;
        std::uint8_t value;
        bool ok;
    } cases[] = {
        {"magic low byte", 0, 0x00, false}, {"magic high byte", 1, 0x57, false},
        {"version 0", 2, 0, false},         {"version 2", 2, 2, false},
        {"route 0", 3, 0, false},           {"route 4", 3, 4, false},
        {"route 255", 3, 255, false},       {"route 3", 3, 3, true},
        {"reserved byte 4", 4, 0xAB, true}, {"reserved byte 15", 15, 0xCD, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes frame = Encode({wire::kRouteCommand, 85, {1, 2, 3, 4}});
        frame[c.offset] = c.value;
        Parsed p = ParseChunks({frame}, 1024);
        EXPECT_EQ(p.error, !c.ok);
        if (c.ok) {
            ASSERT_EQ(p.frames.size(), 1u);
            EXPECT_EQ(p.frames[0].payload, (Bytes{1, 2, 3, 4}));
        } else {
            EXPECT_EQ(p.why, FrameReader::Error::kBadHeader);
            EXPECT_TRUE(p.frames.empty());
        }
    }
}

TEST(FrameReader, BadHeaderAfterGoodFramesKeepsTheGoodOnes) {
    Bytes all = Concat({kSample[0], kSample[1]});
    Bytes junk(wire::kHeaderSize, 0x41);
    all.insert(all.end(), junk.begin(), junk.end());
    Parsed p = ParseChunks({all}, 1024);
    EXPECT_TRUE(p.error);
    EXPECT_EQ(p.frames, (std::vector<Frame>{kSample[0], kSample[1]}));
}

TEST(FrameReader, ErrorIsStickyUntilReset) {
    FrameReader reader(16);
    Bytes bad(wire::kHeaderSize, 0);
    std::size_t used = 0;
    ASSERT_EQ(reader.Feed(bad.data(), bad.size(), &used), FrameReader::Result::kError);
    const Bytes good = Encode({wire::kRouteCommand, 85, {}});
    EXPECT_EQ(reader.Feed(good.data(), good.size(), &used), FrameReader::Result::kError);
    EXPECT_EQ(used, 0u);

    reader.Reset(16);
    EXPECT_EQ(reader.Feed(good.data(), good.size(), &used), FrameReader::Result::kNeedBuffer);
    EXPECT_EQ(used, good.size());
    EXPECT_EQ(reader.SetPayloadBuffer(nullptr), FrameReader::Result::kFrame);
    EXPECT_EQ(reader.header().type, 85);
}

TEST(FrameReader, WaitsForItsBufferBeforeTakingMore) {
    const Bytes all = Concat({kSample[0], kSample[2]});
    FrameReader reader(1024);
    std::size_t used = 0;
    ASSERT_EQ(reader.Feed(all.data(), all.size(), &used), FrameReader::Result::kNeedBuffer);
    EXPECT_EQ(used, wire::kHeaderSize);
    // Without a buffer nothing more is taken.
    std::size_t again = 99;
    EXPECT_EQ(reader.Feed(all.data() + used, all.size() - used, &again),
              FrameReader::Result::kNeedBuffer);
    EXPECT_EQ(again, 0u);
    // A null buffer for a payload that has bytes is refused.
    EXPECT_EQ(reader.SetPayloadBuffer(nullptr), FrameReader::Result::kError);
    EXPECT_TRUE(reader.NeedsBuffer());
}

TEST(FrameReader, RawHeaderIsKeptAsReceived) {
    Bytes frame = Encode({wire::kRouteCommand, 1, Pattern(32, 0)});
    frame[4] = 0x12;  // reserved bytes are passed on untouched
    frame[13] = 0x34;
    FrameReader reader(1024);
    std::size_t used = 0;
    ASSERT_EQ(reader.Feed(frame.data(), frame.size(), &used), FrameReader::Result::kNeedBuffer);
    EXPECT_EQ(Bytes(reader.RawHeader(), reader.RawHeader() + wire::kHeaderSize),
              Bytes(frame.begin(), frame.begin() + wire::kHeaderSize));
    EXPECT_EQ(wire::ReadU16(reader.RawHeader() + 6), 1);
    EXPECT_EQ(wire::ReadU32(reader.RawHeader() + 8), 32u);
}

TEST(FrameReader, DirectFillingOfThePayload) {
    // The transport reads large payloads straight into their buffer.
    const Bytes payload = Pattern(1000, 5);
    const Bytes frame = Encode({wire::kRouteStream, 83, payload});
    FrameReader reader(4096);
    std::size_t used = 0;
    ASSERT_EQ(reader.Feed(frame.data(), 20, &used), FrameReader::Result::kNeedBuffer);
    ASSERT_EQ(used, wire::kHeaderSize);
    EXPECT_EQ(reader.PayloadCursor(), nullptr);
    EXPECT_EQ(reader.PayloadRemaining(), 0u);

    Bytes room(payload.size());
    ASSERT_EQ(reader.SetPayloadBuffer(room.data()), FrameReader::Result::kNeedMore);
    ASSERT_EQ(reader.Feed(frame.data() + 16, 4, &used), FrameReader::Result::kNeedMore);
    EXPECT_EQ(reader.PayloadRemaining(), 996u);
    EXPECT_EQ(reader.PayloadCursor(), room.data() + 4);

    std::memcpy(reader.PayloadCursor(), frame.data() + 20, 500);
    EXPECT_EQ(reader.CommitPayload(500), FrameReader::Result::kNeedMore);
    EXPECT_EQ(reader.CommitPayload(497), FrameReader::Result::kError);  // more than is left
    std::memcpy(reader.PayloadCursor(), frame.data() + 520, 496);
    EXPECT_EQ(reader.CommitPayload(496), FrameReader::Result::kFrame);
    EXPECT_EQ(room, payload);
    EXPECT_EQ(reader.CommitPayload(0), FrameReader::Result::kError);  // no payload open
}

TEST(FrameReader, ZeroLengthFramesBackToBack) {
    std::vector<Frame> frames(50, Frame{wire::kRouteCommand, 8, {}});
    frames[25] = {wire::kRouteStream, 20, {}};
    Parsed p = ParseChunks({Concat(frames)}, 0);
    EXPECT_FALSE(p.error);
    EXPECT_EQ(p.frames, frames);
}
