// qvelnor-bench pipeline --views N --seconds S [--fps F] [--size WxH]
//
// The whole road of a video frame: the simulated recorder composes, encodes
// and sends; N client processes (the display library serves one surface per
// process) receive, queue, decode, pace and show it. Per frame it measures the
// time from the recorder's send to DPMGAPI_DisplayVideoData returning, against
// the decode time of that frame; it counts frames sent and shown, CPU time per
// shown frame, and allocations on the decode and display threads after the
// first picture.
//
// The client processes are this program again, in the mode pipeline-client;
// they report on standard output when their standard input closes. Times are
// compared on the monotonic clock, which all processes share.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_modes.h"
#include "panels/pixmart.h"
#include "protocol/velnor_client_view.h"
#include "recorder/recorder.h"

extern char** environ;

namespace {

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// --- allocation counting, on the threads the wrappers below mark -------------

// 0: not counted; 1: the decode thread; 2: the display thread.
thread_local int t_mediaThread = 0;
thread_local bool t_inOperatorNew = false;
std::atomic<bool> g_countAllocations{false};
std::atomic<std::uint64_t> g_allocations[3];

void NoteAllocation() {
    if (t_mediaThread != 0 && !t_inOperatorNew &&
        g_countAllocations.load(std::memory_order_relaxed)) {
        g_allocations[t_mediaThread].fetch_add(1, std::memory_order_relaxed);
    }
}

// --- the client process --------------------------------------------------------

struct FrameRecord {
    std::uint32_t timeStampMs;
    std::int64_t shownNs;
    std::int64_t decodeNs;
};

// Times each decode; the decode thread's allocations count.
class TimingDecoder : public VideoDecoder {
public:
    explicit TimingDecoder(VideoDecoder& real) : m_real(real) {}
    std::uint32_t Init() override { return m_real.Init(); }
    int Decode(std::uint32_t h, DecodeFrameParams* p) override {
        t_mediaThread = 1;
        const std::int64_t start = NowNs();
        const int r = m_real.Decode(h, p);
        m_lastDecodeNs.store(NowNs() - start);
        return r;
    }
    void MemClear(std::uint32_t h) override { m_real.MemClear(h); }
    void Reset(std::uint32_t h) override { m_real.Reset(h); }
    void Uninit(std::uint32_t h) override { m_real.Uninit(h); }
    std::int64_t LastDecodeNs() const { return m_lastDecodeNs.load(); }

private:
    VideoDecoder& m_real;
    std::atomic<std::int64_t> m_lastDecodeNs{0};
};

// Records when each picture has been handed to the display; the display
// thread's allocations count from the first picture on.
class TimingSink : public DisplaySink {
public:
    TimingSink(DisplaySink& real, const TimingDecoder& decoder) : m_real(real), m_decoder(decoder) {
        m_frames.reserve(1 << 16);
    }
    void SetDivision(std::uint32_t a, std::uint32_t b) override { m_real.SetDivision(a, b); }
    void SetDivisionPip(std::uint32_t a, std::uint32_t b) override { m_real.SetDivisionPip(a, b); }
    void SetMargin(std::uint32_t l, std::uint32_t t, std::uint32_t r, std::uint32_t b) override {
        m_real.SetMargin(l, t, r, b);
    }
    void SetTime(std::uint32_t y, std::uint32_t mo, std::uint32_t d, std::uint32_t h,
                 std::uint32_t mi, std::uint32_t s) override {
        m_real.SetTime(y, mo, d, h, mi, s);
    }
    void Show(std::uint32_t w, std::uint32_t h, const std::uint8_t* bgr, std::uint32_t ts) override {
        t_mediaThread = 2;
        m_real.Show(w, h, bgr, ts);
        const std::int64_t now = NowNs();
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_frames.size() < m_frames.capacity()) {
            m_frames.push_back({ts, now, m_decoder.LastDecodeNs()});
        }
        if (m_frames.size() == 1) {
            getrusage(RUSAGE_SELF, &m_firstUsage);
            g_countAllocations = true;  // from the first picture on
        }
    }
    std::vector<FrameRecord> Frames() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_frames;
    }
    rusage FirstUsage() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_firstUsage;
    }

private:
    DisplaySink& m_real;
    const TimingDecoder& m_decoder;
    std::mutex m_lock;
    std::vector<FrameRecord> m_frames;
    rusage m_firstUsage{};
};

