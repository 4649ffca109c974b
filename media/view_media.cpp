// The view's media pipeline: video and microphone intake on the window thread,
// and the steps of the four workers.

#include <chrono>
#include <cstring>
#include <thread>

#include "media/sonicore.h"
#include "panels/pixmart.h"
#include "protocol/client_messages.h"
#include "protocol/velnor_client_view.h"

using namespace packets;

namespace {

constexpr std::uint8_t kStartCode[4] = {0, 0, 0, 1};
constexpr std::uint32_t kMicRecordBytes = 800;

bool IsAccessRestrictedMode(int mode) { return mode == 1 || mode == 2 || mode == 7 || mode == 15; }

struct Margins {
    std::uint32_t left, top, right, bottom;
};

Margins MarginsFor(bool ntsc, std::uint32_t width, std::uint32_t height) {
    const bool vga = width == 640 && height == 480;
    if (ntsc) {
        return vga ? Margins{14, 2, 10, 14} : Margins{6, 2, 6, 4};
    }
    return vga ? Margins{15, 1, 10, 2} : Margins{7, 1, 6, 1};
}

}  // namespace

void VelnorClientView::CreateMedia() {
    m_decodeParams.size = sizeof(DecodeFrameParams);
    m_decoderHandle = m_decoder->Init();
    m_audioDecoderHandle = CODECAPI_AudioDecodeInit(4);
    m_audioEncoderHandle = CODECAPI_AudEncInit(4, 8000, 1);
    SkinRect video;
    BLDAPI_GetResourceRect(kSkinVideoRect, &video);
    const DisplayRect rect{video.left, video.top, video.right, video.bottom};
    DPMGAPI_CreateDisplay(hwnd(), &rect, kDisplayOptionNone);
    DPMGAPI_SetDrawOSD(kOsdTime | kOsdTitles);
}

void VelnorClientView::DestroyMedia() {
    StopWorkers();
    DPMGAPI_DestroyDisplay();
    m_decoder->Uninit(m_decoderHandle);
    m_decoderHandle = 0;
    CODECAPI_AudioDecodeDeInit(m_audioDecoderHandle, 4);
    CODECAPI_AudEncDeInit(m_audioEncoderHandle, 4);
    m_audioDecoderHandle = -1;
    m_audioEncoderHandle = -1;
}

void VelnorClientView::SetMediaDevices(VideoDecoder* decoder, DisplaySink* sink) {
    m_decoder->Uninit(m_decoderHandle);
    m_decoder = decoder;
    m_displaySink = sink;
    m_decoderHandle = m_decoder->Init();
}

void VelnorClientView::RestartDecoder() {
    m_decoder->MemClear(m_decoderHandle);
    m_decoder->Reset(m_decoderHandle);
    m_decoder->Uninit(m_decoderHandle);
    m_decoderHandle = m_decoder->Init();
    m_pacing = {};
    m_displayEnabled = 1;
}

void VelnorClientView::StartWorkers() {
    m_decompressWorker.Start();
    m_displayWorker.Start();
    m_audioOutWorker.Start();
    m_audioInWorker.Start();
}

void VelnorClientView::StopWorkers() {
    m_decompressWorker.Stop();
    m_displayWorker.Stop();
    m_audioOutWorker.Stop();
    m_audioInWorker.Stop();
}

// --- intake ------------------------------------------------------------------

void VelnorClientView::QueueVideoFrame(const std::uint8_t* frame, std::uint32_t length) {
    if (frame == nullptr || length == 0) {
        return;
    }
    m_stats.bytesReceived += length;
    if (m_showStats) {
        CountFrame();
    }
    VideoHeader info;
    ParseVideoHeader(m_videoInfo.data(), m_videoInfo.size(), &info);
    const bool key = info.keyFrame == 1;
    if (key) {
        m_streamSynced = true;
    }
    if (!m_streamSynced) {
        return;  // nothing is queued before the first key frame
    }
    StreamRecordHeader record;
    record.setKeyFrame(key ? 1 : 0);
    record.setTimeStamp(info.timestampMs);
    record.setFrameInterval(m_frameIntervalMs);
    m_lastTimeStamp = info.timestampMs;
    if (m_streams->video.Push(record, frame, length)) {
        m_decompressWorker.SignalWork();
        return;
    }
    // Overflow: start again at the next key frame.
    m_streams->audioOut.Clear();
    m_streams->video.Clear();
    m_streams->audioIn.Clear();
    m_streamSynced = false;
}

