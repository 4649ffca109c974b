// The view's window procedure and the two packet routes: every network
// message, button message and timer message of the client arrives here.

#include <QPainter>
#include <cstring>

#include "media/viewcore.h"
#include "protocol/client_messages.h"
#include "protocol/velnor_client_view.h"

using namespace packets;

namespace {

std::uint16_t HeaderType(const std::uint8_t* header) {
    return static_cast<std::uint16_t>(header[kNetHeaderTypeOffset] |
                                      (header[kNetHeaderTypeOffset + 1] << 8));
}

std::uint32_t ReadU32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

bool InTopLeftSquare(LPARAM l) {
    const int x = XFromLParam(l);
    const int y = YFromLParam(l);
    return x >= 0 && x < 10 && y >= 0 && y < 10;
}

}  // namespace

LRESULT VelnorClientView::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    // The bar's buttons: their redraws and repeat timers.
    if (m_skin != nullptr && m_skin->HandleMessage(msg, wParam, lParam)) {
        return 0;
    }
    const QPoint point(XFromLParam(lParam), YFromLParam(lParam));
    switch (msg) {
        case WM_DESTROY:
            Teardown();
            return 0;
        case WM_ERASEBKGND:
            if (QPainter* p = PaintPainter()) {
                p->fillRect(rect(), Qt::black);
            }
            return 1;
        case WM_PAINT:
            // The back buffer already holds every button's current look; its
            // pure-blue pixels are transparent, so the video shows through.
            if (QPainter* p = PaintPainter(); p != nullptr && m_skin != nullptr) {
                const SkinRect& bk = m_skin->BackgroundRect();
                p->drawImage(QPoint(bk.left, bk.top), m_skin->BackBuffer());
            }
            return 0;
        case WM_MOUSEMOVE:
            if (m_skin != nullptr) {
                m_skin->MoveAll((wParam & MK_LBUTTON) != 0, point);
            }
            return 0;
        case WM_LBUTTONDOWN:
            m_mouseCaptured = true;  // the widget keeps the mouse until release
            if (m_skin != nullptr) {
                m_skin->PressAll(point);
            }
            if (InTopLeftSquare(lParam)) {
                m_showStats = !m_showStats;
            }
            return 0;
        case WM_LBUTTONUP:
            if (m_mouseCaptured) {
                m_mouseCaptured = false;
                if (m_skin != nullptr) {
                    m_skin->ReleaseAll(point);
                }
            }
            return 0;
        case WM_RBUTTONDOWN:
            if (InTopLeftSquare(lParam)) {
                m_keyMode = true;
                WriteStatusF("KEY MODE");
            }
            return 0;
        case MM_WIM_OPEN:
        case MM_WIM_CLOSE:
        case MM_WIM_DATA:
            return 0;
        case UM_BUTTON_CLICK:
            if (wParam >= 20000 && wParam <= 20084) {
                OnBarCommand(static_cast<int>(wParam));
            }
            return 0;
        case UM_BUTTON_DOWN:
            HoldPtz(static_cast<int>(wParam));
            return 0;
        case UM_BUTTON_UP:
            ReleasePtz(static_cast<int>(wParam));
            return 0;
        case UM_LINK_IDLE:
            OnLinkIdle();
            return 0;
        case UM_NET_PACKET:
        case UM_NET_PACKET_2:
        case UM_NET_PACKET_3:
        case UM_NET_PACKET_4:
            m_idleTicks = 0;
            DispatchPacket(reinterpret_cast<const std::uint8_t*>(wParam),
                           reinterpret_cast<const std::uint8_t*>(lParam));
            return 0;
        case UM_NET_CONNECTED:
            OnConnectResult(wParam != 0);
            return 0;
        case UM_NET_CLOSED:
            Disconnect();
            return 0;
        case UM_NET_IGNORED_1:
        case UM_NET_IGNORED_2:
            return 0;
        case UM_NET_STREAM:
            m_idleTicks = 0;
            DispatchStream(reinterpret_cast<const std::uint8_t*>(wParam),
                           reinterpret_cast<const std::uint8_t*>(lParam));
            return 0;
        case UM_NET_TALK_OPEN:
            OnTalkOpen();
            return 0;
        case UM_NET_TALK_CLOSE:
            OnTalkClose();
            return 0;
        case UM_MIC_DATA:
            QueueMicData(static_cast<std::uint32_t>(wParam),
                         reinterpret_cast<const std::uint8_t*>(lParam));
            return 0;
        case UM_PLAY_PANEL:
            OnPlayPanel(wParam);
            return 0;
        case kMsgDisplayState:
            OnDisplayState(wParam, lParam);
            return 0;
        default:
            return Window::WindowProc(msg, wParam, lParam);
    }
}

