#pragma once
// SkinPanel: a popup panel drawn entirely from the skin — a background and a
// chain of ImageButtons — that the user drags by its background. The key
// panel and the playback panel derive from it and call SkinPanel::WindowProc
// for everything they do not handle themselves.
//
// Window thread only.

#include <QPoint>

#include "panels/skinned_surface.h"
#include "platform/window.h"

// Non-client messages we use for the background drag.
enum : UINT { WM_NCLBUTTONDOWN = 0x00A1 };
enum : WPARAM { HTCAPTION = 2 };

class SkinPanel : public Window {
public:
    // Loads the background `backgroundId` at once. source null: Pixmart.
    explicit SkinPanel(int backgroundId, QWidget* parent = nullptr, SkinSource* source = nullptr);
    ~SkinPanel() override;

    // WM_PAINT, WM_ERASEBKGND: the back buffer to the window. WM_LBUTTONDOWN:
    // the buttons, else a drag by the background. WM_LBUTTONUP, WM_MOUSEMOVE
    // (always as if the left button were held), UM_REPAINT_RECT,
    // UM_DRAW_BUTTON, WM_TIMER (repeat timers).
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

    SkinnedSurface& Surface() { return m_surface; }
    ButtonChain& Buttons() { return m_surface.Buttons(); }
    ImageButton* CreateButton(UINT id) { return m_surface.CreateButton(id); }
    const SkinRect& BackgroundRect() const { return m_surface.BackgroundRect(); }

    // Draws the visible buttons into the back buffer and repaints the whole window.
    void DrawButtons();
    // Moves and sizes the window (no repaint of its own) to the client origin
    // of `view` on the screen plus the background rectangle's left and top,
    // with the background rectangle's size.
    void PlaceOver(const QWidget* view);

    bool Dragging() const { return m_dragging; }

protected:
    // Keeps the screen position of the last mouse event for the drag.
    bool event(QEvent* e) override;

private:
    SkinnedSurface m_surface;
    bool m_leftDown = false;
    bool m_dragging = false;
    QPoint m_dragStartScreen;
    QPoint m_dragStartPos;
    QPoint m_lastScreen;
};
