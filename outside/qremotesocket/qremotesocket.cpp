// The nine NSMGAPI_* calls and the pool diagnostics. Nothing here throws out
// of the library: every entry point turns a failure into its 0 result.

#include "protocol/qremotesocket.h"

#include "outside/qremotesocket/session.h"
#include "outside/qremotesocket/transport_stats.h"
#include "outside/qremotesocket/wire_format.h"

namespace {

qrs::Session* AsSession(NSMG_SESSION session) {
    return static_cast<qrs::Session*>(session);
}

}  // namespace

extern "C" {

int NSMGAPI_Initialize() {
    return 1;
}

NSMG_SESSION NSMGAPI_Create(HWND window) {
    return qrs::Session::Create(window);
}

int NSMGAPI_Connect(NSMG_SESSION session, const _tagConnectSocketInfo* info) {
    if (session == nullptr || info == nullptr) {
        return 0;
    }
    try {
        return AsSession(session)->Connect(*info);
    } catch (...) {
        return 0;
    }
}

int NSMGAPI_SendInitPacketData(NSMG_SESSION session) {
    if (session == nullptr) {
        return 0;
    }
    std::uint8_t payload[wire::kInitPayloadSize] = {};
    static_assert(sizeof wire::kInitTag == 8, "init tag is 8 bytes");
    for (std::size_t i = 0; i < sizeof wire::kInitTag; ++i) {
        payload[i] = static_cast<std::uint8_t>(wire::kInitTag[i]);
    }
    wire::WriteU32(payload + 8, wire::kProtocolVersion);
    wire::WriteU32(payload + 12, 0);
    return AsSession(session)->SendFrame(wire::kRouteControl, wire::kControlInit, payload,
                                         sizeof payload);
}

int NSMGAPI_SendPacketData(NSMG_SESSION session, std::uint16_t type, const std::uint8_t* payload,
                           std::uint32_t length) {
    if (session == nullptr) {
        return 0;
    }
    return AsSession(session)->SendFrame(wire::kRouteCommand, type, payload, length);
}

int NSMGAPI_SendTypeStreamData(NSMG_SESSION session, std::uint16_t type, const std::uint8_t* data,
                               std::uint32_t length) {
    if (session == nullptr) {
        return 0;
    }
    return AsSession(session)->SendFrame(wire::kRouteStream, type, data, length);
}

void NSMGAPI_Disconnect(NSMG_SESSION session) {
    if (session != nullptr) {
        AsSession(session)->Disconnect();
    }
}

void NSMGAPI_Destroy(NSMG_SESSION session) {
    delete AsSession(session);
}

void NSMGAPI_Uninitialize() {}

int QRS_GetPoolStats(NSMG_SESSION session, QRS_PoolStats* out) {
    if (session == nullptr || out == nullptr) {
        return 0;
    }
    *out = AsSession(session)->PoolStats();
    return 1;
}

std::uint32_t QRS_BuffersInFlightAll() {
    return qrs::BuffersLentInProcess();
}

std::uint32_t QRS_PoolsAlive() {
    return qrs::PoolsAliveInProcess();
}

}  // extern "C"