void VelnorClientView::QueueMicData(std::uint32_t count, const std::uint8_t* sound) {
    if (sound == nullptr) {
        return;
    }
    // Capture buffers are 800 bytes, so a message is one record; a shorter
    // tail is never read past the data given.
    for (std::uint32_t offset = 0; offset + kMicRecordBytes <= count; offset += kMicRecordBytes) {
        if (!m_streams->audioIn.Push(StreamRecordHeader{}, sound + offset, kMicRecordBytes)) {
            m_streams->audioIn.Clear();
            return;
        }
        m_audioInWorker.SignalWork();
    }
}

void VelnorClientView::FlushStreams() {
    m_streamSynced = false;
    m_streams->audioOut.Clear();
    m_streams->video.Clear();
    m_streams->audioIn.Clear();
    m_streams->pictures.Reset();
}

void VelnorClientView::EmptyStreams() {
    FlushStreams();
    m_lastScreenMode = -1;
    m_keyLock = 0;
    m_channelEventActive = 0;
}

// --- decode --------------------------------------------------------------------

void VelnorClientView::DecodeStep() {
    StreamBuffers& sb = *m_streams;
    DecodedFrameQueue& queue = sb.pictures;
    std::unique_lock<std::mutex> lock(queue.lock);
    if (queue.count.load() == 3) {
        return;  // the frame waits in the ring until the display frees a slot
    }
    DecodedFrameSlot& slot = queue.frames[queue.writeIndex];
    StreamRecordHeader record;
    if (!sb.video.Pop(&record, sb.videoPayload.get(), StreamBuffers::kVideoPayloadBytes)) {
        return;
    }
    const std::uint8_t* payload = sb.videoPayload.get();
    const std::uint32_t length = record.length();
    // Status lines are written without the queue lock: the window thread may
    // be waiting for it (a flush) while it serves the line.
    if (length < FrameStatusHeader::kSize + 4 ||
        std::memcmp(payload + FrameStatusHeader::kSize, kStartCode, 4) != 0) {
        lock.unlock();
        WriteStatusF("INVALID H264 DATA");
        return;
    }
    m_decodeParams.input = payload + FrameStatusHeader::kSize;
    m_decodeParams.inputLength = length - static_cast<std::uint32_t>(FrameStatusHeader::kSize);
    m_decodeParams.output = slot.pixels.get();
    m_decodeParams.outputCapacity = kMaxPictureBytes;
    if (record.keyFrame() != 0) {
        m_decoder->MemClear(m_decoderHandle);
    }
    if (m_decoder->Decode(m_decoderHandle, &m_decodeParams) == 0 ||
        static_cast<std::uint64_t>(m_decodeParams.width) * m_decodeParams.height * 3 >
            kMaxPictureBytes) {
        lock.unlock();
        WriteStatus(u"PLEASE RECONNECT");
        return;
    }
    std::memcpy(slot.status.bytes.data(), payload, FrameStatusHeader::kSize);
    slot.timeStamp = record.timeStamp();
    slot.frameInterval = record.frameInterval();
    slot.keyFrame = record.keyFrame();
    slot.width = static_cast<std::int32_t>(m_decodeParams.width);
    slot.height = -static_cast<std::int32_t>(m_decodeParams.height);
    queue.writeIndex = (queue.writeIndex + 1) % 3;
    queue.count.fetch_add(1);
    lock.unlock();
    m_displayWorker.SignalWork();
}

