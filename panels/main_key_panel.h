#pragma once
// MainKeyPanel: the on-screen copy of the recorder's front-panel keys — 16
// channel keys, three division keys and twelve function keys drawn from the
// skin (background 10002, keys 20200 … 20320 step 4). A click sends the key's
// (group, code) pair through the owner; the display toggle and the close key
// act on the client instead. RefreshKeys keeps the keys' look in step with the
// recorder's channel count and screen mode.
//
// KeyPanelOwner: what the key and playback panels need of the client view,
// kept small so the panels can be driven by a fake owner.
//
// Threads: the panel is a window of the window thread; everything runs there
// except RequestRefresh, which any thread (the Display worker) may call.

#include <cstdint>

#include "media/stream_buffers.h"
#include "panels/skin_panel.h"

class KeyPanelOwner {
public:
    // Sends the REMOTE KEY pair; the owner drops it while not logged in.
    virtual void SendRemoteKey(std::uint8_t group, std::uint8_t code) = 0;
    // m_channelCount.
    virtual int ChannelCount() = 0;
    // A copy of the last status header of the stream (m_currentStatus).
    virtual FrameStatusHeader CurrentStatus() = 0;
    // Byte 4 of the login reply.
    virtual int RecorderKind() = 0;
    // m_displayEnabled != 0, and its inversion.
    virtual bool DisplayEnabled() = 0;
    virtual void ToggleDisplay() = 0;
    // The close key: uncheck and redraw the view's key-panel toggle.
    virtual void KeyPanelClosed() = 0;
    // The panel's window is being destroyed: forget the pointer to it.
    virtual void PanelDestroyed(const SkinPanel* /*panel*/) {}
    // The view's window: the target of UM_PLAY_PANEL and the panels' anchor.
    virtual HWND ViewWindow() = 0;

protected:
    ~KeyPanelOwner() = default;
};

// A recorder of kind 3 pins both panels to fixed places on the view: `place`
// is the panel's rectangle relative to the view. DockPanel moves it there (in
// screen coordinates) and repaints it; on the panel's own WM_MOVE it snaps back.
constexpr int kDockingRecorderKind = 3;
void DockPanel(SkinPanel& panel, KeyPanelOwner& owner, const QRect& place);

class MainKeyPanel : public SkinPanel {
public:
    static constexpr int kTemplateId = 204;
    static constexpr int kBackgroundId = 10002;
    static constexpr UINT kFirstKey = 20200;
    static constexpr UINT kLastKey = 20320;
    static constexpr int kKeyCount = 31;

    // Key ids beyond the channel keys (20200 + 4(n - 1)).
    enum : UINT {
        kDivisionA = 20264,
        kDivisionB = 20268,
        kDivisionC = 20272,
        kChannelStatus = 20276,
        kPlayback = 20280,
        kPlaybackStop = 20284,
        kFreeze = 20288,
        kSequence = 20292,
        kPip = 20296,
        kFreezeRelease = 20300,
        kZoom = 20304,
        kDisplay = 20308,
        kClose = 20312,
        kFunction19 = 20316,
        kFunction20 = 20320,
    };
    // Posted to the panel by RequestRefresh.
    static constexpr UINT kMsgRefreshKeys = WM_USER + 1;

    // Builds the keys and places the panel over the owner's view (hidden).
    // source null: Pixmart.
    explicit MainKeyPanel(KeyPanelOwner& owner, QWidget* parent = nullptr,
                          SkinSource* source = nullptr);
    ~MainKeyPanel() override;

    // The look of the keys from the owner's state. Window thread.
    void RefreshKeys();
    // Hands a refresh to the panel's window thread. Any thread.
    void RequestRefresh();

    // The click action of key kFirstKey + index.
    void OnKey(int index);

    ImageButton* Key(UINT id) { return Buttons().Find(id); }
    // Its place on the view when the recorder kind docks it.
    static constexpr QRect kDockPlace{16, 513, 504, 145};
    void Dock() { DockPanel(*this, m_owner, kDockPlace); }

    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void BuildKeys();
    void Place();

    KeyPanelOwner& m_owner;
};

// The view's widget for a handle (WidgetFromHandle), or null.
QWidget* KeyPanelViewWidget(KeyPanelOwner& owner);

