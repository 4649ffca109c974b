// Vidcore on libavcodec's H.264 decoder and libswscale.
//
// Each instance is a decoder context set up for no delay (every frame's
// picture comes out of the call that fed it) and a cached conversion to
// 24-bit BGR that writes straight into the caller's buffer.
//
// Instances live in a small table. A handle is the slot number plus one,
// plus a multiple of the table size that counts how often the slot has been
// reused, so a handle kept after its Uninit never reaches a later instance in
// the same slot. Calls on an instance are serialised by the instance's own
// lock; the table lock is only held to look a handle up.

#include "media/vidcore.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Limits that keep damaged input from costing absurd amounts: no single
// frame beyond 16 MiB (the client's payload buffer is 1 MiB), no picture
// larger than 4096 x 2304 (a damaged SPS could otherwise ask the decoder
// for gigabytes of reference pictures).
constexpr std::uint32_t kMaxInputBytes = 16u << 20;
constexpr std::int64_t kMaxPixels = 4096 * 2304;
// A well-formed frame yields one picture. Damaged data glued together can
// yield a few; the last one is the picture of this call.
constexpr int kMaxPicturesPerCall = 8;
// Frame threads would hold pictures back, so at most slice threads. Those
// only help where the loop filter stops at slice edges, which encoders rarely
// choose (libavcodec then decodes the slices one after the other), and
// most recorders send a single slice per picture anyway: measured with two
// threads on one- and four-slice streams, no gain. One thread.
constexpr int kSliceThreads = 1;
// Scaler flags of the YUV to BGR conversion. Same-size conversion only
// upsamples chroma; bilinear is what a plain decode-and-convert uses, and it
// keeps libswscale's SIMD YUV-to-RGB routines (accurate rounding would
// switch them off and cost three times as much).
constexpr int kSwsFlags = SWS_BILINEAR;
// Those SIMD routines work in blocks of 16 pixels. For other widths they
// write up to a block past the end of a row (past the end of the picture
// on the last row) or leave a row's last pixels unconverted. Such pictures
// go through a scratch picture whose rows are padded to whole blocks, with
// some slack behind, and are copied out row by row.
constexpr int kSimdBlockPixels = 16;
constexpr std::size_t kScratchSlackBytes = 256;
constexpr int kSlots = 64;

class Decoder {
public:
    Decoder() = default;
    ~Decoder() {
        sws_freeContext(m_toBgr);
        av_frame_free(&m_picture);
        av_frame_free(&m_received);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_context);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    bool Open() {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        if (!codec)
            return false;
        m_context = avcodec_alloc_context3(codec);
        m_packet = av_packet_alloc();
        m_picture = av_frame_alloc();
        m_received = av_frame_alloc();
        if (!m_context || !m_packet || !m_picture || !m_received)
            return false;
        // No reordering delay: the client shows each picture as its frame
        // arrives; the recorders send no B-frames.
        m_context->flags |= AV_CODEC_FLAG_LOW_DELAY;
        // Show every picture, also one decoded before the decoder has seen an
        // IDR. The client clears the decoder before each key frame; a
        // recorder whose key frames are plain I pictures would otherwise
        // never get a picture out.
        m_context->flags2 |= AV_CODEC_FLAG2_SHOW_ALL;
        m_context->thread_type = FF_THREAD_SLICE;
        m_context->thread_count = kSliceThreads;
        m_context->max_pixels = kMaxPixels;
        return avcodec_open2(m_context, codec, nullptr) >= 0;
    }

    int DecodeFrame(DecodeFrameParams* p) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!p->input || p->inputLength == 0 || p->inputLength > kMaxInputBytes || !p->output) {
            // An empty packet would tell the decoder that the stream ended.
            return 0;
        }
        // A packet without a buffer of its own: libavcodec copies it into a
        // padded buffer, which its bitstream readers need anyway.
        m_packet->data = const_cast<std::uint8_t*>(p->input);
        m_packet->size = static_cast<int>(p->inputLength);
        const int sent = avcodec_send_packet(m_context, m_packet);
        m_packet->data = nullptr;
        m_packet->size = 0;

        // Always collect whatever the decoder has, so that no picture is
        // left over to come out of the next call.
        bool havePicture = false;
        for (int i = 0; i < kMaxPicturesPerCall; ++i) {
            if (avcodec_receive_frame(m_context, m_received) < 0)
                break;
            av_frame_unref(m_picture);
            av_frame_move_ref(m_picture, m_received);
            havePicture = true;
        }
        if (sent < 0 || !havePicture) {
            av_frame_unref(m_picture);
            return 0;
        }
        const int result = WritePicture(p);
        av_frame_unref(m_picture);
        return result;
    }

    // The next frame decodes on its own; parameter sets seen so far stay known.
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        avcodec_flush_buffers(m_context);
    }

    void Reset() {
        std::lock_guard<std::mutex> lock(m_mutex);
        avcodec_flush_buffers(m_context);
        sws_freeContext(m_toBgr);
        m_toBgr = nullptr;
        m_scratch.clear();
        m_scratch.shrink_to_fit();
    }