// --- display -------------------------------------------------------------------

std::uint32_t VelnorClientView::LoginRights() const {
    std::uint32_t rights;
    std::memcpy(&rights, m_loginReply.data() + 28, 4);
    return rights;
}

void VelnorClientView::PostDisplayState(DisplayStateChange change, LPARAM value) {
    PostMessage(hwnd(), kMsgDisplayState, change, value);
}

void VelnorClientView::OnDisplayState(WPARAM change, LPARAM value) {
    const std::uint32_t rights = LoginRights();
    switch (change) {
        case kSearchButtonState:
            SetButtonEnabled(kBtnSearch, value != 0);
            break;
        case kPtzToggleState:
            SetButtonChecked(kBtnPtzMode, value != 0);
            break;
        case kKeyLockOn:
            HideOwnedWindows();
            SetGroupEnabled(1, false);
            SetGroupEnabled(2, false);
            break;
        case kKeyLockOff:
            if (rights & 4) {
                SetGroupEnabled(2, true);
                SetButtonEnabled(kBtnKeyPanel, true);
                SetButtonEnabled(kBtnSetup, true);
            }
            if (rights & 2) {
                SetButtonEnabled(kBtnSearch, true);
            }
            break;
        case kRefreshKeyPanel:
            RefreshKeyPanel();
            break;
        default:
            break;
    }
}

