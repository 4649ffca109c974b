#pragma once
// Incremental parser of our TCP framing (wire_format.h): bytes in, whole
// frames or a protocol error out. Plain C++, no I/O and no allocation: the
// caller lends the room for each payload, so the transport can read straight
// into a pooled receive buffer.
//
// The conversation with a caller:
//
//   Feed(bytes) -> kNeedMore    every byte offered was taken; offer more
//               -> kNeedBuffer  a header is complete; header() and
//                               payloadLength() are valid. Call
//                               SetPayloadBuffer() with room for that many
//                               bytes before offering anything else.
//               -> kFrame       a frame is complete: header(), RawHeader() and
//                               payload() are valid until the next Feed(),
//                               which starts the next frame.
//               -> kError       the stream is not ours (bad header) or breaks
//                               the payload cap; error() says which. Sticky:
//                               nothing more is accepted until Reset().
//
// Feed() stops at each of those points and reports in *consumed how much it
// took, so one chunk with many frames is handed over in several calls. It
// never reads beyond the bytes it was given.
//
// While a payload is being filled, PayloadCursor()/PayloadRemaining() expose
// the unfilled room; a caller may write into it directly (a socket read) and
// report the bytes with CommitPayload().
//
// Not thread-safe; one reader belongs to one stream.

#include <cstddef>
#include <cstdint>

#include "outside/qremotesocket/wire_format.h"

#define QRS_EXPORT __attribute__((visibility("default")))

namespace qrs {

class QRS_EXPORT FrameReader {
public:
    enum class Result { kNeedMore, kNeedBuffer, kFrame, kError };
    enum class Error { kNone, kBadHeader, kTooLarge };

    // maxPayload: the largest payload accepted; a header announcing more is an
    // error before any room is asked for.
    explicit FrameReader(std::uint32_t maxPayload);

    // Forget everything (also a sticky error) and start at a frame boundary.
    void Reset(std::uint32_t maxPayload);

    Result Feed(const std::uint8_t* data, std::size_t size, std::size_t* consumed);

    // Only after kNeedBuffer. `room` holds payloadLength() bytes; it may be
    // null when that is 0. Returns kFrame when the frame is already complete
    // (empty payload), kNeedMore otherwise. Wrong state: kError, state kept.
    Result SetPayloadBuffer(std::uint8_t* room);

    // Direct filling of the payload: the next unfilled byte and how many are
    // left (0 when no payload is being filled).
    std::uint8_t* PayloadCursor() const;
    std::size_t PayloadRemaining() const;
    // n bytes were written at PayloadCursor(). kFrame when that completed the
    // payload, kNeedMore otherwise; kError (state kept) if n is more than is
    // left or no payload is being filled.
    Result CommitPayload(std::size_t n);

    bool NeedsBuffer() const { return m_state == State::kAwaitBuffer; }
    bool Failed() const { return m_state == State::kFailed; }
    Error error() const { return m_error; }
    std::uint32_t maxPayload() const { return m_maxPayload; }

    // Valid from kNeedBuffer to the next Feed() after kFrame.
    const wire::Header& header() const { return m_header; }
    std::uint32_t payloadLength() const { return m_header.length; }
    // The 16 header bytes exactly as received.
    const std::uint8_t* RawHeader() const { return m_raw; }
    // Valid after kFrame: the room given to SetPayloadBuffer().
    std::uint8_t* payload() const { return m_payload; }

private:
    enum class State { kHeader, kAwaitBuffer, kPayload, kComplete, kFailed };

    Result Fail(Error e);

    State m_state = State::kHeader;
    Error m_error = Error::kNone;
    std::uint32_t m_maxPayload;
    std::uint8_t m_raw[wire::kHeaderSize] = {};
    std::size_t m_rawFilled = 0;
    wire::Header m_header;
    std::uint8_t* m_payload = nullptr;
    std::size_t m_payloadFilled = 0;
};

}  // namespace qrs
