// sample mode: writes an H.264 test stream made by the simulator's encoder
// from the moving test scene, so that anyone can make the benchmark input.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_modes.h"
#include "bench/synthetic_video.h"
#include "recorder/h264_encoder.h"

namespace bench {

namespace {

bool ParseInt(const char* text, int* value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 0 || v > 1000000)
        return false;
    *value = static_cast<int>(v);
    return true;
}

bool ParseSize(const char* text, int* width, int* height) {
    const char* x = std::strchr(text, 'x');
    if (!x)
        return false;
    const std::string w(text, x);
    return ParseInt(w.c_str(), width) && ParseInt(x + 1, height);
}

}  // namespace

int RunSample(int argc, char** argv) {
    const char* outPath = nullptr;
    int frames = 300;
    recorder::H264Encoder::Settings settings;
    for (int i = 0; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        bool ok = true;
        if (std::strcmp(argv[i], "--frames") == 0 && hasValue) {
            ok = ParseInt(argv[++i], &frames) && frames > 0;
        } else if (std::strcmp(argv[i], "--size") == 0 && hasValue) {
            ok = ParseSize(argv[++i], &settings.width, &settings.height);
        } else if (std::strcmp(argv[i], "--fps") == 0 && hasValue) {
            ok = ParseInt(argv[++i], &settings.fps);
        } else if (std::strcmp(argv[i], "--gop") == 0 && hasValue) {
            ok = ParseInt(argv[++i], &settings.gop);
        } else if (argv[i][0] != '-' && !outPath) {
            outPath = argv[i];
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "sample: bad argument '%s'\n", argv[i]);
            return 2;
        }
    }
    if (!outPath) {
        std::fprintf(stderr, "sample: no output file\n");
        return 2;
    }

    recorder::H264Encoder encoder;
    std::string error;
    if (!encoder.Open(settings, &error)) {
        std::fprintf(stderr, "sample: %s\n", error.c_str());
        return 1;
    }
    std::FILE* out = std::fopen(outPath, "wb");
    if (!out) {
        std::fprintf(stderr, "sample: cannot write %s\n", outPath);
        return 1;
    }
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(settings.width) * settings.height *
                                      3);
    std::vector<std::uint8_t> unit;
    std::size_t bytes = 0;
    int keyFrames = 0;
    for (int n = 0; n < frames; ++n) {
        DrawTestPicture(settings.width, settings.height, n, picture.data());
        bool key = false;
        if (!encoder.Encode(picture.data(), &unit, &key) ||
            std::fwrite(unit.data(), 1, unit.size(), out) != unit.size()) {
            std::fprintf(stderr, "sample: frame %d failed\n", n);
            std::fclose(out);
            return 1;
        }
        bytes += unit.size();
        keyFrames += key ? 1 : 0;
    }
    if (std::fclose(out) != 0) {
        std::fprintf(stderr, "sample: cannot write %s\n", outPath);
        return 1;
    }
    std::printf("%s: %d frames %dx%d at %d fps, %d key frames, %zu bytes (%.0f kbit/s)\n", outPath,
                frames, settings.width, settings.height, settings.fps, keyFrames, bytes,
                bytes * 8.0 * settings.fps / frames / 1000.0);
    return 0;
}

}  // namespace bench
