#pragma once
// The recorder simulator: a TCP server that speaks the recorder's side of the
// protocol over our framing (outside/qremotesocket/wire_format.h). Tests run
// it in-process; recorder/main.cpp wraps it as the qvelnor-recorder program.
//
// Conversation with each client:
//   - The first frame must be the init frame (control route, code 1, 16-byte
//     payload "QVELNOR\0", uint32 1, uint32 0); anything else closes the
//     connection. The recorder answers PT_HELLO with helloValue.
//   - PT_LOGIN: checked against `users` (or answered with forcedLoginResult);
//     the 32-byte login reply follows. Result 1 logs the client in and starts
//     its silent/drop clocks.
//   - PT_SESSION from a logged-in client: 32 bytes, first uint32 1.
//   - PT_TIME_ZONE from a logged-in client: the 24-byte rules record.
//   - PT_REMOTE_KEY from a logged-in client changes the screen from the next
//     frame on, by the table of recorder/key_table.h.
//   - PT_LOGOUT logs the client out; the connection stays until the client
//     closes it. PT_TIME_ZONE_ACK and everything else are recorded and logged
//     only.
// A frame with a bad header or a payload above kMaxPayload closes that
// connection; the recorder keeps serving the others.
//
// Live video, when streaming (RecorderConfig::streamVideo, StartStreaming):
//   - right after a successful login the client gets the camera titles once
//     (stream block PT_CAMERA_TITLES);
//   - then, fps times a second, every logged-in client that has not gone
//     silent gets a PT_VIDEO command header followed by a stream block of type
//     PT_VIDEO: the 84-byte frame status header and one H.264 access unit of
//     the recorder's whole screen (picture_composer.h). One encoder serves
//     every client; a client starts with a key frame, forced when it logs in.
//   - A client whose unsent output passes videoBacklogBytes is skipped, frame
//     by frame, until it has drained; it then resumes at a key frame forced
//     for it. Video alone never disconnects a client.
// The screen setters and fault injections below take effect from the next
// frame; see docs/recorder.md.
//
// Threads: one service thread runs every socket (poll loop); a streaming
// thread composes, encodes and queues the video. The sending, query, screen
// and injection methods may be called from any thread; they are serialised by
// one mutex, which the streaming thread does not hold while it composes and
// encodes. Start, Stop, StartStreaming and StopStreaming belong to one
// controlling thread.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "outside/qremotesocket/wire_format.h"
#include "recorder/key_table.h"
#include "recorder/recorder_packets.h"

namespace recorder {

class H264Encoder;
class PictureComposer;

struct RecorderConfig {
    std::string listenAddress = "127.0.0.1";  // IPv4 dotted address
    int port = 50000;                         // 0: any free port, see Recorder::Port()
    std::vector<std::pair<std::string, std::string>> users = {{"admin", "1234"}};
    std::optional<std::int32_t> forcedLoginResult;  // answer this whatever the credentials
    std::uint8_t kind = 0;
    std::uint8_t videoSystem = 0;  // 0 NTSC, 1 PAL
    std::uint8_t features = 0;
    std::uint8_t channels = 16;
    std::uint32_t sessionId = 1;
    std::uint32_t rights = 6;
    std::uint32_t helloValue = 0x00010001;
    TimeZoneRules timeZone;
    // Counted from each login success; 0 = never. Silent: the connection stays
    // open but nothing more is sent to that client. Drop: the recorder closes it.
    double silentAfterSeconds = 0;
    double dropAfterSeconds = 0;
    // Packet log, truncated at Start; one FormatPacketLogLine() line per frame
    // received (the init frame included), flushed at once. Empty: no log.
    std::string packetLogPath;
    // Received() keeps at most this many packets, dropping the oldest, so that a
    // long-running recorder does not grow without end; 0 keeps none. The
    // counts behind ReceivedCount() and WaitForPacket() are not limited.
    std::size_t keepReceived = 10000;