double CpuMs(const rusage& u) {
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

int RunClient(int argc, char** argv) {
    std::string port;
    for (int i = 0; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0) port = argv[i + 1];
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    char name[] = "qvelnor-bench";
    char* qtArgv[] = {name, nullptr};
    QApplication app(qtArgc, qtArgv);

    BLDAPI_Initialize("ResKV.dll", 1);
    TimingDecoder decoder(VidcoreDecoder());
    TimingSink sink(ViewcoreSink(), decoder);
    auto* view = new VelnorClientView;
    view->Initialise();
    view->SetMediaDevices(&decoder, &sink);
    view->SetEditText(IDC_ADDRESS, u"127.0.0.1");
    view->SetEditText(IDC_PORT, std::u16string(port.begin(), port.end()));
    view->SetEditText(IDC_USER, u"admin");
    view->SetEditText(IDC_PASSWORD, u"1234");
    view->show();
    view->OnBarCommand(kBtnConnect);

    // The parent closes our standard input when the run is over.
    QSocketNotifier stdinClosed(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&stdinClosed, &QSocketNotifier::activated, &app, [&] {
        char buf[64];
        if (::read(STDIN_FILENO, buf, sizeof buf) <= 0) app.quit();
    });
    app.exec();

    g_countAllocations = false;
    rusage end{};
    getrusage(RUSAGE_SELF, &end);
    const auto frames = sink.Frames();
    std::printf("cpu_ms %.1f\n", CpuMs(end) - CpuMs(sink.FirstUsage()));
    std::printf("allocations %llu %llu\n", static_cast<unsigned long long>(g_allocations[1].load()),
                static_cast<unsigned long long>(g_allocations[2].load()));
    for (const FrameRecord& f : frames) {
        std::printf("frame %u %lld %lld\n", f.timeStampMs, static_cast<long long>(f.shownNs),
                    static_cast<long long>(f.decodeNs));
    }
    std::fflush(stdout);
    view->DestroyWindow();
    return 0;
}

// --- the parent ----------------------------------------------------------------

struct Child {
    pid_t pid = -1;
    int stdinFd = -1;
    int stdoutFd = -1;
};

bool SpawnClient(int port, Child* c) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&fa, in[1]);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::string portText = std::to_string(port);
    char a0[] = "qvelnor-bench";
    char a1[] = "pipeline-client";
    char a2[] = "--port";
    char* args[] = {a0, a1, a2, portText.data(), nullptr};
    const int rc = posix_spawn(&c->pid, "/proc/self/exe", &fa, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    c->stdinFd = in[1];
    c->stdoutFd = out[0];
    return rc == 0;
}

std::string ReadAll(int fd) {
    std::string s;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        s.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return s;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5));
    return v[i];
}

