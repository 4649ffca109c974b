#include "panels/image_button.h"

#include <QPainter>

#include "protocol/client_messages.h"

ImageButton* ImageButton::s_repeating = nullptr;

ImageButton* ImageButton::Create(UINT id, ButtonChain& chain) {
    auto* b = new ImageButton();
    b->id = id;
    b->enabled = 1;
    b->state = kStateNormal;
    b->visible = 1;
    b->m_source = &chain.Source();
    b->m_timerWindow = &chain.Owner();
    b->m_source->GetResourceRect(static_cast<int>(id), &b->rect);
    b->m_source->GetButtonBitmaps(static_cast<int>(id), &b->pictures[kNormal], &b->pictures[kHover],
                                  &b->pictures[kPressed], &b->pictures[kDisabled]);
    b->owner = chain.Owner().hwnd();
    chain.Append(b);
    return b;
}

ImageButton::~ImageButton() {
    if (s_repeating == this) {
        StopRepeat();
    }
    // The checked set reuses handles of the normal set, and a skin may give
    // the same picture for several looks: each handle goes back once.
    HBITMAP released[8] = {};
    int count = 0;
    for (HBITMAP h : pictures) {
        released[count++] = h;
    }
    for (HBITMAP h : checkedPictures) {
        released[count++] = h;
    }
    for (int i = 0; i < count; ++i) {
        HBITMAP h = released[i];
        bool seen = h == nullptr;
        for (int j = 0; j < i && !seen; ++j) {
            seen = released[j] == h;
        }
        if (!seen && m_source != nullptr) {
            m_source->ReleaseBitmap(h);
        }
    }
}

void ImageButton::Post(UINT msg, WPARAM wParam, LPARAM lParam) const {
    if (owner != kNoWindow) {
        PostMessage(owner, msg, wParam, lParam);
    }
}

void ImageButton::RequestRedraw() {
    Post(UM_DRAW_BUTTON, reinterpret_cast<WPARAM>(this), reinterpret_cast<LPARAM>(&rect));
}

LPARAM ImageButton::ClickParam() const {
    return static_cast<LPARAM>(isToggle) | (static_cast<LPARAM>(checked.load()) << 16);
}

void ImageButton::SetEnabled(bool e) {
    enabled = e ? 1 : 0;
    state = e ? kStateNormal : kStateDisabled;
    RequestRedraw();
}

void ImageButton::SetVisible(bool v) {
    visible = v ? 1 : 0;
    RequestRedraw();
}

void ImageButton::SetChecked(bool c) {
    checked = c ? 1 : 0;
    RequestRedraw();
}

void ImageButton::MakeToggle(bool withCheckedPictures) {
    isToggle = 1;
    if (withCheckedPictures) {
        checkedPictures[kNormal] = pictures[kPressed];
        checkedPictures[kHover] = pictures[kPressed];
        checkedPictures[kPressed] = pictures[kNormal];
        checkedPictures[kDisabled] = pictures[kPressed];
    }
}

void ImageButton::SetAutoRepeat(std::uint32_t intervalMs) {
    autoRepeat = 1;
    repeatInterval = intervalMs;
}

bool ImageButton::Draw(QPainter* surface) {
    if (surface == nullptr) {
        return false;
    }
    const HBITMAP* set = (isToggle == 1 && checked == 1) ? checkedPictures : pictures;
    HBITMAP picture = nullptr;
    switch (state.load()) {
        case kStateNormal:
        case kStateHover:
        case kStatePressed:
            picture = set[state.load()];
            break;
        case kStateDisabled:
            picture = set[kDisabled] != nullptr ? set[kDisabled] : set[kNormal];
            break;
        default:
            break;
    }
    if (picture == nullptr) {
        return false;
    }
    surface->save();
    surface->setCompositionMode(QPainter::CompositionMode_Source);
    surface->drawImage(QPoint(rect.left, rect.top), *picture,
                       QRect(0, 0, rect.right - rect.left, rect.bottom - rect.top));
    surface->restore();
    Post(UM_REPAINT_RECT, id, reinterpret_cast<LPARAM>(&rect));
    return true;
}

void ImageButton::StartRepeat() {
    if (repeatInterval == 0) {
        repeatInterval = 10;
    }
    s_repeating = this;
    if (m_timerWindow != nullptr) {
        m_timerWindow->SetTimer(id, repeatInterval);
    }
}

void ImageButton::StopRepeat() {
    if (m_timerWindow != nullptr) {
        m_timerWindow->KillTimer(id);
    }
    s_repeating = nullptr;
}

bool ImageButton::OnPress(QPainter* surface, QPoint point) {
    if (enabled == 0 || visible == 0) {
        return false;
    }
    if (Contains(point)) {
        if (state == kStatePressed) {
            return false;
        }
        state = kStatePressed;
        if (autoRepeat == 1) {
            StartRepeat();
        }
        Post(UM_BUTTON_DOWN, id, 0);
    } else {
        if (state == kStateNormal) {
            return false;
        }
        state = kStateNormal;
    }
    if (visible == 1) {
        Draw(surface);
    }
    return true;
}

