#pragma once
// Sonicore: the audio codec library. The client opens one decoder and one
// encoder per view and closes them at teardown; no data passes through them.

#include <cstdint>

#if defined(SONICORE_BUILD)
#define SONICORE_EXPORT __attribute__((visibility("default")))
#else
#define SONICORE_EXPORT
#endif

extern "C" {
// Handles are >= 0; -1 for a codec type the library does not know.
SONICORE_EXPORT std::int32_t CODECAPI_AudioDecodeInit(std::int32_t codecType);
SONICORE_EXPORT std::int32_t CODECAPI_AudEncInit(std::int32_t codecType, std::int32_t sampleRate,
                                                 std::int32_t channels);
SONICORE_EXPORT void CODECAPI_AudioDecodeDeInit(std::int32_t handle, std::int32_t codecType);
SONICORE_EXPORT void CODECAPI_AudEncDeInit(std::int32_t handle, std::int32_t codecType);
}