void VelnorClientView::DisplayStep() {
    StreamBuffers& sb = *m_streams;
    DecodedFrameQueue& queue = sb.pictures;
    FrameStatusHeader status;
    std::uint32_t frameInterval = 0;
    std::uint32_t timeStamp = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    {
        std::lock_guard<std::mutex> lock(queue.lock);
        if (queue.count.load() == 0) {
            return;
        }
        const DecodedFrameSlot& slot = queue.frames[queue.readIndex];
        frameInterval = slot.frameInterval;
        timeStamp = slot.timeStamp;
        status = slot.status;
        width = static_cast<std::uint32_t>(slot.width);
        height = static_cast<std::uint32_t>(slot.height < 0 ? -slot.height : slot.height);
        std::memcpy(sb.displayStaging.get(), slot.pixels.get(), std::size_t{width} * height * 3);
        queue.readIndex = (queue.readIndex + 1) % 3;
        queue.count.fetch_sub(1);
    }
    m_decompressWorker.SignalWork();

    const int mode = status.screenMode();
    if (mode == 4) {
        m_displaySink->SetDivisionPip(status.divisionParam(), status.pipOrPlayback());
    } else {
        m_displaySink->SetDivision(status.divisionLayout(), status.divisionParam());
    }

    // The playback panel follows the recorder's playback.
    if (mode == 1) {
        ShowSpeed(status.pipOrPlayback());
        if (m_playMode == 1 && (status.pipOrPlayback() & 0x10) == 0) {
            m_playMode = 2;
            PostMessage(hwnd(), UM_PLAY_PANEL, 2, 0);
        }
    } else if (m_playMode == 2) {
        m_playMode = 0;
        PostMessage(hwnd(), UM_PLAY_PANEL, 0, 0);
    }

    {
        std::lock_guard<std::mutex> lock(m_currentStatusLock);
        m_currentStatus = status;
    }

    const std::uint32_t rights = LoginRights();
    if (mode != m_lastScreenMode) {
        m_lastScreenMode = mode;
        ShowMode(mode);
        PostDisplayState(kRefreshKeyPanel);
        if (IsAccessRestrictedMode(mode)) {
            if ((rights & 2) == 0) {
                m_displayEnabled = 0;
                WriteStatus(u"YOU DO NOT HAVE ACCESS");
            }
            PostDisplayState(kSearchButtonState, 0);
        } else if (rights & 2) {
            PostDisplayState(kSearchButtonState, 1);
        }
        if (mode == 8) {
            if (rights & 4) {
                m_ptzMode = true;
                PostDisplayState(kPtzToggleState, 1);
            }
        } else {
            m_ptzMode = false;
            PostDisplayState(kPtzToggleState, 0);
        }
    }

    std::uint32_t active = 0;
    const int channels = std::min(m_channelCount.load(), 16);
    for (int c = 0; c < channels; ++c) {
        if (status.channelStatus(c) & 0x300) {
            active = 1;
        }
    }
    if (active != m_channelEventActive) {
        m_channelEventActive = active;
        PostDisplayState(kRefreshKeyPanel);
    }

    if (status.keyLock() != m_keyLock) {
        m_keyLock = status.keyLock();
        if (m_keyLock != 0) {
            PostDisplayState(kKeyLockOn);
            WriteStatus(u"KEYLOCK ON");
        } else {
            PostDisplayState(kKeyLockOff);
            WriteStatus(u"KEYLOCK OFF");
        }
    }

    CalendarTime clock;
    clock.year = status.year();
    clock.month = status.month();
    clock.day = status.day();
    clock.hour = status.hour();
    clock.minute = status.minute();
    clock.second = status.second();
    TimeManager::Shown shown;
    {
        std::lock_guard<std::mutex> lock(m_timeLock);
        shown = m_time.ToShown(clock);
    }
    const CalendarTime& t = shown.time.valid ? shown.time : clock;
    m_displaySink->SetTime(static_cast<std::uint32_t>(t.year), static_cast<std::uint32_t>(t.month),
                           static_cast<std::uint32_t>(t.day), static_cast<std::uint32_t>(t.hour),
                           static_cast<std::uint32_t>(t.minute),
                           static_cast<std::uint32_t>(t.second));

    const std::uint32_t start = m_tickCount;
    bool drawn = false;
    if (m_pacing.skipCount > 0) {
        m_pacing.skipCount -= 1;
    } else if (m_displayEnabled != 0) {
        const bool ntsc = m_videoSystemSeen == 0;
        const Margins m = MarginsFor(ntsc, width, height);
        m_displaySink->SetMargin(m.left, m.top, m.right, m.bottom);
        if (ntsc && width == 640) {
            m_deinterlacer.DeinterlaceRows(sb.displayStaging.get(), 640, static_cast<int>(height));
        }
        SetSoundVideoTimeStamp(timeStamp);
        m_displaySink->Show(width, height, sb.displayStaging.get(), timeStamp);
        drawn = true;
    }

    if (m_pacing.skipCount > 0) {
        return;
    }
    PacingInput in;
    in.elapsedMs = drawn ? m_tickCount - start : 0;
    in.frameIntervalMs = frameInterval;
    in.streamIntervalMs = m_frameIntervalMs;
    in.frameRate = m_framesPerSecond;
    in.queuedFrames = sb.video.RecordCount();
    in.queuedPictures = queue.Count();
    if (const std::uint32_t sleepMs = Pace(&m_pacing, in); sleepMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
    }
}

// --- sound -----------------------------------------------------------------------

void VelnorClientView::AudioOutStep() {
    // No producer writes this ring and no wave-output device is opened here:
    // received sound is played by the sound player. Drain what is there.
    StreamRecordHeader record;
    while (m_streams->audioOut.Pop(&record, m_streams->audioOutPayload.get(),
                                   StreamBuffers::kAudioOutPayloadBytes)) {
    }
}

void VelnorClientView::SendMicRecord() {
    StreamRecordHeader record;
    std::uint8_t* sound = m_streams->audioInSend.get();
    if (!m_streams->audioIn.Pop(&record, sound, StreamBuffers::kAudioInSendBytes)) {
        return;
    }
    if (m_connectState != 1 || m_audioState != 3) {
        return;
    }
    if (Send(EncodeAudioHeader(record.length()))) {
        NSMGAPI_SendTypeStreamData(m_transport, PT_AUDIO, sound, record.length());
    }
}
