#pragma once
// Pixmart: the client's skin library. Rectangles and pictures by numeric
// resource id, from a skin pack loaded by BLDAPI_Initialize.
//
// All calls belong to the thread that owns the client's windows.

#include <QImage>
#include <cstdint>

#if defined(PIXMART_BUILD)
#define PIXMART_EXPORT __attribute__((visibility("default")))
#else
#define PIXMART_EXPORT
#endif

struct SkinRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// A picture. Handles from BLDAPI_GetBtnResourceBitmapHandle belong to the
// caller, who gives each back once with BLDAPI_ReleaseBitmap; handles from
// BLDAPI_GetResourceBitmapHandle are borrowed and stay valid until
// BLDAPI_UnInitialize.
using HBITMAP = QImage*;

// Error numbers of BLDAPI_Initialize.
enum : int {
    kSkinOk = 0,
    kSkinPackMissing = 2,   // no such file
    kSkinPackDamaged = 13,  // not a skin pack, or cut short
};

extern "C" {
// Loads the skin pack `resourceLibrary` (a file name, looked up beside the
// client library, or in $QVELNOR_SKIN_DIR when set; an absolute path is
// taken as it is). mode: 1. Returns 0 or an error number.
PIXMART_EXPORT int BLDAPI_Initialize(const char* resourceLibrary, int mode);
PIXMART_EXPORT void BLDAPI_UnInitialize();
// Fills *rect for the id; an id the pack does not hold gives an empty
// rectangle (0, 0, 0, 0) and 0, else 1.
PIXMART_EXPORT int BLDAPI_GetResourceRect(int id, SkinRect* rect);
// The background picture of the id, borrowed; null when the pack has none.
PIXMART_EXPORT HBITMAP BLDAPI_GetResourceBitmapHandle(int id);
// The four looks of a button: normal, hover, pressed, disabled; each may be
// null. Returns 1 when the pack holds the button, else 0 (all four null).
PIXMART_EXPORT int BLDAPI_GetBtnResourceBitmapHandle(int id, HBITMAP* normal, HBITMAP* hover,
                                                     HBITMAP* pressed, HBITMAP* disabled);
PIXMART_EXPORT void BLDAPI_ReleaseBitmap(HBITMAP bitmap);
}
