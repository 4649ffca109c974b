#pragma once
// Test hooks of the display library. Not part of what the client calls.

#include <QImage>

#include "media/viewcore.h"

extern "C" {
// Pictures accepted by DPMGAPI_DisplayVideoData since the process started
// (refused ones and those given without a surface do not count).
VIEWCORE_EXPORT int DPMGAPI_DebugFramesShown();
}

// The surface as it paints now, through its real paint path; a null image
// when there is no surface. Window thread only.
VIEWCORE_EXPORT QImage ViewcoreDebugRenderSurface();
