#include "panels/main_key_panel.h"

#include <array>

#include "protocol/client_messages.h"

namespace {

// What the mode step does to a group of keys.
enum : char {
    kKeep = 'k',   // unchanged
    kOn = '+',     // enabled, state normal
    kOff = '-',    // disabled, state disabled
    kCheck = 'c',  // look unchanged, checked set (never cleared here)
};

// Columns of a mode row, in this order.
enum Column : int {
    kColChannels,
    kColDivisions,
    kColChannelStatus,
    kColPlayback,
    kColPlaybackStop,
    kColFreeze,
    kColSequence,
    kColPip,
    kColFreezeRelease,
    kColZoom,
    kColDisplay,
    kColFunctions,
    kColumnCount
};

struct ModeRow {
    int mode;
    const char* looks;  // kColumnCount characters
};

// The recorder's screen modes and what each does to the keys; modes not in
// the table (9 RECORD among them) leave every key alone. The close key is
// never touched.
constexpr std::array<ModeRow, 11> kModeRows{{
    {0, "kk++++++-+++"},   // LIVE
    {1, "kk--k-----+k"},   // PLAY
    {2, "----------+-"},   // MENU
    {3, "------c---+-"},   // SEQUENCE
    {4, "-------c--+-"},   // PIP
    {5, "k--------c+k"},   // ZOOM
    {6, "k-------+--k"},   // FREEZE
    {7, "----------+-"},   // SEARCH
    {8, "k---------+k"},   // PTZ
    {10, "----------+-"},  // LOGIN
    {15, "++---+----+-"},  // DID
}};

constexpr int kFreezeMode = 6;

UINT ChannelKey(int n) { return MainKeyPanel::kFirstKey + 4 * static_cast<UINT>(n - 1); }

void Apply(ImageButton* b, char look) {
    if (b == nullptr) {
        return;
    }
    switch (look) {
        case kOn:
            b->SetEnabled(true);
            break;
        case kOff:
            b->SetEnabled(false);
            break;
        case kCheck:
            b->SetChecked(true);
            break;
        default:
            break;
    }
}

}  // namespace

QWidget* KeyPanelViewWidget(KeyPanelOwner& owner) { return WidgetFromHandle(owner.ViewWindow()); }

MainKeyPanel::MainKeyPanel(KeyPanelOwner& owner, QWidget* parent, SkinSource* source)
    : SkinPanel(kBackgroundId, parent, source), m_owner(owner) {
    BuildKeys();
}

MainKeyPanel::~MainKeyPanel() = default;

void MainKeyPanel::BuildKeys() {
    for (UINT id = kFirstKey; id <= kLastKey; id += 4) {
        CreateButton(id);
    }
    for (UINT id : {kChannelStatus, kSequence, kPip, kZoom, kDisplay}) {
        Key(id)->MakeToggle(true);
    }
    Key(kFreezeRelease)->SetEnabled(false);
    DrawButtons();
    Place();
}

void MainKeyPanel::Place() {
    PlaceOver(KeyPanelViewWidget(m_owner));
}

void DockPanel(SkinPanel& panel, KeyPanelOwner& owner, const QRect& place) {
    const QWidget* view = KeyPanelViewWidget(owner);
    const QRect target =
        place.translated(view != nullptr ? view->mapToGlobal(QPoint(0, 0)) : QPoint(0, 0));
    if (panel.geometry() != target) {
        panel.setGeometry(target);
    }
    panel.update();
}