private:
    int WritePicture(DecodeFrameParams* p) {
        const int width = m_picture->width;
        const int height = m_picture->height;
        if (width <= 0 || height <= 0)
            return 0;
        const std::uint64_t bytes = std::uint64_t(width) * std::uint64_t(height) * 3u;
        if (bytes > p->outputCapacity)
            return 0;
        // Returns the cached context untouched while size and format stay the
        // same; nothing is allocated per picture after the first.
        m_toBgr = sws_getCachedContext(m_toBgr, width, height,
                                       static_cast<AVPixelFormat>(m_picture->format), width, height,
                                       AV_PIX_FMT_BGR24, kSwsFlags, nullptr, nullptr, nullptr);
        if (!m_toBgr)
            return 0;
        const std::size_t rowBytes = std::size_t(width) * 3;
        if (width % kSimdBlockPixels == 0) {
            std::uint8_t* const dst[4] = {p->output, nullptr, nullptr, nullptr};
            const int dstStride[4] = {width * 3, 0, 0, 0};
            if (sws_scale(m_toBgr, m_picture->data, m_picture->linesize, 0, height, dst,
                          dstStride) != height) {
                return 0;
            }
        } else {
            const int paddedWidth =
                (width + kSimdBlockPixels - 1) / kSimdBlockPixels * kSimdBlockPixels;
            const std::size_t paddedRowBytes = std::size_t(paddedWidth) * 3;
            // Grows once per larger picture size, then stays.
            const std::size_t scratchBytes = paddedRowBytes * height + kScratchSlackBytes;
            if (m_scratch.size() < scratchBytes)
                m_scratch.resize(scratchBytes);
            std::uint8_t* const dst[4] = {m_scratch.data(), nullptr, nullptr, nullptr};
            const int dstStride[4] = {paddedWidth * 3, 0, 0, 0};
            if (sws_scale(m_toBgr, m_picture->data, m_picture->linesize, 0, height, dst,
                          dstStride) != height) {
                return 0;
            }
            for (int y = 0; y < height; ++y) {
                std::memcpy(p->output + y * rowBytes, m_scratch.data() + y * paddedRowBytes,
                            rowBytes);
            }
        }
        p->width = static_cast<std::uint32_t>(width);
        p->height = static_cast<std::uint32_t>(height);
        return 1;
    }

    std::mutex m_mutex;  // one call at a time; guards everything below
    AVCodecContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_picture = nullptr;   // the picture of the current call
    AVFrame* m_received = nullptr;  // target of avcodec_receive_frame
    SwsContext* m_toBgr = nullptr;
    std::vector<std::uint8_t> m_scratch;  // pictures whose width is no whole SIMD block
};

struct Slot {
    std::shared_ptr<Decoder> decoder;
    std::uint32_t reuse = 0;  // times this slot has been handed out and ended
};

struct Table {
    std::mutex mutex;  // guards slots
    std::array<Slot, kSlots> slots;
};

// Never destroyed: a host may end an instance from a static destructor of
// its own, after ours would have run.
Table& table() {
    static Table* t = new Table;
    return *t;
}

constexpr std::uint32_t kMaxReuse = (0xFFFFFFFFu - kSlots) / kSlots;

std::uint32_t MakeHandle(int index, std::uint32_t reuse) {
    return reuse * kSlots + static_cast<std::uint32_t>(index) + 1;
}

// The slot a handle names, or -1. Table lock held by the caller.
int SlotOfLocked(const Table& t, std::uint32_t handle) {
    if (handle == 0)
        return -1;
    const int index = static_cast<int>((handle - 1) % kSlots);
    const std::uint32_t reuse = (handle - 1) / kSlots;
    const Slot& slot = t.slots[index];
    if (!slot.decoder || slot.reuse != reuse)
        return -1;
    return index;
}

std::shared_ptr<Decoder> Find(std::uint32_t handle) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const int index = SlotOfLocked(t, handle);
    return index < 0 ? nullptr : t.slots[index].decoder;
}

// libavcodec reports every damaged macroblock on stderr. A decoder library
// of the client keeps quiet about damaged input (the client shows its own
// status), so unless the host has chosen a log level itself, only fatal
// messages remain.
void QuietLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() == AV_LOG_INFO)
            av_log_set_level(AV_LOG_FATAL);
    });
}

}  // namespace

extern "C" {

VIDCORE_EXPORT std::uint32_t CODECAPI_DecodeInit(std::uint32_t, std::uint32_t, std::uint32_t) {
    QuietLibraryLog();
    auto decoder = std::make_shared<Decoder>();
    if (!decoder->Open())
        return 0;
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (int i = 0; i < kSlots; ++i) {
        Slot& slot = t.slots[i];
        if (slot.decoder)
            continue;
        slot.decoder = std::move(decoder);
        return MakeHandle(i, slot.reuse);
    }
    return 0;
}

VIDCORE_EXPORT int CODECAPI_DecodeFrameVideo(std::uint32_t handle, DecodeFrameParams* params) {
    if (!params)
        return 0;
    const std::shared_ptr<Decoder> decoder = Find(handle);
    return decoder ? decoder->DecodeFrame(params) : 0;
}

VIDCORE_EXPORT void CODECAPI_DecodeMemClear(std::uint32_t handle) {
    if (const std::shared_ptr<Decoder> decoder = Find(handle))
        decoder->Clear();
}

VIDCORE_EXPORT void CODECAPI_DecodeReset(std::uint32_t handle) {
    if (const std::shared_ptr<Decoder> decoder = Find(handle))
        decoder->Reset();
}

VIDCORE_EXPORT void CODECAPI_DecodeUninit(std::uint32_t handle) {
    std::shared_ptr<Decoder> ended;
    {
        Table& t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        const int index = SlotOfLocked(t, handle);
        if (index < 0)
            return;
        Slot& slot = t.slots[index];
        ended = std::move(slot.decoder);
        slot.decoder.reset();
        slot.reuse = slot.reuse >= kMaxReuse ? 0 : slot.reuse + 1;
    }
    // Freed here, outside the table lock, or by a call still running on
    // another thread when that call returns.
}

}  // extern "C"
