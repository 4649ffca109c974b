#pragma once
// H.264 encoder of the recorder simulator: 24-bit BGR pictures in, one Annex-B
// access unit out per picture, with no delay (no B-frames, no look-ahead).
// Every key frame is an IDR preceded by SPS and PPS, so a client can join the
// stream at any key frame.
//
// One thread at a time per instance. No allocation per picture in steady
// state apart from what the codec library does inside.

#include <cstdint>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace recorder {

class H264Encoder {
public:
    struct Settings {
        int width = 720;   // even, 16 ... 4096
        int height = 480;  // even, 16 ... 4096
        int fps = 30;      // 1 ... 240
        int gop = 30;      // pictures from one key frame to the next, >= 1
    };

    H264Encoder() = default;
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    // Opens the encoder (closing a previous one). False with a reason in
    // *error (when error is not null) for bad settings or a codec failure.
    bool Open(const Settings& s, std::string* error);

    // Encodes one picture: width * height pixels of 3 bytes (blue, green, red),
    // rows top-down, width * 3 bytes apart. On success *out holds exactly one
    // access unit starting with 00 00 00 01 (its capacity is reused) and
    // *keyFrame (when not null) says whether it is an IDR picture. False when
    // the encoder is not open or the codec fails; *out is then empty.
    bool Encode(const std::uint8_t* bgr, std::vector<std::uint8_t>* out, bool* keyFrame);

    // The next picture is encoded as an IDR; the key frame interval counts
    // from there.
    void ForceKeyFrame();

    void Close();

    bool isOpen() const { return m_context != nullptr; }
    const Settings& settings() const { return m_settings; }

private:
    Settings m_settings;
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_toYuv = nullptr;
    std::int64_t m_nextPts = 0;
    bool m_forceKey = false;
};

}  // namespace recorder
