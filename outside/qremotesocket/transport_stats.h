#pragma once
// Diagnostics of QRemoteSocket beyond the nine NSMGAPI_* calls: the state of
// the receive-buffer pools, for tests and for the statistics lines.
// Every function may be called from any thread.

#include <cstdint>

#include "protocol/qremotesocket.h"

struct QRS_PoolStats {
    std::uint32_t buffers;          // receive buffers the pool owns (at most 64)
    std::uint32_t buffersInFlight;  // lent to posted messages not yet handled or dropped
    std::uint32_t largestBuffer;    // payload capacity of the largest buffer, bytes
    std::uint64_t bytesHeld;        // payload capacity of all its buffers, bytes
};

extern "C" {
// The pool of one session. 0 (and *out untouched) for a null session or out.
NSMGAPI_EXPORT int QRS_GetPoolStats(NSMG_SESSION session, QRS_PoolStats* out);
// Buffers lent out by every pool in the process, including pools that outlive
// their destroyed session while messages are queued.
NSMGAPI_EXPORT std::uint32_t QRS_BuffersInFlightAll();
// Pools alive in the process; a pool dies when its session is destroyed and
// its last buffer has come back.
NSMGAPI_EXPORT std::uint32_t QRS_PoolsAlive();
}
