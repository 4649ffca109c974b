#include "panels/setup_play.h"

#include "protocol/client_messages.h"

std::optional<std::pair<std::uint8_t, std::uint8_t>> PlayKeyPair(UINT id, int recorderKind) {
    const bool swapped = recorderKind == 1 || recorderKind == 5;
    using Pair = std::pair<std::uint8_t, std::uint8_t>;
    switch (id) {
        case 20400:
            return Pair{2, 3};
        case 20404:
            return swapped ? Pair{2, 9} : Pair{2, 7};
        case 20408:
            return Pair{2, 5};
        case 20412:
            return Pair{2, 8};
        case 20416:
            return Pair{2, 4};
        case 20420:
            return Pair{2, 6};
        case 20424:
            return Pair{2, 2};
        case 20428:
            return Pair{1, 18};
        case 20432:
            return swapped ? Pair{2, 10} : Pair{2, 9};
        case 20436:
            return swapped ? Pair{2, 7} : Pair{2, 10};
        default:
            return std::nullopt;
    }
}

SetupPlay::SetupPlay(KeyPanelOwner& owner, QWidget* parent, SkinSource* source)
    : SkinPanel(kBackgroundId, parent, source), m_owner(owner) {
    BuildKeys();
}

SetupPlay::~SetupPlay() = default;

void SetupPlay::BuildKeys() {
    m_buildKind = m_owner.RecorderKind();
    for (UINT id = kFirstKey; id <= kLastKey; id += 4) {
        CreateButton(id);
    }
    // Kind 4 recorders take the keys in one row of seven, but only over the
    // skin they were drawn for (first key at top 56, right 64).
    const SkinRect first = Key(kFirstKey)->rect;
    if (m_buildKind == 4 && first.top == 56 && first.right == 64) {
        for (int i = 0; i < 7; ++i) {
            const int left = 22 + 52 * i;
            Key(kFirstKey + 4 * static_cast<UINT>(i))->rect = SkinRect{left, 56, left + 38, 94};
        }
        Key(20432)->rect = SkinRect{};
        Key(20436)->rect = SkinRect{};
    }
    PlaceOver(KeyPanelViewWidget(m_owner));
    DrawButtons();
}

void SetupPlay::OnKey(UINT id) {
    const auto pair = PlayKeyPair(id, m_owner.RecorderKind());
    if (!pair) {
        return;
    }
    m_owner.SendRemoteKey(pair->first, pair->second);
    if (id == kStop) {
        HidePanel();
    }
}

void SetupPlay::ShowPanel() { show(); }

void SetupPlay::HidePanel() { hide(); }

LRESULT SetupPlay::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case UM_BUTTON_CLICK:
            OnKey(static_cast<UINT>(wParam));
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