void MainKeyPanel::RefreshKeys() {
    // The display toggle shows a display that the client turned off.
    if (!m_owner.DisplayEnabled()) {
        Key(kDisplay)->SetChecked(true);
    }

    const int channels = m_owner.ChannelCount();
    const FrameStatusHeader status = m_owner.CurrentStatus();
    bool channelEvent = false;
    for (int ch = 0; ch < channels && ch < 16; ++ch) {
        if ((status.channelStatus(ch) & 0x300) != 0) {
            channelEvent = true;
        }
    }
    Key(kChannelStatus)->SetChecked(channelEvent);

    if (channels == 4 || channels == 8 || channels == 16) {
        for (int n = 1; n <= 16; ++n) {
            Key(ChannelKey(n))->SetEnabled(n <= channels);
        }
        Key(kDivisionA)->SetEnabled(true);
        Key(kDivisionB)->SetEnabled(channels >= 8);
        Key(kDivisionC)->SetEnabled(channels >= 16);
    }

    const int mode = status.screenMode();
    const ModeRow* row = nullptr;
    for (const ModeRow& r : kModeRows) {
        if (r.mode == mode) {
            row = &r;
        }
    }
    if (row == nullptr) {
        return;
    }
    const char* look = row->looks;
    for (int n = 1; n <= 16; ++n) {
        Apply(Key(ChannelKey(n)), look[kColChannels]);
    }
    for (UINT id : {kDivisionA, kDivisionB, kDivisionC}) {
        Apply(Key(id), look[kColDivisions]);
    }
    Apply(Key(kChannelStatus), look[kColChannelStatus]);
    Apply(Key(kPlayback), look[kColPlayback]);
    Apply(Key(kPlaybackStop), look[kColPlaybackStop]);
    Apply(Key(kFreeze), look[kColFreeze]);
    Apply(Key(kSequence), look[kColSequence]);
    Apply(Key(kPip), look[kColPip]);
    Apply(Key(kFreezeRelease), look[kColFreezeRelease]);
    Apply(Key(kZoom), look[kColZoom]);
    Apply(Key(kDisplay), look[kColDisplay]);
    Apply(Key(kFunction19), look[kColFunctions]);
    Apply(Key(kFunction20), look[kColFunctions]);
}

void MainKeyPanel::RequestRefresh() { PostMessage(hwnd(), kMsgRefreshKeys, 0, 0); }

void MainKeyPanel::OnKey(int index) {
    if (index < 0 || index > 120 || index % 4 != 0) {
        return;
    }
    const UINT id = kFirstKey + static_cast<UINT>(index);
    // The toggles answer with their state after the click's own flip.
    const bool checked = Key(id) != nullptr && Key(id)->checked != 0;
    auto send = [this](std::uint8_t g, std::uint8_t c) { m_owner.SendRemoteKey(g, c); };

    if (id < kDivisionA) {
        send(3, static_cast<std::uint8_t>(index / 4 + 1));
        return;
    }
    switch (id) {
        case kDivisionA:
            send(9, 2);
            break;
        case kDivisionB:
            send(9, 3);
            break;
        case kDivisionC:
            send(9, 4);
            break;
        case kChannelStatus:
            checked ? send(1, 10) : send(1, 18);
            break;
        case kPlayback:
            // The view arms the playback panel before the recorder answers.
            PostMessage(m_owner.ViewWindow(), UM_PLAY_PANEL, 1, 0);
            send(1, 9);
            break;
        case kPlaybackStop:
            PostMessage(m_owner.ViewWindow(), UM_PLAY_PANEL, 0, 0);
            send(1, 18);
            break;
        case kFreeze:
            send(1, 6);
            break;
        case kSequence:
            checked ? send(1, 1) : send(0, 51);
            break;
        case kPip:
            checked ? send(1, 5) : send(0, 51);
            break;
        case kFreezeRelease:
            if (m_owner.CurrentStatus().screenMode() == kFreezeMode) {
                send(0, 51);
            }
            break;
        case kZoom:
            checked ? send(1, 3) : send(0, 51);
            break;
        case kDisplay:
            m_owner.ToggleDisplay();
            break;
        case kClose:
            m_owner.KeyPanelClosed();
            hide();
            break;
        case kFunction19:
            send(1, 19);
            break;
        case kFunction20:
            send(1, 20);
            break;
        default:
            break;
    }
}

LRESULT MainKeyPanel::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_SHOWWINDOW:
            if (wParam != 0) {
                RefreshKeys();
            }
            return 0;
        case UM_BUTTON_CLICK:
            OnKey(static_cast<int>(wParam) - static_cast<int>(kFirstKey));
            return 0;
        case kMsgRefreshKeys:
            RefreshKeys();
            return 0;
        case WM_MOVE:
            if (m_owner.RecorderKind() == kDockingRecorderKind) {
                Dock();
            }
            return 0;
        case WM_DESTROY:
            m_owner.PanelDestroyed(this);
            return 0;
        default:
            return SkinPanel::WindowProc(msg, wParam, lParam);
    }
}
