#pragma once
// VelnorClientView: the window in which the client does its work. It owns the
// transport session to one recorder, runs connect -> hello -> login, keeps the
// client view state that every other part of the client reads, dispatches
// every network message, watches the link for silence and reconnects.
//
// Threads: everything runs on the window thread except OnLinkTick (the link
// timer's thread). Fields read or written on another thread are atomics.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "control/status_texts.h"
#include "media/deinterlace.h"
#include "media/media_devices.h"
#include "media/pacing.h"
#include "media/stream_buffers.h"
#include "media/time_manager.h"
#include "media/worker_thread.h"
#include "panels/main_key_panel.h"
#include "panels/setup_play.h"
#include "panels/skinned_surface.h"
#include "panels/waiting_dialog.h"
#include "platform/window.h"
#include "protocol/packets.h"
#include "protocol/qremotesocket.h"

class CToolTipListBox;
class QLabel;
class QLineEdit;
class NeighbourTable;

// The source of the 1 ms link ticks; tests drive OnLinkTick themselves.
class TickSource {
public:
    virtual ~TickSource() = default;
    virtual bool Start(unsigned periodMs, std::function<void()> tick) = 0;
    virtual void Stop() = 0;
};

// Child control ids of the view.
enum ViewControlId : int {
    IDC_ADDRESS = 201,  // skin rectangles 30100 .. 30104 for 201 .. 205
    IDC_PORT = 202,
    IDC_USER = 203,
    IDC_PASSWORD = 204,
    IDC_STATUS_LIST = 205,
    IDC_PTZ_CHANNEL = 206,
};

// Skin resources of the view.
enum ViewSkinId : int {
    kSkinViewBackground = 10001,
    kSkinFirstControlRect = 30100,  // 30100 + (control id - 201)
    kSkinVideoRect = 30105,
    kSkinPtzChannelRect = 30106,
    kSkinVersionRect = 30107,
};

// The 22 buttons of the view's bar: 20000 + 4k.
enum BarButtonId : int {
    kBtnConnect = 20000,
    kBtnDisconnect = 20004,
    kBtnExit = 20008,
    kBtnKeyPanel = 20012,
    kBtnSetup = 20016,
    kBtnPtzFirst = 20020,
    kBtnPtzChannelDown = 20028,
    kBtnPtzChannelUp = 20032,
    kBtnPtzLast = 20072,
    kBtnTalk = 20076,
    kBtnSearch = 20080,
    kBtnPtzMode = 20084,
};
constexpr int kBarButtonCount = 22;
constexpr int BarButtonId(int k) { return 20000 + 4 * k; }
bool IsPtzPadButton(int id);

class VelnorClientView : public Window, public KeyPanelOwner {
public:
    explicit VelnorClientView(QWidget* parent = nullptr);
    ~VelnorClientView() override;

    // Once, right after creation: codecs, transport, skin layout, form,
    // buttons. The skin library must be initialised first.
    void Initialise();

    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // --- connection lifecycle ---------------------------------------------
    void Connect();
    void OnConnectResult(bool success);
    void OnHello(std::uint32_t value);
    void OnLoginReply(const std::uint8_t* payload, std::uint32_t length);
    void Disconnect();
    void Teardown();
    void OnLinkTick();  // link timer thread
    void OnLinkIdle();
    void FlushArpCache();
    void CloseOwnedWindows();
    void HideOwnedWindows();
    void OnBarCommand(int id);
    // Key mode: true when the key was consumed.
    bool PreTranslateKey(UINT msg, WPARAM vk);

    // --- dispatcher -----------------------------------------------------------
    void DispatchPacket(const std::uint8_t* header, const std::uint8_t* payload);
    void DispatchStream(const std::uint8_t* header, const std::uint8_t* descriptor);

    // --- media pipeline (media/view_media.cpp) ----------------------------------
    // Intake on the window thread.
    void QueueVideoFrame(const std::uint8_t* data, std::uint32_t length);
    void QueueMicData(std::uint32_t count, const std::uint8_t* data);
    void FlushStreams();
    // Worker steps.
    void DecodeStep();
    void DisplayStep();
    void AudioOutStep();
    void SendMicRecord();
    void StartWorkers();
    void StopWorkers();
    // Tests watch the decoder and display calls through these.
    void SetMediaDevices(VideoDecoder* decoder, DisplaySink* sink);
    StreamBuffers& Streams() { return *m_streams; }

    // --- live-view commands ---------------------------------------------------
    void EnterLeavePtzMode();
    void StepPtzChannel(int n);
    void HoldPtz(int id);
    void ReleasePtz(int id);
    void FlushPtz();

