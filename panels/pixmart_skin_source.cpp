#include "panels/skin_source.h"

namespace {

// Straight through to the skin library; its results are not checked (an id
// it does not hold gives an empty rectangle and null pictures).
class PixmartSkinSource final : public SkinSource {
public:
    void GetResourceRect(int id, SkinRect* rect) override { BLDAPI_GetResourceRect(id, rect); }
    void GetButtonBitmaps(int id, HBITMAP* normal, HBITMAP* hover, HBITMAP* pressed,
                          HBITMAP* disabled) override {
        BLDAPI_GetBtnResourceBitmapHandle(id, normal, hover, pressed, disabled);
    }
    HBITMAP GetBackgroundBitmap(int id) override { return BLDAPI_GetResourceBitmapHandle(id); }
    void ReleaseBitmap(HBITMAP bitmap) override { BLDAPI_ReleaseBitmap(bitmap); }
};

}  // namespace

SkinSource& PixmartSkin() {
    static PixmartSkinSource source;
    return source;
}
