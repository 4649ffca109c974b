#include "recorder/h264_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cstring>

namespace recorder {

namespace {

constexpr int kMaxSide = 4096;
constexpr int kMaxFps = 240;

void SetError(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
}

std::string AvErrorText(const char* what, int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return std::string(what) + ": " + buf;
}

}  // namespace

H264Encoder::~H264Encoder() {
    Close();
}

bool H264Encoder::Open(const Settings& s, std::string* error) {
    Close();
    // 4:2:0 needs even sides; the lower bound keeps x264 well inside its limits.
    if (s.width < 16 || s.height < 16 || s.width > kMaxSide || s.height > kMaxSide ||
        s.width % 2 != 0 || s.height % 2 != 0) {
        SetError(error, "picture size must be even and between 16 and 4096");
        return false;
    }
    if (s.fps < 1 || s.fps > kMaxFps) {
        SetError(error, "frame rate must be between 1 and 240");
        return false;
    }
    if (s.gop < 1) {
        SetError(error, "key frame interval must be at least 1");
        return false;
    }

    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        SetError(error, "libavcodec has no libx264 encoder");
        return false;
    }
    m_context = avcodec_alloc_context3(codec);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_context || !m_frame || !m_packet) {
        SetError(error, "out of memory");
        Close();
        return false;
    }

    AVCodecContext* c = m_context;
    c->width = s.width;
    c->height = s.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, s.fps};
    c->framerate = AVRational{s.fps, 1};
    c->gop_size = s.gop;
    c->max_b_frames = 0;  // decode order = display order: no reordering delay
    c->bit_rate = 0;  // constant quality (crf below) rather than libavcodec's 200 kbit/s default
    // One thread: a single slice per picture and the same bytes on every
    // machine, so samples and test streams are reproducible. veryfast keeps
    // CABAC and the loop filter, like the streams of real recorders, and still
    // encodes 720x480 many times faster than real time.
    c->thread_count = 1;
    // No AV_CODEC_FLAG_GLOBAL_HEADER: the encoder then repeats SPS and PPS
    // in front of every key frame, which the client relies on.
    av_opt_set(c->priv_data, "preset", "veryfast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    av_opt_set(c->priv_data, "crf", "23", 0);
    // Forced key frames are IDRs, not mere I pictures.
    av_opt_set(c->priv_data, "forced-idr", "1", 0);
    // Key frames exactly every gop pictures (no scene-cut IDRs), headers
    // before each, and only the encoder's errors in the log.
    av_opt_set(c->priv_data, "x264-params", "scenecut=0:repeat-headers=1:log=0", 0);

    int rc = avcodec_open2(c, codec, nullptr);
    if (rc < 0) {
        SetError(error, AvErrorText("cannot open libx264", rc));
        Close();
        return false;
    }

    m_frame->format = AV_PIX_FMT_YUV420P;
    m_frame->width = s.width;
    m_frame->height = s.height;
    rc = av_frame_get_buffer(m_frame, 0);
    if (rc < 0) {
        SetError(error, AvErrorText("cannot allocate picture", rc));
        Close();
        return false;
    }
    m_toYuv = sws_getContext(s.width, s.height, AV_PIX_FMT_BGR24, s.width, s.height,
                             AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_toYuv) {
        SetError(error, "cannot set up colour conversion");
        Close();
        return false;
    }
    m_settings = s;
    m_nextPts = 0;
    m_forceKey = false;
    return true;
}

bool H264Encoder::Encode(const std::uint8_t* bgr, std::vector<std::uint8_t>* out, bool* keyFrame) {
    if (out)
        out->clear();
    if (keyFrame)
        *keyFrame = false;
    if (!m_context || !bgr || !out)
        return false;

    // The codec drops its reference to the picture once the packet is out, so
    // this only copies when something unexpected still holds the buffer.
    if (av_frame_make_writable(m_frame) < 0)
        return false;
    const std::uint8_t* const src[1] = {bgr};
    const int srcStride[1] = {m_settings.width * 3};
    sws_scale(m_toYuv, src, srcStride, 0, m_settings.height, m_frame->data, m_frame->linesize);
    m_frame->pts = m_nextPts++;
    m_frame->pict_type = m_forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    m_forceKey = false;

    if (avcodec_send_frame(m_context, m_frame) < 0)
        return false;
    // With zerolatency and no B-frames the packet of this picture is ready now;
    // anything else would break the one-in, one-out contract.
    if (avcodec_receive_packet(m_context, m_packet) < 0)
        return false;

    const std::uint8_t* data = m_packet->data;
    const std::size_t size = static_cast<std::size_t>(m_packet->size);
    // Consumers look for a four-byte start code at the front; widen a
    // three-byte one.
    static constexpr std::uint8_t kStartCode[4] = {0, 0, 0, 1};
    if (size >= 4 && std::memcmp(data, kStartCode, 4) == 0) {
        out->assign(data, data + size);
    } else if (size >= 3 && std::memcmp(data, kStartCode + 1, 3) == 0) {
        out->assign(1, 0);
        out->insert(out->end(), data, data + size);
    } else {
        // Not Annex-B at all: nothing a client could use.
        av_packet_unref(m_packet);
        return false;
    }
    if (keyFrame)
        *keyFrame = (m_packet->flags & AV_PKT_FLAG_KEY) != 0;
    av_packet_unref(m_packet);
    return true;
}

void H264Encoder::ForceKeyFrame() {
    m_forceKey = true;
}

void H264Encoder::Close() {
    sws_freeContext(m_toYuv);
    m_toYuv = nullptr;
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    avcodec_free_context(&m_context);
    m_nextPts = 0;
    m_forceKey = false;
}

}  // namespace recorder
