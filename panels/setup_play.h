#pragma once
// SetupPlay: the playback panel — ten plain keys from the skin (background
// 10003, keys 20400 … 20436 step 4), each sending one REMOTE KEY pair through
// the owner. The view shows and hides it in answer to UM_PLAY_PANEL; the stop
// key hides it too.
//
// Window thread only.

#include <cstdint>
#include <optional>
#include <utility>

#include "panels/main_key_panel.h"

// The (group, code) pair of playback key `id` for a recorder kind; none for
// ids that are not keys. Kinds 1 and 5 move three codes around.
std::optional<std::pair<std::uint8_t, std::uint8_t>> PlayKeyPair(UINT id, int recorderKind);

class SetupPlay : public SkinPanel {
public:
    static constexpr int kTemplateId = 205;
    static constexpr int kBackgroundId = 10003;
    static constexpr UINT kFirstKey = 20400;
    static constexpr UINT kLastKey = 20436;
    static constexpr UINT kStop = 20428;

    // Builds the keys, remembers the recorder kind and places the panel over
    // the owner's view (hidden). source null: Pixmart.
    explicit SetupPlay(KeyPanelOwner& owner, QWidget* parent = nullptr,
                       SkinSource* source = nullptr);
    ~SetupPlay() override;

    // Sends the key's pair for the current recorder kind; the stop key then
    // hides the panel. Other ids do nothing.
    void OnKey(UINT id);

    void ShowPanel();
    void HidePanel();

    ImageButton* Key(UINT id) { return Buttons().Find(id); }
    // The recorder kind seen when the keys were built.
    int BuildKind() const { return m_buildKind; }
    // Its place on the view when the recorder kind docks it.
    static constexpr QRect kDockPlace{522, 513, 138, 145};
    void Dock() { DockPanel(*this, m_owner, kDockPlace); }

    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void BuildKeys();

    KeyPanelOwner& m_owner;
    int m_buildKind = 0;
};