void VelnorClientView::DispatchPacket(const std::uint8_t* header, const std::uint8_t* p) {
    if (header == nullptr) {
        return;
    }
    const std::uint32_t len = p != nullptr ? ReadU32(header + kNetHeaderLengthOffset) : 0;
    switch (HeaderType(header)) {
        case PT_LOGIN:
            OnLoginReply(p, len);
            break;
        case PT_PLAY_AT:
            PostMessage(hwnd(), UM_PLAY_PANEL, 1, 0);
            break;
        case PT_RECORD_RANGE:
            OnRecordRange(p, len);
            break;
        case PT_EVENT_SEARCH:
            OnEventSearchHeader(p, len);
            break;
        case PT_SESSION:
            OnSession(p, len);
            break;
        case PT_VIDEO:
            OnVideoHeader(p, len);
            break;
        case PT_HELLO: {
            std::uint32_t value = 0;
            if (ParseU32(p, len, &value)) {
                OnHello(value);
            }
            break;
        }
        case PT_STREAM_SETTINGS:
            OnStreamSettings(p, len);
            break;
        case PT_STREAM_SETTINGS_SET:
            OnStreamRestart();
            break;
        case PT_TALK_REPLY:
            OnTalkReply(p, len);
            break;
        case PT_TALK_STOP:
            OnTalkStop();
            break;
        case PT_AUDIO: {
            AudioHeader h;
            if (ParseAudioHeader(p, len, &h)) {
                m_audioInfo = h.raw;
            }
            break;
        }
        case PT_TALK_STATE:
            OnTalkState(p, len);
            break;
        case PT_TIME_ZONE:
            OnTimeZone(p, len);
            break;
        case PT_AUDIO_SETTINGS:
            OnAudioSettings(p, len);
            break;
        default:
            break;  // not for the client
    }
}

void VelnorClientView::DispatchStream(const std::uint8_t* header, const std::uint8_t* descriptor) {
    FlushPtz();
    if (header == nullptr || descriptor == nullptr) {
        return;
    }
    const std::uint8_t* bytes = nullptr;
    std::memcpy(&bytes, descriptor + kStreamDescDataOffset, sizeof bytes);
    const std::uint32_t len = bytes != nullptr ? ReadU32(descriptor + kStreamDescLengthOffset) : 0;
    switch (HeaderType(header)) {
        case PT_VIDEO:
            QueueVideoFrame(bytes, len);
            break;
        case PT_AUDIO: {
            AudioHeader h;
            ParseAudioHeader(m_audioInfo.data(), m_audioInfo.size(), &h);
            QueueAudio(h.timestampMs, bytes, len);
            break;
        }
        case PT_CAMERA_TITLES:
            OnCameraTitles(bytes, len);
            break;
        case PT_EVENT_SEARCH:
            OnEventData(bytes, len);
            break;
        default:
            break;
    }
}

// --- received command packets ---------------------------------------------------

void VelnorClientView::OnRecordRange(const std::uint8_t* p, std::uint32_t len) {
    RecordRange range;
    if (!ParseRecordRange(p, len, &range)) {
        return;
    }
    m_dvrTime = range.raw;
    if (range.begin.year == 0 || range.end.year == 0) {
        WriteStatusF("INVALID DVR TIME");
        return;  // a search asked for stays pending until a valid reply
    }
    if (m_searchPending) {
        OpenSearchDialog();
    }
    m_searchPending = false;
}

void VelnorClientView::OnEventSearchHeader(const std::uint8_t* p, std::uint32_t len) {
    EventSearchHeader h;
    if (!ParseEventSearchHeader(p, len, &h)) {
        return;
    }
    m_eventSearch = h;
    if (h.count == 0) {
        if (h.kind == 0) {
            PostToSearchDialog(UM_EVENT_LIST_DONE, 0, 0);
        } else if (h.kind == 1) {
            PostToSearchDialog(UM_EVENT_RAW_DATA, 0, 0);
        }
    }
}

void VelnorClientView::OnSession(const std::uint8_t* p, std::uint32_t len) {
    std::uint32_t value = 0;
    if (ParseU32(p, len, &value) && value == 1 && m_connectState == 1) {
        Send(EncodeTimeZoneRequest());
    }
}

void VelnorClientView::OnVideoHeader(const std::uint8_t* p, std::uint32_t len) {
    VideoHeader h;
    if (!ParseVideoHeader(p, len, &h)) {
        return;
    }
    m_videoInfo = h.raw;
    // A rate of 0 says nothing usable: the last good rate stays.
    if (h.framesPerSecond != 0) {
        m_framesPerSecond = h.framesPerSecond;
        m_frameIntervalMs = 1000u / h.framesPerSecond;
    }
}