int RunParent(int argc, char** argv) {
    int views = 1;
    double seconds = 10;
    int fps = 30;
    int width = 720, height = 480;
    for (int i = 0; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        if (k == "--views") views = std::atoi(argv[i + 1]);
        else if (k == "--seconds") seconds = std::atof(argv[i + 1]);
        else if (k == "--fps") fps = std::atoi(argv[i + 1]);
        else if (k == "--size") std::sscanf(argv[i + 1], "%dx%d", &width, &height);
        else {
            std::fprintf(stderr, "pipeline: unknown option %s\n", k.c_str());
            return 2;
        }
    }
    if (views < 1 || views > 32 || seconds <= 0 || fps < 1 || fps > 60) {
        std::fprintf(stderr, "pipeline: views 1-32, seconds > 0, fps 1-60\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);

    std::mutex sentLock;
    std::map<std::uint32_t, std::int64_t> sentAt;  // time stamp -> send time
    recorder::RecorderConfig config;
    config.port = 0;
    config.streamVideo = true;
    config.videoWidth = width;
    config.videoHeight = height;
    config.fps = fps;
    config.gop = fps;
    config.onVideoQueued = [&](std::uint32_t ts) {
        const std::int64_t now = NowNs();
        std::lock_guard<std::mutex> lock(sentLock);
        sentAt.emplace(ts, now);
    };
    recorder::Recorder rec;
    std::string error;
    if (!rec.Start(config, &error)) {
        std::fprintf(stderr, "pipeline: %s\n", error.c_str());
        return 1;
    }
    std::vector<Child> children(static_cast<std::size_t>(views));
    for (Child& c : children) {
        if (!SpawnClient(rec.Port(), &c)) {
            std::fprintf(stderr, "pipeline: cannot start a client process\n");
            return 1;
        }
    }
    // Measure once every client is logged in and has had a few frames.
    for (int i = 0; i < 200; ++i) {
        int watching = 0;
        for (int id = 1; id <= views; ++id) watching += rec.VideoFramesSentTo(id) > 3 ? 1 : 0;
        if (watching == views) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    rec.StopStreaming();
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the last frames drain

    std::uint64_t sent = 0;
    for (int id = 1; id <= views; ++id) sent += rec.VideoFramesSentTo(id);
    for (Child& c : children) close(c.stdinFd);

    std::uint64_t shown = 0, allocDecode = 0, allocDisplay = 0;
    double cpuMs = 0;
    std::vector<double> latency, decode, added;
    for (Child& c : children) {
        const std::string out = ReadAll(c.stdoutFd);
        int status = 0;
        waitpid(c.pid, &status, 0);
        const char* p = out.c_str();
        while (*p != '\0') {
            unsigned ts = 0;
            long long shownNs = 0, decodeNs = 0;
            double cpu = 0;
            unsigned long long decodeAllocs = 0, displayAllocs = 0;
            if (std::sscanf(p, "frame %u %lld %lld", &ts, &shownNs, &decodeNs) == 3) {
                ++shown;
                std::lock_guard<std::mutex> lock(sentLock);
                auto it = sentAt.find(ts);
                if (it != sentAt.end()) {
                    const double l = (shownNs - it->second) / 1e6;
                    latency.push_back(l);
                    decode.push_back(decodeNs / 1e6);
                    added.push_back(l - decodeNs / 1e6);
                }
            } else if (std::sscanf(p, "cpu_ms %lf", &cpu) == 1) {
                cpuMs += cpu;
            } else if (std::sscanf(p, "allocations %llu %llu", &decodeAllocs, &displayAllocs) == 2) {
                allocDecode += decodeAllocs;
                allocDisplay += displayAllocs;
            }
            p = std::strchr(p, '\n');
            if (p == nullptr) break;
            ++p;
        }
    }
    rec.Stop();

    const double perFrame = shown > 0 ? 1.0 / static_cast<double>(shown) : 0;
    std::printf("views %d  seconds %.1f  size %dx%d  fps %d\n", views, seconds, width, height, fps);
    std::printf("sent %llu\n", static_cast<unsigned long long>(sent));
    std::printf("shown %llu\n", static_cast<unsigned long long>(shown));
    std::printf("lost %lld\n", static_cast<long long>(sent) - static_cast<long long>(shown));
    std::printf("median_ms %.2f\n", Percentile(latency, 0.5));
    std::printf("p99_ms %.2f\n", Percentile(latency, 0.99));
    std::printf("decode_median_ms %.2f\n", Percentile(decode, 0.5));
    std::printf("beyond_decode_p99_ms %.2f  (frame interval %.1f)\n", Percentile(added, 0.99),
                1000.0 / fps);
    std::printf("cpu_ms_per_frame %.2f\n", cpuMs * perFrame);
    std::printf("allocations_per_frame decode %.3f display %.3f\n",
                static_cast<double>(allocDecode) * perFrame,
                static_cast<double>(allocDisplay) * perFrame);
    return 0;
}

}  // namespace

// Every allocation of the process passes here; only those on the media path
// after the first picture are counted. The C allocator is wrapped too (the
// decoder library allocates with it), except in sanitizer builds, whose
// runtime owns it.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_BENCH_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QV_BENCH_SANITIZED 1
#endif

#if !defined(QV_BENCH_SANITIZED)
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);

void* malloc(std::size_t n) {
    NoteAllocation();
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
    NoteAllocation();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
    NoteAllocation();
    return __libc_realloc(p, n);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
    NoteAllocation();
    void* p = __libc_memalign(alignment, n);
    if (p == nullptr) return ENOMEM;
    *out = p;
    return 0;
}
void* aligned_alloc(std::size_t alignment, std::size_t n) {
    NoteAllocation();
    return __libc_memalign(alignment, n);
}
}
#endif

void* operator new(std::size_t n) {
    NoteAllocation();
    t_inOperatorNew = true;  // its malloc is the same allocation
    void* p = std::malloc(n != 0 ? n : 1);
    t_inOperatorNew = false;
    if (p != nullptr) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace bench {

int RunPipeline(int argc, char** argv) { return RunParent(argc, argv); }
int RunPipelineClient(int argc, char** argv) { return RunClient(argc, argv); }

}  // namespace bench
