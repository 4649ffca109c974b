#pragma once
// ImageButton: a skinned key drawn into its owner's back buffer. It is not a
// window: the owner feeds it its mouse messages, and the button answers by
// posting messages to the owner (UM_BUTTON_*, UM_REPAINT_RECT, UM_DRAW_BUTTON,
// protocol/client_messages.h). Its id is also its skin resource id and the id
// of its auto-repeat timer.
//
// ButtonChain: the buttons of one owner, in creation order. The chain owns
// them; they die with it, that is with the owner.
//
// Threads: everything runs on the owner's window thread, except the setters
// SetEnabled, SetVisible and SetChecked, which the display worker calls too.
// They only write flags (atomics) and post UM_DRAW_BUTTON, so all painting
// stays on the window thread.

#include <QPoint>
#include <atomic>
#include <cstdint>

#include "panels/skin_source.h"
#include "platform/window.h"

class QPainter;
class ButtonChain;

class ImageButton {
public:
    // Picture slots.
    enum Look : int { kNormal = 0, kHover = 1, kPressed = 2, kDisabled = 3 };
    // Values of `state`.
    enum State : std::uint32_t {
        kStateNormal = 0,
        kStateHover = 1,
        kStatePressed = 2,
        kStateDisabled = 3,
    };

    // New button for the id: rectangle and pictures from the chain's skin
    // source, enabled, visible, state normal; the owner (the chain's) is set
    // last, so creating posts nothing. Appended to the chain, which owns it.
    static ImageButton* Create(UINT id, ButtonChain& chain);

    // Releases each distinct picture once. Stops the repeat timer if this is
    // the current repeating button.
    ~ImageButton();
    ImageButton(const ImageButton&) = delete;
    ImageButton& operator=(const ImageButton&) = delete;

    // Setters; each posts UM_DRAW_BUTTON (this, &rect) to the owner when set.
    void SetEnabled(bool e);  // also state = e ? normal : disabled
    void SetVisible(bool v);
    void SetChecked(bool c);
    // isToggle = 1; with checked pictures a checked toggle looks pressed, and
    // normal while it is being pressed.
    void MakeToggle(bool withCheckedPictures);
    // Held, the button reports a click every intervalMs (0 means 10 ms).
    void SetAutoRepeat(std::uint32_t intervalMs);

    // Copies the picture of the current look onto `surface` (the owner's back
    // buffer) at rect, opaque, then posts UM_REPAINT_RECT (id, &rect). Returns
    // false, painting and posting nothing, when surface is null or there is no
    // picture for the look.
    bool Draw(QPainter* surface);
    // Mouse operations, point in the owner's client coordinates. They return
    // whether the button changed; a changed button is drawn on `surface`
    // (null: not drawn).
    bool OnPress(QPainter* surface, QPoint point);
    bool OnRelease(QPainter* surface, QPoint point);
    bool OnMove(QPainter* surface, bool leftHeld, QPoint point);

    // One tick of the repeat timer `timerId` of `ownerWindow` (its WindowProc
    // forwards WM_TIMER here, through ButtonChain::OnTimer). Posts
    // UM_BUTTON_CLICK for the current repeating button; with none, stops the timer.
    static void OnRepeatTimer(MessageTarget* ownerWindow, UINT timerId);
    // The one button of the process that repeats right now, or null.
    static ImageButton* CurrentRepeatingButton() { return s_repeating; }

    bool Contains(QPoint p) const {
        return p.x() >= rect.left && p.x() < rect.right && p.y() >= rect.top && p.y() < rect.bottom;
    }
    HBITMAP Picture(int look, bool checkedSet = false) const {
        return checkedSet ? checkedPictures[look] : pictures[look];
    }

    // The button record. enabled, visible, checked and state are written by
    // the display worker through the setters, hence atomics.
    UINT id = static_cast<UINT>(-1);
    std::atomic<std::uint8_t> enabled{0};
    std::atomic<std::uint8_t> visible{0};
    std::uint8_t autoRepeat = 0;
    std::uint8_t isToggle = 0;
    std::atomic<std::uint8_t> checked{0};
    std::uint32_t repeatInterval = 0;
    std::atomic<std::uint32_t> state{kStateNormal};
    SkinRect rect;
    HBITMAP pictures[4] = {};
    HBITMAP checkedPictures[4] = {};
    HWND owner = kNoWindow;
    ImageButton* next = nullptr;

private:
    ImageButton() = default;
    void RequestRedraw();
    void Post(UINT msg, WPARAM wParam, LPARAM lParam) const;
    LPARAM ClickParam() const;
    void StartRepeat();
    void StopRepeat();

    // Where the pictures go back to, and the window whose timer repeats.
    SkinSource* m_source = nullptr;
    MessageTarget* m_timerWindow = nullptr;

    static ImageButton* s_repeating;
};

class ButtonChain {
public:
    // owner: the window that receives the buttons' messages and runs their
    // repeat timers. source null: Pixmart.
    explicit ButtonChain(MessageTarget& owner, SkinSource* source = nullptr);
    ~ButtonChain();  // deletes every button
    ButtonChain(const ButtonChain&) = delete;
    ButtonChain& operator=(const ButtonChain&) = delete;

    // ImageButton::Create(id, *this).
    ImageButton* Create(UINT id);

    ImageButton* First() const { return m_first; }
    ImageButton* Find(UINT id) const;
    bool Holds(const ImageButton* button) const;
    int Count() const { return m_count; }

    // Every button, first to last; the OR of the results. DrawAll draws the
    // visible buttons only.
    bool DrawAll(QPainter* surface);
    bool PressAll(QPainter* surface, QPoint point);
    bool ReleaseAll(QPainter* surface, QPoint point);
    bool MoveAll(QPainter* surface, bool leftHeld, QPoint point);

    // WM_TIMER of the owner: a timer whose id is one of the chain's buttons
    // goes to ImageButton::OnRepeatTimer (returns true); others are not ours.
    bool OnTimer(UINT timerId);

    MessageTarget& Owner() const { return m_owner; }
    SkinSource& Source() const { return m_source; }

private:
    friend class ImageButton;
    void Append(ImageButton* button);

    MessageTarget& m_owner;
    SkinSource& m_source;
    ImageButton* m_first = nullptr;
    ImageButton* m_last = nullptr;
    int m_count = 0;
};
