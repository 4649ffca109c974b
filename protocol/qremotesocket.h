#pragma once
// QRemoteSocket: the transport between the client view and a recorder.
//
// Nine calls one way, window messages the other. Every call is made from the
// view's window thread, except NSMGAPI_SendPacketData and
// NSMGAPI_SendTypeStreamData, which may also come from the microphone worker at
// the same time.
//
// Messages posted to the window given to NSMGAPI_Create:
//   1445 UM_NET_CONNECTED  wParam: 1 connected, 0 failed
//   1446 UM_NET_CLOSED     the recorder closed or reset the connection, or sent
//                          something that is not our framing
//   1425 UM_NET_PACKET     wParam: header, lParam: payload (command packet)
//   1637 UM_NET_STREAM     wParam: header, lParam: stream descriptor
//   1639 UM_NET_TALK_OPEN, 1640 UM_NET_TALK_CLOSE  the recorder's talk signals
// The header is 16 bytes with the uint16 packet type at offset 6 and the uint32
// payload length at offset 8. The stream descriptor holds the data pointer at
// offset 0 and the uint32 data length at offset 8. Header, payload, descriptor
// and data stay valid until the message has been handled; they belong to the
// transport. Messages of a connection that NSMGAPI_Disconnect has ended are
// not delivered.

#include <cstdint>

#include "platform/wintypes.h"

#if defined(QREMOTESOCKET_BUILD)
#define NSMGAPI_EXPORT __attribute__((visibility("default")))
#else
#define NSMGAPI_EXPORT
#endif

#pragma pack(push, 1)
struct _tagConnectSocketInfo {
    char host[260];           // ANSI host name or dotted address, NUL-terminated
    std::int32_t kind;        // 2
    std::int32_t port;        // TCP port
    std::int32_t waitLimit;   // connect time-out, seconds
    std::uint8_t option;      // 1
    std::uint8_t pad1[3];
    std::uint32_t bufferSize; // largest frame payload accepted, bytes
    std::uint8_t pad2[4];
};
#pragma pack(pop)
static_assert(sizeof(_tagConnectSocketInfo) == 284, "connect-info record is 284 bytes");

using NSMG_SESSION = void*;

// Offsets inside the header and the stream descriptor handed to the window.
constexpr int kNetHeaderTypeOffset = 6;
constexpr int kNetHeaderLengthOffset = 8;
constexpr int kNetHeaderSize = 16;
constexpr int kStreamDescDataOffset = 0;
constexpr int kStreamDescLengthOffset = 8;
constexpr int kStreamDescSize = 16;

extern "C" {
// Once per view; result ignored by the client (1).
NSMGAPI_EXPORT int NSMGAPI_Initialize();
// A session bound to the window that receives its messages; null on failure.
NSMGAPI_EXPORT NSMG_SESSION NSMGAPI_Create(HWND window);
// Starts a connection attempt. Non-zero: started, the outcome arrives as 1445.
// Zero: nothing started (bad record, or a connection is already open).
NSMGAPI_EXPORT int NSMGAPI_Connect(NSMG_SESSION session, const _tagConnectSocketInfo* info);
// The first frame of a connection. Zero on failure.
NSMGAPI_EXPORT int NSMGAPI_SendInitPacketData(NSMG_SESSION session);
// One command packet; null payload with length 0 allowed. Zero on failure.
NSMGAPI_EXPORT int NSMGAPI_SendPacketData(NSMG_SESSION session, std::uint16_t type,
                                          const std::uint8_t* payload, std::uint32_t length);
// One stream block (microphone audio, type 99). Zero on failure.
NSMGAPI_EXPORT int NSMGAPI_SendTypeStreamData(NSMG_SESSION session, std::uint16_t type,
                                              const std::uint8_t* data, std::uint32_t length);
// Ends the connection (or the attempt); the session stays usable.
NSMGAPI_EXPORT void NSMGAPI_Disconnect(NSMG_SESSION session);
NSMGAPI_EXPORT void NSMGAPI_Destroy(NSMG_SESSION session);
NSMGAPI_EXPORT void NSMGAPI_Uninitialize();
}
