// qvelnor-bench <mode> args...: the project's benchmarks, one mode each.

#include <cstdio>
#include <cstring>

#include "bench/bench_modes.h"

namespace {

struct Mode {
    const char* name;
    const char* usage;
    int (*run)(int argc, char** argv);
};

constexpr Mode kModes[] = {
    {"decode", "decode FILE.h264 [--passes N]", bench::RunDecode},
    {"sample", "sample OUT.h264 [--frames N] [--size WxH] [--fps F] [--gop G]", bench::RunSample},
    {"deinterlace", "deinterlace [--seconds S]", bench::RunDeinterlace},
    {"pipeline", "pipeline --views N --seconds S [--fps F] [--size WxH]", bench::RunPipeline},
    {"pipeline-client", "pipeline-client --port P   (started by pipeline)", bench::RunPipelineClient},
};

int Usage() {
    std::fprintf(stderr, "usage:\n");
    for (const Mode& m : kModes)
        std::fprintf(stderr, "  qvelnor-bench %s\n", m.usage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    for (const Mode& m : kModes) {
        if (std::strcmp(argv[1], m.name) == 0)
            return m.run(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "unknown mode '%s'\n", argv[1]);
    return Usage();
}
