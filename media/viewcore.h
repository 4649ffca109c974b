#pragma once
// Viewcore: the display library. One display surface per process, a widget
// inside the given parent window, showing the recorder's pictures with the
// on-screen text (camera titles in their cells, the clock in a corner).
//
// Threads: CreateDisplay, DestroyDisplay, DisplayClear and SetCameraTitle on
// the parent window's thread; the other calls from one worker thread.
// DisplayVideoData copies the picture into the surface's own buffer and has
// the window thread paint it; nothing is painted from the worker.
//
// The layout values follow media/screen_layout.h. Margins are picture pixels
// cut from the left, top, right and bottom edges before the rest is scaled to
// the surface.

#include <cstdint>

#include "platform/wintypes.h"

#if defined(VIEWCORE_BUILD)
#define VIEWCORE_EXPORT __attribute__((visibility("default")))
#else
#define VIEWCORE_EXPORT
#endif

struct DisplayRect {
    std::int32_t left, top, right, bottom;
};

// Option word of DPMGAPI_CreateDisplay.
enum : std::uint32_t {
    kDisplayOptionNone = 0,
};

// DPMGAPI_SetDrawOSD flags.
enum : std::uint32_t {
    kOsdTime = 1,
    kOsdTitles = 2,
};

extern "C" {
VIEWCORE_EXPORT HWND DPMGAPI_CreateDisplay(HWND parent, const DisplayRect* rect, std::uint32_t option);
VIEWCORE_EXPORT void DPMGAPI_SetDrawOSD(std::uint32_t flags);
VIEWCORE_EXPORT void DPMGAPI_SetDivision(std::uint32_t layout, std::uint32_t first);
VIEWCORE_EXPORT void DPMGAPI_SetDivisionPIP(std::uint32_t mainChannel, std::uint32_t subChannel);
VIEWCORE_EXPORT void DPMGAPI_SetMargin(std::uint32_t left, std::uint32_t top, std::uint32_t right,
                                       std::uint32_t bottom);
VIEWCORE_EXPORT void DPMGAPI_SetTime(std::uint32_t year, std::uint32_t month, std::uint32_t day,
                                     std::uint32_t hour, std::uint32_t minute, std::uint32_t second);
// title: 8-bit text in the legacy code page, at most 28 bytes, NUL-terminated
// when shorter. channel: 0-based.
VIEWCORE_EXPORT void DPMGAPI_SetCameraTitle(std::uint32_t channel, const std::uint8_t* title);
VIEWCORE_EXPORT void DPMGAPI_DisplayVideoData(std::uint32_t width, std::uint32_t height,
                                              const std::uint8_t* bgr);
VIEWCORE_EXPORT void DPMGAPI_DisplayClear();
VIEWCORE_EXPORT void DPMGAPI_DestroyDisplay();
}
