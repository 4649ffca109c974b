// decode mode: how fast Vidcore turns a recorded stream into BGR pictures,
// against plain libavcodec decoding with a libswscale conversion to BGR24 of
// the same stream in the same run.
//
// Vidcore is driven the way the client drives it: one access unit per call,
// MemClear in front of every key frame, pictures into a 1,296,000-byte
// buffer. The plain decoder gets the same access units with libavcodec's
// default settings and converts each picture into a buffer of the same size.
// An untimed first pass checks that both produce the same pictures, so that
// both timings are for the same work. The timed passes alternate between the
// two, key frame interval by key frame interval, so that load on the machine
// hits both alike; the ratio printed last is the median over the passes of
// ours / plain.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/crc.h>
#include <libswscale/swscale.h>
}

#include "bench/annexb.h"
#include "bench/bench_modes.h"
#include "media/vidcore.h"

namespace bench {

namespace {

constexpr std::uint32_t kOutputCapacity = 1296000;  // the client's picture slot
constexpr int kDefaultPasses = 5;

std::uint32_t Crc(const std::uint8_t* data, std::size_t size) {
    return av_crc(av_crc_get_table(AV_CRC_32_IEEE), 0, data, size);
}

class OurDecoder {
public:
    OurDecoder() : m_output(kOutputCapacity) {
        m_handle = CODECAPI_DecodeInit(0, 0, 1);
        m_params.size = sizeof(DecodeFrameParams);
    }
    ~OurDecoder() { CODECAPI_DecodeUninit(m_handle); }
    OurDecoder(const OurDecoder&) = delete;
    OurDecoder& operator=(const OurDecoder&) = delete;

    bool ok() const { return m_handle != 0; }

    // True when the unit gave a picture; then its CRC is in *crc if asked.
    bool Decode(const std::uint8_t* stream, const AccessUnit& unit, std::uint32_t* crc) {
        if (unit.idr)
            CODECAPI_DecodeMemClear(m_handle);
        m_params.input = stream + unit.offset;
        m_params.inputLength = static_cast<std::uint32_t>(unit.size);
        m_params.output = m_output.data();
        m_params.outputCapacity = kOutputCapacity;
        if (CODECAPI_DecodeFrameVideo(m_handle, &m_params) == 0)
            return false;
        if (crc)
            *crc = Crc(m_output.data(), std::size_t(m_params.width) * m_params.height * 3);
        return true;
    }

    int width() const { return static_cast<int>(m_params.width); }
    int height() const { return static_cast<int>(m_params.height); }

private:
    std::uint32_t m_handle = 0;
    DecodeFrameParams m_params{};
    std::vector<std::uint8_t> m_output;
};

// What an application that simply decodes H.264 to BGR would write.
class PlainDecoder {
public:
    PlainDecoder() : m_output(kOutputCapacity) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        m_context = codec ? avcodec_alloc_context3(codec) : nullptr;
        m_packet = av_packet_alloc();
        m_frame = av_frame_alloc();
        m_ok = m_context && m_packet && m_frame && avcodec_open2(m_context, codec, nullptr) >= 0;
    }
    ~PlainDecoder() {
        sws_freeContext(m_sws);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_context);
    }
    PlainDecoder(const PlainDecoder&) = delete;
    PlainDecoder& operator=(const PlainDecoder&) = delete;

    bool ok() const { return m_ok; }

    void Restart() { avcodec_flush_buffers(m_context); }

