#include "media/media_devices.h"

namespace {

class Vidcore final : public VideoDecoder {
public:
    std::uint32_t Init() override { return CODECAPI_DecodeInit(0, 0, 1); }
    int Decode(std::uint32_t h, DecodeFrameParams* p) override { return CODECAPI_DecodeFrameVideo(h, p); }
    void MemClear(std::uint32_t h) override { CODECAPI_DecodeMemClear(h); }
    void Reset(std::uint32_t h) override { CODECAPI_DecodeReset(h); }
    void Uninit(std::uint32_t h) override { CODECAPI_DecodeUninit(h); }
};

class Viewcore final : public DisplaySink {
public:
    void SetDivision(std::uint32_t layout, std::uint32_t first) override {
        DPMGAPI_SetDivision(layout, first);
    }
    void SetDivisionPip(std::uint32_t m, std::uint32_t s) override { DPMGAPI_SetDivisionPIP(m, s); }
    void SetMargin(std::uint32_t l, std::uint32_t t, std::uint32_t r, std::uint32_t b) override {
        DPMGAPI_SetMargin(l, t, r, b);
    }
    void SetTime(std::uint32_t y, std::uint32_t mo, std::uint32_t d, std::uint32_t h,
                 std::uint32_t mi, std::uint32_t s) override {
        DPMGAPI_SetTime(y, mo, d, h, mi, s);
    }
    void Show(std::uint32_t w, std::uint32_t h, const std::uint8_t* bgr, std::uint32_t) override {
        DPMGAPI_DisplayVideoData(w, h, bgr);
    }
};

}  // namespace

VideoDecoder& VidcoreDecoder() {
    static Vidcore decoder;
    return decoder;
}

DisplaySink& ViewcoreSink() {
    static Viewcore sink;
    return sink;
}
