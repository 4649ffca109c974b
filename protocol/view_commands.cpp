// What the view's own buttons do, and the live-view commands: remote keys and
// PTZ, paced by the received stream.

#include <QCoreApplication>

#include "protocol/client_messages.h"
#include "protocol/velnor_client_view.h"

using namespace packets;

namespace {

// What a pending hold of a PTZ pad button sends: the PTZ code in PTZ mode,
// else the remote key, if the button has one (group 0 = none).
struct PtzAction {
    int id;
    std::int32_t ptzCode;
    std::uint8_t keyGroup;
    std::uint8_t keyCode;
};
constexpr PtzAction kPtzActions[] = {
    {20020, 13, 0, 0},  {20024, 12, 0, 0},  {20036, 11, 0, 0},  {20040, 10, 0, 0},
    {20044, 0, 0, 38},  {20048, 1, 5, 6},   {20052, 2, 0, 39},  {20056, 3, 5, 7},
    {20060, 4, 0, 40},  {20064, 5, 5, 8},   {20068, 6, 0, 37},  {20072, 7, 5, 5},
};
constexpr std::int32_t kPtzReleaseCode = 22;

const PtzAction* FindPtzAction(int id) {
    for (const PtzAction& a : kPtzActions) {
        if (a.id == id) {
            return &a;
        }
    }
    return nullptr;
}

bool HasRemoteKey(const PtzAction& a) { return a.keyGroup != 0 || a.keyCode != 0; }

}  // namespace

void VelnorClientView::OnBarCommand(int id) {
    switch (id) {
        case kBtnConnect:
            OnConnectButton();
            break;
        case kBtnDisconnect:
            OnDisconnectButton();
            break;
        case kBtnExit:
            SendMessage(m_hCtrlWnd, UM_CLOSE_REQUEST, 0, 0);
            break;
        case kBtnKeyPanel:
            ToggleKeyPanel(ButtonChecked(kBtnKeyPanel));
            break;
        case kBtnSetup:
            if (m_connectState == 1) {
                ShowWaitingDialog();
                Send(EncodeStreamSettingsRequest());
            }
            break;
        case kBtnPtzChannelDown:
        case kBtnPtzChannelUp: {
            int v = PtzChannel();
            if (id == kBtnPtzChannelDown && v > 1) {
                v -= 1;
            } else if (id == kBtnPtzChannelUp && v < 16) {
                v += 1;
            }
            StepPtzChannel(v);
            break;
        }
        case kBtnTalk:
            OnTalkButton();
            break;
        case kBtnSearch:
            if (m_connectState == 1) {
                Send(EncodeRecordRange());
                m_searchPending = true;
            }
            break;
        case kBtnPtzMode:
            EnterLeavePtzMode();
            break;
        default:
            // PTZ pad: every auto-repeat tick renews the hold.
            if (IsPtzPadButton(id)) {
                HoldPtz(id);
            }
            break;
    }
}

void VelnorClientView::SendRemoteKey(std::uint8_t group, std::uint8_t code) {
    if (m_connectState == 1) {
        Send(EncodeRemoteKey(group, code));
    }
}

void VelnorClientView::EnterLeavePtzMode() {
    if (m_ptzMode) {
        m_ptzMode = false;
        SendRemoteKey(0, 51);
    } else {
        m_ptzMode = true;
        SendRemoteKey(1, 2);
        SendRemoteKey(3, static_cast<std::uint8_t>(PtzChannel()));
    }
    SetButtonChecked(kBtnPtzMode, m_ptzMode);
}

void VelnorClientView::StepPtzChannel(int n) {
    if (m_ptzMode && n != lastPtzChannel) {
        SendRemoteKey(3, static_cast<std::uint8_t>(n));
        lastPtzChannel = static_cast<std::uint16_t>(n);
    }
    SetPtzChannel(n);
}

void VelnorClientView::HoldPtz(int id) {
    if (IsPtzPadButton(id)) {
        m_heldPtzButton = id;
    }
}

void VelnorClientView::ReleasePtz(int id) {
    if (IsPtzPadButton(id)) {
        m_heldPtzButton = -1;
    }
}

void VelnorClientView::FlushPtz() {
    if (m_heldPtzButton == 0) {
        return;
    }
    const int held = m_heldPtzButton;
    m_heldPtzButton = 0;
    if (held == -1) {
        if (m_ptzMode && m_connectState == 1) {
            Send(EncodePtz(PtzChannel() - 1, kPtzReleaseCode));
        }
        return;
    }
    const PtzAction* a = FindPtzAction(held);
    if (a == nullptr) {
        return;
    }
    if (m_ptzMode) {
        if (m_connectState == 1) {
            Send(EncodePtz(PtzChannel() - 1, a->ptzCode));
        }
    } else if (HasRemoteKey(*a)) {
        SendRemoteKey(a->keyGroup, a->keyCode);
    }
}

// --- two-way audio button ------------------------------------------------------------

void VelnorClientView::EndActiveTalk() {
    Send(EncodeTalkState(2));
    Send(EncodeTalkStop(m_sessionId));
    Send(EncodeTalkEnd());
    m_audioState = 0;
    StopCapture();
    StopTalkPlayback();
}

void VelnorClientView::OnTalkButton() {
    const bool checked = ButtonChecked(kBtnTalk);
    if (m_connectState != 1) {
        if (checked) {
            SetButtonChecked(kBtnTalk, false);
        }
        return;
    }
    if (checked) {
        if (m_audioState != 0) {
            return;
        }
        Send(EncodeTalkRequest());
        m_audioState = 1;
        ShowWaitingDialog();
        return;
    }
    if (m_audioState == 3) {
        EndActiveTalk();
    }
    if (m_audioState == 2) {
        Send(EncodeTalkStop(m_sessionId));
        Send(EncodeTalkEnd());
        m_audioState = 0;
    }
    CloseWaitingDialog();
}
