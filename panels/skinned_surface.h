#pragma once
// The drawing side of a skinned window: the back buffer (a private copy of the
// skin background, into which the buttons draw themselves) and the window's
// button chain, with the handling that every skinned owner shares — the
// panels (SkinPanel) and the client view alike.
//
// Window thread only.

#include <QImage>
#include <QPoint>
#include <QRect>

#include "panels/image_button.h"
#include "panels/skin_source.h"
#include "platform/window.h"

class QPainter;

class SkinnedSurface {
public:
    // owner: receives the buttons' messages, runs their timers and is the
    // widget repainted. source null: Pixmart.
    explicit SkinnedSurface(Window& owner, SkinSource* source = nullptr);

    // Takes the rectangle of the background id and a copy of its picture as
    // the back buffer (the skin's own picture is borrowed and left alone).
    // Without a picture the back buffer is black, of the rectangle's size.
    void LoadBackground(int backgroundId);

    QImage& BackBuffer() { return m_backBuffer; }
    const QImage& BackBuffer() const { return m_backBuffer; }
    const SkinRect& BackgroundRect() const { return m_bkRect; }
    int Width() const { return m_bkRect.right - m_bkRect.left; }
    int Height() const { return m_bkRect.bottom - m_bkRect.top; }

    ButtonChain& Buttons() { return m_buttons; }
    ImageButton* CreateButton(UINT id) { return m_buttons.Create(id); }

    // The chain operations with the back buffer as surface.
    bool DrawAll();
    bool PressAll(QPoint point);
    bool ReleaseAll(QPoint point);
    bool MoveAll(bool leftHeld, QPoint point);

    // Copies the back buffer (0, 0, width x height) to `target` at `at`, opaque.
    void CopyTo(QPainter& target, QPoint at = QPoint(0, 0)) const;

    // UM_REPAINT_RECT (repaint that rectangle of the owner), UM_DRAW_BUTTON
    // (draw a visible button of this chain into the back buffer) and WM_TIMER
    // of a button's repeat timer. Returns true when the message was one of them.
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

private:
    Window& m_owner;
    SkinSource& m_source;
    ButtonChain m_buttons;
    SkinRect m_bkRect;
    QImage m_backBuffer;
};