void VelnorClientView::OnStreamSettings(const std::uint8_t* p, std::uint32_t len) {
    StreamSettings s;
    if (!ParseStreamSettings(p, len, &s)) {
        return;
    }
    CloseWaitingDialog();
    OpenSetupSheet(s);
}

void VelnorClientView::OnStreamRestart() { FlushStreams(); }

void VelnorClientView::OnTimeZone(const std::uint8_t* p, std::uint32_t len) {
    TimeZoneRules tz;
    if (!ParseTimeZone(p, len, &tz) || tz.validity != 1) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_timeLock);
        m_time.SetRules(tz);
    }
    if (m_connectState == 1) {
        Send(EncodeTimeZoneAck());
    }
}

void VelnorClientView::OnAudioSettings(const std::uint8_t* p, std::uint32_t len) {
    AudioSettings s;
    if (!ParseAudioSettingsReply(p, len, &s)) {
        return;
    }
    CloseWaitingDialog();
    FillAudioPage(s);
}

// --- two-way audio ----------------------------------------------------------------

void VelnorClientView::OnTalkReply(const std::uint8_t* p, std::uint32_t len) {
    std::uint32_t result = 0;
    if (m_connectState != 1 || !ParseU32(p, len, &result)) {
        return;
    }
    switch (result) {
        case 1:
            WriteStatus(u"TWOWAY AUDIO CONNECTION SUCCESS");
            Send(EncodeTalkState(1));
            OpenCapture();
            m_captureOpened = true;
            SetPlayerAutoStart();
            CloseWaitingDialog();
            m_audioState = 3;
            break;
        case 2:
            Send(EncodeTalkState(1));
            CloseWaitingDialog();
            break;
        case 0:
            WriteStatus(u"TWOWAY AUDIO CONNECTION FAILURE");
            CloseWaitingDialog();
            break;
        default:
            break;
    }
}

void VelnorClientView::OnTalkStop() {
    if (m_connectState != 1) {
        return;
    }
    Send(EncodeTalkEnd());
    m_audioState = 0;
}

void VelnorClientView::OnTalkState(const std::uint8_t* p, std::uint32_t len) {
    std::uint32_t state = 0;
    if (m_connectState != 1 || !ParseU32(p, len, &state)) {
        return;
    }
    if (state == 1) {
        m_audioState = 3;
    } else if (state == 2) {
        Send(EncodeTalkStop(m_sessionId));
        m_audioState = 5;
    }
}

void VelnorClientView::OnTalkOpen() {
    if (m_connectState == 1) {
        Send(EncodeTalkReply(m_sessionId));
    }
    m_audioState = 2;
}

void VelnorClientView::OnTalkClose() {
    if (m_connectState == 1) {
        Send(EncodeTalkEnd());
    }
    StopCapture();
    SetButtonChecked(kBtnTalk, false);
    m_audioState = 0;
}

// --- panels and stream data ------------------------------------------------------------

void VelnorClientView::OnPlayPanel(WPARAM w) {
    if (m_playPanel == nullptr) {
        m_playPanel = new SetupPlay(*this, this);
    }
    switch (w) {
        case 1:
            m_playMode = 1;
            break;
        case 2:
            if (m_playMode == 2) {
                ShowPlayPanel();
            }
            break;
        case 3:
            m_lastSpeedByte = 0;
            ShowPlayPanel();
            break;
        default:
            HidePlayPanel();
            m_playMode = 0;
            break;
    }
}

void VelnorClientView::OnCameraTitles(const std::uint8_t* bytes, std::uint32_t len) {
    if (bytes == nullptr) {
        return;
    }
    // As many records as the recorder has channels, but never more than the
    // block holds.
    const std::size_t count = CameraTitleRecordCount(m_loginReply[7], len);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* record = bytes + i * kCameraTitleRecordSize;
        DPMGAPI_SetCameraTitle(ReadU32(record), record + 4);
    }
}

void VelnorClientView::OnEventData(const std::uint8_t* bytes, std::uint32_t len) {
    if (m_eventSearch.kind == 0) {
        EventListIntake(bytes, len);
    } else if (m_eventSearch.kind == 1) {
        if (bytes != nullptr) {
            m_rawSearchData.assign(bytes, bytes + len);
        } else {
            m_rawSearchData.clear();
        }
        PostToSearchDialog(UM_EVENT_RAW_DATA, m_rawSearchData.size(),
                           reinterpret_cast<LPARAM>(m_rawSearchData.data()));
    }
}
