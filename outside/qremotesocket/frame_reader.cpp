#include "outside/qremotesocket/frame_reader.h"

#include <algorithm>
#include <cstring>

namespace qrs {

FrameReader::FrameReader(std::uint32_t maxPayload) : m_maxPayload(maxPayload) {}

void FrameReader::Reset(std::uint32_t maxPayload) {
    m_state = State::kHeader;
    m_error = Error::kNone;
    m_maxPayload = maxPayload;
    m_rawFilled = 0;
    m_header = wire::Header{};
    m_payload = nullptr;
    m_payloadFilled = 0;
}

FrameReader::Result FrameReader::Fail(Error e) {
    m_state = State::kFailed;
    m_error = e;
    return Result::kError;
}

FrameReader::Result FrameReader::Feed(const std::uint8_t* data, std::size_t size,
                                      std::size_t* consumed) {
    *consumed = 0;
    switch (m_state) {
        case State::kFailed:
            return Result::kError;
        case State::kAwaitBuffer:
            return Result::kNeedBuffer;
        case State::kComplete:
            // The caller has read the last frame; this one starts afresh.
            m_state = State::kHeader;
            m_rawFilled = 0;
            m_payload = nullptr;
            m_payloadFilled = 0;
            break;
        case State::kHeader:
        case State::kPayload:
            break;
    }

    if (m_state == State::kHeader) {
        const std::size_t take = std::min(size, wire::kHeaderSize - m_rawFilled);
        if (take > 0) {
            std::memcpy(m_raw + m_rawFilled, data, take);
        }
        m_rawFilled += take;
        *consumed = take;
        if (m_rawFilled < wire::kHeaderSize) {
            return Result::kNeedMore;
        }
        if (!wire::DecodeHeader(m_raw, &m_header)) {
            return Fail(Error::kBadHeader);
        }
        if (m_header.length > m_maxPayload) {
            return Fail(Error::kTooLarge);
        }
        m_state = State::kAwaitBuffer;
        return Result::kNeedBuffer;
    }

    // State::kPayload
    const std::size_t take = std::min(size, PayloadRemaining());
    if (take > 0) {
        std::memcpy(m_payload + m_payloadFilled, data, take);
    }
    *consumed = take;
    return CommitPayload(take);
}

FrameReader::Result FrameReader::SetPayloadBuffer(std::uint8_t* room) {
    if (m_state != State::kAwaitBuffer || (room == nullptr && m_header.length > 0)) {
        return Result::kError;
    }
    m_payload = room;
    m_payloadFilled = 0;
    if (m_header.length == 0) {
        m_state = State::kComplete;
        return Result::kFrame;
    }
    m_state = State::kPayload;
    return Result::kNeedMore;
}

std::uint8_t* FrameReader::PayloadCursor() const {
    return m_state == State::kPayload ? m_payload + m_payloadFilled : nullptr;
}

std::size_t FrameReader::PayloadRemaining() const {
    return m_state == State::kPayload ? m_header.length - m_payloadFilled : 0;
}

FrameReader::Result FrameReader::CommitPayload(std::size_t n) {
    if (m_state != State::kPayload || n > PayloadRemaining()) {
        return Result::kError;
    }
    m_payloadFilled += n;
    if (m_payloadFilled == m_header.length) {
        m_state = State::kComplete;
        return Result::kFrame;
    }
    return Result::kNeedMore;
}

}  // namespace qrs