    // ---- live video
    // Stream from Start on. Off by default for recorders made in-process, so
    // that tests of the login conversation see only its packets; the program
    // streams unless --no-video is given.
    bool streamVideo = false;
    int videoWidth = 720;   // even, 64..720
    int videoHeight = 480;  // even, 64..600: the client takes at most 1,296,000 bytes a picture
    int fps = 30;           // 1..60
    int gop = 30;           // frames from one key frame to the next, 1..1000
    // Camera titles by 0-based channel; the others are "CAM 01", "CAM 02", ...
    std::map<int, std::string> cameraTitles;
    std::uint8_t initialLayout = 16;  // split of 1, 4, 9 or 16 cells from channel 0
    // The recorder's clock: the machine's UTC time plus this many seconds.
    // UTC rather than local time, so that what a test sees does not depend on
    // the machine's time zone.
    std::int64_t clockOffsetSeconds = 0;
    // A client with more unsent output than this gets no video frames until it
    // has drained below it again.
    std::size_t videoBacklogBytes = std::size_t{2} << 20;
    // Called on the streaming thread right after a frame (its time stamp in
    // ms) has been queued for the clients: the send time of the benchmarks.
    std::function<void(std::uint32_t timeStampMs)> onVideoQueued;
    // SO_SNDBUF of each client connection; 0 leaves the system's own, which
    // grows to megabytes. A small one makes a slow client back up into the
    // recorder's queue soon, as over a slow link.
    int socketSendBuffer = 0;
};

struct ReceivedPacket {
    int clientId = 0;        // connections are numbered from 1 in accept order
    std::uint8_t route = 0;  // wire::kRouteCommand / kRouteStream / kRouteControl
    std::uint16_t type = 0;
    std::vector<std::uint8_t> payload;
};

class Recorder {
public:
    // Largest frame payload accepted from a client.
    static constexpr std::uint32_t kMaxPayload = 1u << 20;
    // Largest amount of unsent output kept for one client; a client that lets
    // more pile up is disconnected.
    static constexpr std::size_t kMaxPendingOutput = 64u << 20;
    // Connections beyond this many are closed as soon as they are accepted.
    static constexpr int kMaxClients = 64;

    Recorder();
    ~Recorder();  // Stop()
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Binds, listens and starts the service thread. False with *error set when
    // the address is bad, the port is taken, the log cannot be opened or the
    // recorder already runs.
    bool Start(const RecorderConfig& config, std::string* error);
    // Closes every connection and the listener and joins the service thread.
    // Safe to call twice; the recorder may be started again afterwards.
    void Stop();
    // The port actually listened on (useful with port 0); 0 when not running.
    int Port() const;

    // Open connections (logged in or not).
    int ClientCount() const;
    // Waits until ClientCount() == count. False on timeout.
    bool WaitForClientCount(int count, int timeoutMs) const;

    // Queue a frame for every logged-in client that has not gone silent.
    // Return the number of clients it was queued for. The client transport
    // refuses payloads above 1 MiB, so larger ones end that connection.
    int SendCommand(std::uint16_t type, const std::vector<std::uint8_t>& payload);
    int SendStream(std::uint16_t type, const std::vector<std::uint8_t>& data);
    int SendTalkOpen();
    int SendTalkClose();

    // Every connected client goes silent now (see silentAfterSeconds).
    void GoSilent();
    // Closes every client connection; the recorder keeps listening.
    void DropClients();

    // ---- live video
    // Starts the streaming thread (the recorder must be running). Clients
    // already logged in get the titles and, from the next frame, video. False
    // with *error for a bad size, rate or key frame interval or when the
    // encoder cannot be opened. Already streaming: true, nothing changes.
    bool StartStreaming(std::string* error);
    // Stops the streaming thread; the connections stay. Safe when not streaming.
    void StopStreaming();
    bool Streaming() const;

    // The screen as the next frames show and report it. Channels are 0-based.
    // SetScreenMode stores any mode byte as given (4 is picture-in-picture).
    void SetScreenMode(std::uint8_t mode);
    // Split of `layout` cells (1, 4, 9, 16) from channel `first`; leaves
    // picture-in-picture for live.
    void SetDivision(std::uint8_t layout, std::uint8_t first);
    // Picture-in-picture: screen mode 4, channel `mainChannel` full screen with
    // `subChannel` as the inset.
    void SetPip(std::uint8_t mainChannel, std::uint8_t subChannel);
    // Byte 11 of the frame status header as given (the playback state in
    // playback mode).
    void SetPlaybackState(std::uint8_t state);
    void SetKeyLock(bool on);
    // The channel's status word (0x100 / 0x200: channel events); channels 0..15.
    void SetChannelEvents(int channel, std::uint32_t bits);
    // A line of text at the bottom of the channel's picture; empty removes it.
    void SetChannelOverlay(int channel, const std::string& text);
    ScreenState CurrentScreen() const;

    // Sends PT_STREAM_SETTINGS_SET without payload to every logged-in client
    // (the client empties its stream buffers) and makes the next frame a key
    // frame, the first any client gets after the flush. Returns the number of
    // clients it was sent to.
    int SendFlush();

    // Faults, each for the next frame sent; every one but the frame rate is
    // followed by a forced key frame so that the stream recovers.
    //   NoStartCode: the H.264 data begin 00 00 00 02 instead of 00 00 00 01.
    //   ShortPayload: the stream block is cut to its first 60 bytes.
    //   OversizedPicture: instead of the next frame, one key frame of a
    //     1280x720 picture from an encoder of its own.
    //   ZeroFrameRate: the PT_VIDEO header says 0 frames per second.
    //   Burst: instead of the next frame, `count` frames of a noisy picture
    //     queued at once, without pacing and past videoBacklogBytes, all with
    //     that frame's time stamp.
    void InjectNoStartCode();
    void InjectShortPayload();
    void InjectOversizedPicture();
    void InjectZeroFrameRate();
    void InjectBurst(int count);

