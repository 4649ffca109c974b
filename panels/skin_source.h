#pragma once
// Where skinned windows get their rectangles and pictures from. The client
// uses Pixmart (PixmartSkin()); tests hand in their own pictures.
//
// Window thread only, like the skin library itself.

#include "panels/pixmart.h"

class SkinSource {
public:
    virtual ~SkinSource() = default;
    // The rectangle of the id in its owner's client coordinates; empty when unknown.
    virtual void GetResourceRect(int id, SkinRect* rect) = 0;
    // The four looks of a button (normal, hover, pressed, disabled), each
    // possibly null. The caller owns them and gives each distinct one back
    // once through ReleaseBitmap.
    virtual void GetButtonBitmaps(int id, HBITMAP* normal, HBITMAP* hover, HBITMAP* pressed,
                                  HBITMAP* disabled) = 0;
    // A background picture, borrowed: never released by the caller. May be null.
    virtual HBITMAP GetBackgroundBitmap(int id) = 0;
    virtual void ReleaseBitmap(HBITMAP bitmap) = 0;
};

// The skin library of the client (BLDAPI_*). One per process.
SkinSource& PixmartSkin();