    // --- status list ------------------------------------------------------------
    void WriteStatus(std::u16string_view text);
    void WriteStatusF(const char* format, ...) __attribute__((format(printf, 2, 3)));
    std::u16string Lookup(std::u16string_view word) const;
    void ShowMode(int code);
    void ShowSpeed(std::uint8_t speedByte);
    void CountFrame();
    // Lines currently in the status list, oldest first.
    std::vector<std::u16string> StatusLines() const;
    // Called with every line written (the host's --print-status).
    void SetStatusObserver(std::function<void(const std::u16string&)> observer);

    // --- form and buttons -----------------------------------------------------------
    // Fills the login form and the video standard from the connection file.
    void LoadConnectionFile();
    std::u16string EditText(int id) const;
    void SetEditText(int id, const std::u16string& text);
    bool ButtonEnabled(int id) const;
    bool ButtonChecked(int id) const;
    void SetButtonChecked(int id, bool checked);
    void SetButtonEnabled(int id, bool enabled);

    // --- the panels' view of the view (KeyPanelOwner) ------------------------------
    void SendRemoteKey(std::uint8_t group, std::uint8_t code) override;
    int ChannelCount() override { return m_channelCount; }
    FrameStatusHeader CurrentStatus() override;
    int RecorderKind() override { return m_loginReply[4]; }
    bool DisplayEnabled() override { return m_displayEnabled != 0; }
    void ToggleDisplay() override { m_displayEnabled = m_displayEnabled != 0 ? 0 : 1; }
    void KeyPanelClosed() override { SetButtonChecked(kBtnKeyPanel, false); }
    void PanelDestroyed(const SkinPanel* panel) override;
    HWND ViewWindow() override { return hwnd(); }
    MainKeyPanel* KeyPanel() const { return m_keyPanel; }
    SetupPlay* PlayPanel() const { return m_playPanel; }

    // --- test and host hooks ------------------------------------------------------------
    void SetTickSource(std::unique_ptr<TickSource> source);
    void SetNeighbourTable(NeighbourTable* table);
    NSMG_SESSION Transport() const { return m_transport; }

    // --- client view state ----------------------------------------------------------------
    NSMG_SESSION m_transport = nullptr;
    std::atomic<std::int32_t> m_connectState{2};  // 1 logged in, 0 attempt under way, 2 idle
    std::atomic<std::int32_t> m_audioState{0};    // 0 idle, 1 requested, 2 announced, 3 active, 5 stop asked
    std::atomic<std::int32_t> m_channelCount{16};
    std::uint32_t m_serverHello = 0;
    std::array<std::uint8_t, packets::kLoginReplySize> m_loginReply{};
    std::atomic<std::uint8_t> m_videoSystemSeen{0};
    std::uint32_t m_sessionId = 0;
    bool m_linkTimer = false;  // the link timer runs
    std::atomic<std::uint32_t> m_tickCount{0};
    std::atomic<std::uint32_t> m_idleTicks{0};
    HWND m_hCtrlWnd = kNoWindow;
    std::int32_t m_videoStandard = 0;  // 1 NTSC, 0 PAL
    std::string m_langFile;
    bool m_keyMode = false;
    std::atomic<bool> m_showStats{false};
    std::atomic<std::uint8_t> m_lastSpeedByte{0};
    status_texts::FrameStats m_stats;
    std::u16string m_versionText;  // at most 24 units
    std::atomic<bool> m_ptzMode{false};
    std::int32_t m_heldPtzButton = 0;  // 0 none, a PTZ button id, -1 released
    std::atomic<std::int32_t> m_playMode{0};
    bool m_searchPending = false;
    std::array<std::uint8_t, packets::kVideoHeaderSize> m_videoInfo{};
    std::array<std::uint8_t, packets::kAudioHeaderSize> m_audioInfo{};
    std::array<std::uint8_t, packets::kRecordRangeSize> m_dvrTime{};
    // Frame rate of the video stream and its frame interval; a header that
    // announces 0 frames per second keeps the last good rate.
    std::atomic<std::uint32_t> m_framesPerSecond{30};
    std::atomic<std::uint32_t> m_frameIntervalMs{1000 / 30};
    // Set by the first key frame; cleared by overflow, flush and disconnect.
    std::atomic<bool> m_streamSynced{false};
    std::uint32_t m_lastTimeStamp = 0;
    packets::EventSearchHeader m_eventSearch;
    std::vector<std::uint8_t> m_rawSearchData;  // last record-list block, owned by the view
    // The recorder's time rules: set on the window thread, read by the display
    // worker for every picture, hence the lock.
    TimeManager m_time;
    mutable std::mutex m_timeLock;

    // Display state (written by the display worker; reset on the window thread
    // while the workers are stopped). The last status header is also read by
    // the key panel on the window thread, hence its lock.
    FrameStatusHeader m_currentStatus;
    mutable std::mutex m_currentStatusLock;
    std::int32_t m_lastScreenMode = -1;
    std::uint32_t m_channelEventActive = 0;
    std::uint32_t m_keyLock = 0;
    std::atomic<std::uint32_t> m_displayEnabled{1};
    PacingState m_pacing;

