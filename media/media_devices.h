#pragma once
// The two media libraries as the pipeline uses them, behind small interfaces
// so that the decode and display steps can be watched in tests. The real ones
// call Vidcore and Viewcore.

#include <cstdint>

#include "media/vidcore.h"
#include "media/viewcore.h"

class VideoDecoder {
public:
    virtual ~VideoDecoder() = default;
    virtual std::uint32_t Init() = 0;
    virtual int Decode(std::uint32_t handle, DecodeFrameParams* params) = 0;
    virtual void MemClear(std::uint32_t handle) = 0;
    virtual void Reset(std::uint32_t handle) = 0;
    virtual void Uninit(std::uint32_t handle) = 0;
};

// Display calls made by the display worker.
class DisplaySink {
public:
    virtual ~DisplaySink() = default;
    virtual void SetDivision(std::uint32_t layout, std::uint32_t first) = 0;
    virtual void SetDivisionPip(std::uint32_t mainChannel, std::uint32_t subChannel) = 0;
    virtual void SetMargin(std::uint32_t l, std::uint32_t t, std::uint32_t r, std::uint32_t b) = 0;
    virtual void SetTime(std::uint32_t year, std::uint32_t month, std::uint32_t day,
                         std::uint32_t hour, std::uint32_t minute, std::uint32_t second) = 0;
    // timeStampMs: the picture's presentation time stamp (not drawn).
    virtual void Show(std::uint32_t width, std::uint32_t height, const std::uint8_t* bgr,
                      std::uint32_t timeStampMs) = 0;
};

VideoDecoder& VidcoreDecoder();
DisplaySink& ViewcoreSink();