    // Feeds one unit (or, with size 0, the end of the stream) and converts
    // every picture that comes out; their CRCs go to *crcs if asked.
    int Decode(const std::uint8_t* data, std::size_t size, std::vector<std::uint32_t>* crcs) {
        m_packet->data = const_cast<std::uint8_t*>(data);
        m_packet->size = static_cast<int>(size);
        avcodec_send_packet(m_context, size ? m_packet : nullptr);
        m_packet->data = nullptr;
        m_packet->size = 0;
        int pictures = 0;
        while (avcodec_receive_frame(m_context, m_frame) >= 0) {
            const int w = m_frame->width;
            const int h = m_frame->height;
            if (std::size_t(w) * h * 3 <= m_output.size()) {
                m_sws =
                    sws_getCachedContext(m_sws, w, h, AVPixelFormat(m_frame->format), w, h,
                                         AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
                std::uint8_t* const dst[4] = {m_output.data(), nullptr, nullptr, nullptr};
                const int dstStride[4] = {w * 3, 0, 0, 0};
                sws_scale(m_sws, m_frame->data, m_frame->linesize, 0, h, dst, dstStride);
                if (crcs)
                    crcs->push_back(Crc(m_output.data(), std::size_t(w) * h * 3));
                ++pictures;
            }
            av_frame_unref(m_frame);
        }
        return pictures;
    }

private:
    bool m_ok = false;
    AVCodecContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    SwsContext* m_sws = nullptr;
    std::vector<std::uint8_t> m_output;
};

struct Pass {
    int ourPictures = 0;
    int plainPictures = 0;
    double ourSeconds = 0;
    double plainSeconds = 0;
    double ourFps() const { return ourSeconds > 0 ? ourPictures / ourSeconds : 0; }
    double plainFps() const { return plainSeconds > 0 ? plainPictures / plainSeconds : 0; }
};

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One pass over the stream for each decoder. The two take turns key frame
// interval by key frame interval, so that a burst of load on the machine
// falls on both alike; each keeps its own state from turn to turn.
Pass TimePass(OurDecoder& ours, PlainDecoder& plain, const std::vector<std::uint8_t>& stream,
              const std::vector<AccessUnit>& units) {
    Pass pass;
    plain.Restart();
    std::size_t begin = 0;
    while (begin < units.size()) {
        std::size_t end = begin + 1;
        while (end < units.size() && !units[end].idr)
            ++end;

        auto start = Clock::now();
        for (std::size_t i = begin; i < end; ++i) {
            pass.ourPictures += ours.Decode(stream.data(), units[i], nullptr);
        }
        pass.ourSeconds += SecondsSince(start);

        start = Clock::now();
        for (std::size_t i = begin; i < end; ++i) {
            pass.plainPictures +=
                plain.Decode(stream.data() + units[i].offset, units[i].size, nullptr);
        }
        if (end == units.size())
            pass.plainPictures += plain.Decode(nullptr, 0, nullptr);
        pass.plainSeconds += SecondsSince(start);
        begin = end;
    }
    return pass;
}

struct Summary {
    double best = 0;
    double mean = 0;
};

template <typename Fps>
Summary Summarise(const std::vector<Pass>& passes, Fps fps) {
    Summary s;
    for (const Pass& p : passes) {
        s.best = std::max(s.best, fps(p));
        s.mean += fps(p) / passes.size();
    }
    return s;
}

// Median over the passes of ours / plain.
double MedianRatio(const std::vector<Pass>& passes) {
    std::vector<double> ratios;
    for (const Pass& p : passes)
        ratios.push_back(p.plainFps() > 0 ? p.ourFps() / p.plainFps() : 0);
    std::sort(ratios.begin(), ratios.end());
    const std::size_t n = ratios.size();
    return n % 2 ? ratios[n / 2] : (ratios[n / 2 - 1] + ratios[n / 2]) / 2;
}

bool ReadFile(const char* path, std::vector<std::uint8_t>* bytes) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    std::uint8_t buf[1 << 16];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes->insert(bytes->end(), buf, buf + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

}  // namespace

int RunDecode(int argc, char** argv) {
    const char* path = nullptr;
    int passes = kDefaultPasses;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--passes") == 0 && i + 1 < argc) {
            passes = std::atoi(argv[++i]);
            if (passes < 1 || passes > 1000) {
                std::fprintf(stderr, "decode: --passes wants 1 ... 1000\n");
                return 2;
            }
        } else if (argv[i][0] != '-' && !path) {
            path = argv[i];
        } else {
            std::fprintf(stderr, "decode: bad argument '%s'\n", argv[i]);
            return 2;
        }
    }
    if (!path) {
        std::fprintf(stderr, "decode: no input file\n");
        return 2;
    }
    std::vector<std::uint8_t> stream;
    if (!ReadFile(path, &stream)) {
        std::fprintf(stderr, "decode: cannot read %s\n", path);
        return 1;
    }
    const std::vector<AccessUnit> units = SplitAccessUnits(stream.data(), stream.size());
    if (units.empty()) {
        std::fprintf(stderr, "decode: no H.264 access units in %s\n", path);
        return 1;
    }
    const auto keyUnits =
        std::count_if(units.begin(), units.end(), [](const AccessUnit& u) { return u.idr; });

    OurDecoder ours;
    PlainDecoder plain;
    if (!ours.ok() || !plain.ok()) {
        std::fprintf(stderr, "decode: cannot open the decoders\n");
        return 1;
    }

    // Untimed check: every unit gives its picture, and both decoders give
    // the same pictures.
    std::vector<std::uint32_t> ourCrcs;
    std::vector<std::uint32_t> plainCrcs;
    for (const AccessUnit& unit : units) {
        std::uint32_t crc = 0;
        if (ours.Decode(stream.data(), unit, &crc))
            ourCrcs.push_back(crc);
        plain.Decode(stream.data() + unit.offset, unit.size, &plainCrcs);
    }
    plain.Decode(nullptr, 0, &plainCrcs);
    std::printf("stream  %s: %zu access units (%ld key), %dx%d, %zu bytes\n", path, units.size(),
                static_cast<long>(keyUnits), ours.width(), ours.height(), stream.size());
    if (ourCrcs.size() != units.size()) {
        std::fprintf(stderr, "decode: Vidcore gave %zu pictures for %zu access units\n",
                     ourCrcs.size(), units.size());
        return 1;
    }
    if (ourCrcs != plainCrcs) {
        std::fprintf(stderr, "decode: Vidcore and plain libavcodec pictures differ\n");
        return 1;
    }
    std::printf("check   both decoders give the same %zu pictures\n", ourCrcs.size());

    std::vector<Pass> passList;
    for (int p = 0; p < passes; ++p)
        passList.push_back(TimePass(ours, plain, stream, units));
    const Summary our = Summarise(passList, [](const Pass& p) { return p.ourFps(); });
    const Summary ref = Summarise(passList, [](const Pass& p) { return p.plainFps(); });
    std::printf("ours    Vidcore               best %8.1f fps  mean %8.1f fps  (%d passes)\n",
                our.best, our.mean, passes);
    std::printf("plain   libavcodec+swscale    best %8.1f fps  mean %8.1f fps\n", ref.best,
                ref.mean);
    std::printf("ratio %.3f\n", MedianRatio(passList));
    return 0;
}

}  // namespace bench