    // The PTZ channel last announced by the channel buttons; one per process.
    static std::atomic<std::uint16_t> lastPtzChannel;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void AppendStatusLine(const std::u16string& line);
    void CreateControls();
    void LayOutSkin();
    void PaintVersionText(QPainter& painter);
    ImageButton* Button(int id) const;
    void SetDisconnectedLook();
    void SetConnectedLook();
    void ApplyRights(std::uint32_t rights);
    void SetGroupEnabled(int group, bool enabled);
    void OnConnectButton();
    void OnDisconnectButton();
    void EndActiveTalk();
    int PtzChannel() const;
    void SetPtzChannel(int n);
    bool Send(const packets::Packet& p);

    // Received packets.
    void OnRecordRange(const std::uint8_t* p, std::uint32_t len);
    void OnEventSearchHeader(const std::uint8_t* p, std::uint32_t len);
    void OnSession(const std::uint8_t* p, std::uint32_t len);
    void OnVideoHeader(const std::uint8_t* p, std::uint32_t len);
    void OnStreamSettings(const std::uint8_t* p, std::uint32_t len);
    void OnStreamRestart();
    void OnTalkReply(const std::uint8_t* p, std::uint32_t len);
    void OnTalkStop();
    void OnTalkState(const std::uint8_t* p, std::uint32_t len);
    void OnTimeZone(const std::uint8_t* p, std::uint32_t len);
    void OnAudioSettings(const std::uint8_t* p, std::uint32_t len);
    void OnTalkOpen();
    void OnTalkClose();
    void OnTalkButton();
    void OnPlayPanel(WPARAM w);
    void OnCameraTitles(const std::uint8_t* data, std::uint32_t len);
    void OnEventData(const std::uint8_t* data, std::uint32_t len);

    void CreateMedia();
    void RestartDecoder();
    void EmptyStreams();
    void DestroyMedia();
    // Display state changes that the display worker hands to the window thread
    // in a private message.
    static constexpr UINT kMsgDisplayState = 2001;
    enum DisplayStateChange : WPARAM {
        kSearchButtonState = 1,  // lParam: enabled
        kPtzToggleState = 2,     // lParam: checked
        kKeyLockOn = 3,
        kKeyLockOff = 4,
        kRefreshKeyPanel = 5,
    };
    void PostDisplayState(DisplayStateChange change, LPARAM value = 0);
    void OnDisplayState(WPARAM change, LPARAM value);
    std::uint32_t LoginRights() const;

    // --- Seams: effects that the sound player, the panels, the search dialog
    // and the setup sheet provide. Until they exist these do nothing.
    void SetSoundVideoTimeStamp(std::uint32_t) {}
    void RefreshKeyPanel();
    void CreatePanels();
    void QueueAudio(std::uint32_t, const std::uint8_t*, std::uint32_t) {}
    void OpenCapture() {}
    void StopCapture() {}
    void StopTalkPlayback() {}
    void SetPlayerAutoStart() {}
    void ShowWaitingDialog();
    void CloseWaitingDialog();
    void ShowPlayPanel();
    void HidePlayPanel();
    void OpenSearchDialog() {}
    void EventListIntake(const std::uint8_t*, std::uint32_t) {}
    void PostToSearchDialog(UINT, WPARAM, LPARAM) {}
    void OpenSetupSheet(const packets::StreamSettings&) {}
    void FillAudioPage(const packets::AudioSettings&) {}
    void ToggleKeyPanel(bool show);

    QLineEdit* m_edits[4] = {};
    CToolTipListBox* m_statusList = nullptr;
    QLabel* m_ptzChannelLabel = nullptr;
    // The skin: the background as back buffer (pure blue made transparent, so
    // the video shows through) and the 22 buttons of the bar.
    std::unique_ptr<SkinnedSurface> m_skin;
    bool m_mouseCaptured = false;
    DLG_Waiting m_waitDlg;
    MainKeyPanel* m_keyPanel = nullptr;
    SetupPlay* m_playPanel = nullptr;
    std::unique_ptr<StreamBuffers> m_streams;
    WorkerThread m_decompressWorker;
    WorkerThread m_displayWorker;
    WorkerThread m_audioOutWorker;
    WorkerThread m_audioInWorker;
    VideoDecoder* m_decoder;
    DisplaySink* m_displaySink;
    std::uint32_t m_decoderHandle = 0;
    DecodeFrameParams m_decodeParams{};
    std::int32_t m_audioDecoderHandle = -1;
    std::int32_t m_audioEncoderHandle = -1;
    Deinterlacer m_deinterlacer;
    std::unique_ptr<TickSource> m_tickSource;
    NeighbourTable* m_neighbours = nullptr;
    std::function<void(const std::u16string&)> m_statusObserver;
    bool m_captureOpened = false;
    bool m_initialised = false;
    bool m_tornDown = false;
};
