#pragma once
// Vidcore: the H.264 decoder library of the client. One instance per view.
//
// The parameter record keeps its 56 bytes; on 64-bit builds the two buffer
// addresses take 8 bytes each, so the fields sit as below.

#include <cstddef>
#include <cstdint>

#if defined(VIDCORE_BUILD)
#define VIDCORE_EXPORT __attribute__((visibility("default")))
#else
#define VIDCORE_EXPORT
#endif

struct DecodeFrameParams {
    std::uint32_t size;            // 0: 56
    std::uint32_t inputLength;     // 4: bytes of H.264 at `input`
    const std::uint8_t* input;     // 8: one frame, Annex-B, starting with 00 00 00 01
    std::uint32_t outputCapacity;  // 16: bytes available at `output`
    std::uint32_t width;           // 20: decoded width, filled in by the decoder
    std::uint32_t height;          // 24: decoded height, filled in by the decoder
    std::uint32_t reserved0;       // 28
    std::uint8_t* output;          // 32: 24-bit BGR pixels, rows top-down, width * 3 apart
    std::uint8_t reserved[16];     // 40
};
static_assert(sizeof(DecodeFrameParams) == 56, "decode parameters are 56 bytes");
static_assert(offsetof(DecodeFrameParams, output) == 32, "output address at 32");

extern "C" {
// A new decoder instance; 0 when none could be made.
VIDCORE_EXPORT std::uint32_t CODECAPI_DecodeInit(std::uint32_t a, std::uint32_t b, std::uint32_t c);
// Decodes one frame and writes its picture. Non-zero on success (width and
// height filled in); 0 when the frame does not decode or its picture is larger
// than outputCapacity (nothing is written then). No reordering delay: the
// picture of this frame comes out of this call.
VIDCORE_EXPORT int CODECAPI_DecodeFrameVideo(std::uint32_t handle, DecodeFrameParams* params);
// Clears decoding state so that the next frame (a key frame) decodes on its own.
VIDCORE_EXPORT void CODECAPI_DecodeMemClear(std::uint32_t handle);
VIDCORE_EXPORT void CODECAPI_DecodeReset(std::uint32_t handle);
VIDCORE_EXPORT void CODECAPI_DecodeUninit(std::uint32_t handle);
}