    // Video frames (header and block pairs) queued, summed over clients.
    std::uint64_t VideoFramesSent() const;
    // Frames left out for a client that was behind or waiting for a key frame,
    // summed over clients.
    std::uint64_t VideoFramesSkipped() const;
    // Video frames queued for one client (by id, see ReceivedPacket); 0 for a
    // client that is gone.
    std::uint64_t VideoFramesSentTo(int clientId) const;

    // The packets received so far (the last keepReceived of them), in order.
    std::vector<ReceivedPacket> Received() const;
    // Frames of this route and type received since Start (not limited by
    // keepReceived). Does not block: a test that must keep an event loop
    // running polls this instead of calling WaitForPacket.
    std::size_t ReceivedCount(std::uint16_t type, std::uint8_t route = wire::kRouteCommand) const;
    // Blocks until at least `count` frames of this route and type have been
    // received since Start, or timeoutMs has passed (false). By the time it
    // returns true the packet's log line is written and the recorder's answer,
    // if any, is queued.
    bool WaitForPacket(std::uint16_t type, int timeoutMs, std::size_t count = 1,
                       std::uint8_t route = wire::kRouteCommand) const;

private:
    struct Client;

    bool StartListening(const RecorderConfig& config, std::string* error);
    void Run();
    void AcceptLocked();
    void ReadLocked(Client& c);
    void WriteLocked(Client& c);
    void HandleFrameLocked(Client& c, std::uint8_t route, std::uint16_t type,
                           std::vector<std::uint8_t> payload);
    void QueueLocked(Client& c, std::uint8_t route, std::uint16_t type,
                     const std::vector<std::uint8_t>& payload);
    int BroadcastLocked(std::uint8_t route, std::uint16_t type,
                        const std::vector<std::uint8_t>& payload);
    void CloseLocked(Client& c);
    void ShowPtzCommandLocked(int channel, int code);
    void HandleRemoteKeyLocked(std::uint8_t group, std::uint8_t code);
    // In PLAY mode the recorder-clock second being played; nothing otherwise.
    std::optional<std::int64_t> PlaybackSecondsLocked();
    void Wake();

    // Live video.
    struct OutFrame;
    void StreamLoop();
    void StreamTick(std::uint64_t tick);
    bool EncodeFrame(H264Encoder& encoder, const std::uint8_t* pixels, const ScreenState& screen,
                     const DateTime& clock, std::uint32_t timeStampMs, OutFrame* frame) const;
    void SendFramesLocked(const std::vector<OutFrame>& frames);
    void BeginVideoLocked(Client& c);
    DateTime ClockNow() const;
    std::int64_t ClockSeconds() const;  // the recorder's clock, seconds since 1970
    static double SteadySeconds();

    // Guards everything below except m_thread and what is marked otherwise.
    // m_config changes only in Start, while no other thread runs, so the
    // streaming thread reads it without the lock.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    RecorderConfig m_config;
    bool m_running = false;
    bool m_stopping = false;
    int m_listenFd = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    int m_port = 0;
    int m_nextClientId = 1;
    std::map<int, std::unique_ptr<Client>> m_clients;  // by client id
    std::deque<ReceivedPacket> m_received;
    std::map<std::pair<std::uint8_t, std::uint16_t>, std::size_t> m_receivedCounts;
    std::FILE* m_log = nullptr;
    std::thread m_thread;

    // Live video; guarded by m_mutex unless said otherwise.
    struct Faults {
        bool noStartCode = false;
        bool shortPayload = false;
        bool oversized = false;
        bool zeroFrameRate = false;
        int burst = 0;
    };
    bool m_streaming = false;
    bool m_streamStop = false;
    std::condition_variable m_streamWake;
    ScreenState m_screen;
    PlaybackClock m_playback;  // where PLAY mode stands (key_table.h)
    std::array<std::string, 16> m_overlay;
    bool m_overlayChanged = false;
    bool m_forceKey = false;
    Faults m_faults;
    int m_ptzOverlayChannel = -1;  // the channel showing the last PTZ command
    std::uint64_t m_videoFramesSent = 0;
    std::uint64_t m_videoFramesSkipped = 0;
    // Owned by the streaming thread while it runs, by the controlling thread
    // otherwise; not guarded.
    std::unique_ptr<H264Encoder> m_encoder;
    std::unique_ptr<PictureComposer> m_composer;
    std::thread m_streamThread;
};

}  // namespace recorder
