// The display library's entry points; the work is in display_surface.cpp.

#include "media/viewcore.h"

#include "outside/viewcore/display_surface.h"
#include "outside/viewcore/viewcore_debug.h"

using viewcore::Surface;

HWND DPMGAPI_CreateDisplay(HWND parent, const DisplayRect* rect, std::uint32_t /*option*/) {
    return Surface::Instance().Create(parent, rect);
}

void DPMGAPI_SetDrawOSD(std::uint32_t flags) {
    Surface::Instance().SetOsdFlags(flags);
}

void DPMGAPI_SetDivision(std::uint32_t layout, std::uint32_t first) {
    Surface::Instance().SetPendingLayout(viewcore::Layout{false, layout, first});
}

void DPMGAPI_SetDivisionPIP(std::uint32_t mainChannel, std::uint32_t subChannel) {
    Surface::Instance().SetPendingLayout(viewcore::Layout{true, mainChannel, subChannel});
}

void DPMGAPI_SetMargin(std::uint32_t left, std::uint32_t top, std::uint32_t right,
                       std::uint32_t bottom) {
    Surface::Instance().SetPendingMargins(viewcore::Margins{left, top, right, bottom});
}

void DPMGAPI_SetTime(std::uint32_t year, std::uint32_t month, std::uint32_t day, std::uint32_t hour,
                     std::uint32_t minute, std::uint32_t second) {
    Surface::Instance().SetPendingClock(
        viewcore::Clock{true, year, month, day, hour, minute, second});
}

void DPMGAPI_SetCameraTitle(std::uint32_t channel, const std::uint8_t* title) {
    Surface::Instance().SetTitle(channel, title);
}

void DPMGAPI_DisplayVideoData(std::uint32_t width, std::uint32_t height, const std::uint8_t* bgr) {
    Surface::Instance().TakePicture(width, height, bgr);
}

void DPMGAPI_DisplayClear() {
    Surface::Instance().Clear();
}

void DPMGAPI_DestroyDisplay() {
    Surface::Instance().Destroy();
}

int DPMGAPI_DebugFramesShown() {
    return Surface::Instance().PicturesAccepted();
}

QImage ViewcoreDebugRenderSurface() {
    return Surface::Instance().Render();
}