bool ImageButton::OnRelease(QPainter* surface, QPoint point) {
    if (enabled == 0 || visible == 0) {
        return false;
    }
    // A release anywhere ends the repeat, pressed or not.
    if (autoRepeat == 1) {
        StopRepeat();
    }
    if (Contains(point)) {
        if (state == kStateHover) {
            return false;
        }
        if (state == kStatePressed) {
            if (isToggle == 1) {
                checked = checked == 0 ? 1 : 0;
            }
            if (autoRepeat == 1) {
                Post(UM_BUTTON_REPEAT, id, 0);
            } else {
                Post(UM_BUTTON_CLICK, id, ClickParam());
            }
            Post(UM_BUTTON_UP, id, 0);
        }
        state = kStateHover;
    } else {
        if (state == kStateNormal) {
            return false;
        }
        state = kStateNormal;
    }
    if (visible == 1) {
        Draw(surface);
    }
    return true;
}

bool ImageButton::OnMove(QPainter* surface, bool leftHeld, QPoint point) {
    if (enabled == 0 || visible == 0) {
        return false;
    }
    const bool inside = Contains(point);
    if (autoRepeat == 1 && state == kStatePressed && !inside) {
        StopRepeat();
        Post(UM_BUTTON_REPEAT, id, 0);
    }
    if (!leftHeld) {
        if (inside) {
            if (state == kStateHover) {
                return false;
            }
            state = kStateHover;
        } else {
            if (state == kStateNormal) {
                return false;
            }
            state = kStateNormal;
        }
    } else {
        if (inside) {
            if (state == kStateHover || state == kStatePressed) {
                return false;
            }
            state = kStateHover;
        } else {
            if (state == kStateNormal) {
                return false;
            }
            if (state == kStatePressed) {
                Post(UM_BUTTON_UP, id, 0);
            }
            state = kStateNormal;
        }
    }
    if (visible == 1) {
        Draw(surface);
    }
    return true;
}

void ImageButton::OnRepeatTimer(MessageTarget* ownerWindow, UINT timerId) {
    ImageButton* b = s_repeating;
    // A button disabled or hidden while held never sees its release (it
    // ignores the mouse then), so its repeat ends here instead of running on.
    if (b != nullptr && b->autoRepeat == 1 && b->enabled && b->visible) {
        b->Post(UM_BUTTON_CLICK, timerId, b->ClickParam());
        return;
    }
    if (ownerWindow != nullptr) {
        ownerWindow->KillTimer(timerId);
    }
    s_repeating = nullptr;
}

// --- ButtonChain -------------------------------------------------------------

ButtonChain::ButtonChain(MessageTarget& owner, SkinSource* source)
    : m_owner(owner), m_source(source != nullptr ? *source : PixmartSkin()) {}

ButtonChain::~ButtonChain() {
    ImageButton* b = m_first;
    while (b != nullptr) {
        ImageButton* next = b->next;
        delete b;
        b = next;
    }
}

ImageButton* ButtonChain::Create(UINT id) {
    return ImageButton::Create(id, *this);
}

void ButtonChain::Append(ImageButton* button) {
    if (m_last != nullptr) {
        m_last->next = button;
    } else {
        m_first = button;
    }
    m_last = button;
    ++m_count;
}

ImageButton* ButtonChain::Find(UINT id) const {
    for (ImageButton* b = m_first; b != nullptr; b = b->next) {
        if (b->id == id) {
            return b;
        }
    }
    return nullptr;
}

bool ButtonChain::Holds(const ImageButton* button) const {
    for (ImageButton* b = m_first; b != nullptr; b = b->next) {
        if (b == button) {
            return true;
        }
    }
    return false;
}

bool ButtonChain::DrawAll(QPainter* surface) {
    bool any = false;
    for (ImageButton* b = m_first; b != nullptr; b = b->next) {
        if (b->visible == 1) {
            any = b->Draw(surface) || any;
        }
    }
    return any;
}

bool ButtonChain::PressAll(QPainter* surface, QPoint point) {
    bool any = false;
    for (ImageButton* b = m_first; b != nullptr; b = b->next) {
        any = b->OnPress(surface, point) || any;
    }
    return any;
}

bool ButtonChain::ReleaseAll(QPainter* surface, QPoint point) {
    bool any = false;
    for (ImageButton* b = m_first; b != nullptr; b = b->next) {
        any = b->OnRelease(surface, point) || any;
    }
    return any;
}

bool ButtonChain::MoveAll(QPainter* surface, bool leftHeld, QPoint point) {
    bool any = false;
    for (ImageButton* b = m_first; b != nullptr; b = b->next) {
        any = b->OnMove(surface, leftHeld, point) || any;
    }
    return any;
}

bool ButtonChain::OnTimer(UINT timerId) {
    if (Find(timerId) == nullptr) {
        return false;
    }
    ImageButton::OnRepeatTimer(&m_owner, timerId);
    return true;
}
