#pragma once
// The framing our transport puts on TCP, shared by the client transport and the
// recorder simulator. docs/wire-protocol.md is the authoritative description.
//
// Every frame is a 16-byte header followed by `length` payload bytes:
//
//   offset size field
//   0      2    magic    0x5651 (bytes 51 56, "QV")
//   2      1    version  1
//   3      1    route    1 command packet, 2 stream block, 3 transport control
//   4      2    reserved 0 when sent, not read
//   6      2    type     packet type (command/stream) or control code
//   8      4    length   payload bytes that follow the header
//   12     4    reserved 0 when sent, not read
//
// All integers little-endian.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wire {

constexpr std::size_t kHeaderSize = 16;
constexpr std::uint16_t kMagic = 0x5651;
constexpr std::uint8_t kVersion = 1;

enum Route : std::uint8_t {
    kRouteCommand = 1,
    kRouteStream = 2,
    kRouteControl = 3,
};

// Control codes (route 3).
enum Control : std::uint16_t {
    kControlInit = 1,       // client -> recorder, first frame of a connection
    kControlTalkOpen = 2,   // recorder -> client: the recorder opens talk-back
    kControlTalkClose = 3,  // recorder -> client: the recorder closes talk-back
};

// Payload of the init frame: the 8 bytes "QVELNOR" NUL, then uint32 protocol
// version 1, then uint32 0.
constexpr std::size_t kInitPayloadSize = 16;
constexpr char kInitTag[8] = {'Q', 'V', 'E', 'L', 'N', 'O', 'R', '\0'};
constexpr std::uint32_t kProtocolVersion = 1;

struct Header {
    std::uint8_t route = 0;
    std::uint16_t type = 0;
    std::uint32_t length = 0;
};

inline std::uint16_t ReadU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t ReadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void WriteU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void WriteU32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline void EncodeHeader(std::uint8_t out[kHeaderSize], const Header& h) {
    std::memset(out, 0, kHeaderSize);
    WriteU16(out + 0, kMagic);
    out[2] = kVersion;
    out[3] = h.route;
    WriteU16(out + 6, h.type);
    WriteU32(out + 8, h.length);
}

// False for a header that is not ours: wrong magic or version, unknown route.
// The caller checks the length against its own cap.
inline bool DecodeHeader(const std::uint8_t in[kHeaderSize], Header* h) {
    if (ReadU16(in + 0) != kMagic || in[2] != kVersion) {
        return false;
    }
    if (in[3] < kRouteCommand || in[3] > kRouteControl) {
        return false;
    }
    h->route = in[3];
    h->type = ReadU16(in + 6);
    h->length = ReadU32(in + 8);
    return true;
}

}  // namespace wire
