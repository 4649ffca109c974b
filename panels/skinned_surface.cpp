#include "panels/skinned_surface.h"

#include <QPainter>

#include "protocol/client_messages.h"

SkinnedSurface::SkinnedSurface(Window& owner, SkinSource* source)
    : m_owner(owner),
      m_source(source != nullptr ? *source : PixmartSkin()),
      m_buttons(owner, &m_source) {}

void SkinnedSurface::LoadBackground(int backgroundId) {
    m_bkRect = SkinRect{};
    m_source.GetResourceRect(backgroundId, &m_bkRect);
    const HBITMAP picture = m_source.GetBackgroundBitmap(backgroundId);
    // A format QPainter draws into; pictures with alpha keep it.
    if (picture != nullptr && !picture->isNull()) {
        m_backBuffer = picture->convertToFormat(picture->hasAlphaChannel()
                                                    ? QImage::Format_ARGB32_Premultiplied
                                                    : QImage::Format_RGB32);
    } else {
        m_backBuffer = QImage(qMax(Width(), 1), qMax(Height(), 1), QImage::Format_RGB32);
        m_backBuffer.fill(Qt::black);
    }
}

bool SkinnedSurface::DrawAll() {
    QPainter p(&m_backBuffer);
    return m_buttons.DrawAll(&p);
}

bool SkinnedSurface::PressAll(QPoint point) {
    QPainter p(&m_backBuffer);
    return m_buttons.PressAll(&p, point);
}

bool SkinnedSurface::ReleaseAll(QPoint point) {
    QPainter p(&m_backBuffer);
    return m_buttons.ReleaseAll(&p, point);
}

bool SkinnedSurface::MoveAll(bool leftHeld, QPoint point) {
    QPainter p(&m_backBuffer);
    return m_buttons.MoveAll(&p, leftHeld, point);
}

void SkinnedSurface::CopyTo(QPainter& target, QPoint at) const {
    target.save();
    target.setCompositionMode(QPainter::CompositionMode_Source);
    target.drawImage(at, m_backBuffer, QRect(0, 0, Width(), Height()));
    target.restore();
}

bool SkinnedSurface::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case UM_REPAINT_RECT: {
            const auto* r = reinterpret_cast<const SkinRect*>(lParam);
            if (r != nullptr) {
                m_owner.update(QRect(QPoint(r->left, r->top), QPoint(r->right - 1, r->bottom - 1)));
            }
            return true;
        }
        case UM_DRAW_BUTTON: {
            // Posted by setters, possibly from a worker: the pointer is one of
            // ours for as long as this owner lives, but we check all the same.
            auto* b = reinterpret_cast<ImageButton*>(wParam);
            if (b != nullptr && m_buttons.Holds(b) && b->visible == 1) {
                QPainter p(&m_backBuffer);
                b->Draw(&p);
            }
            return true;
        }
        case WM_TIMER:
            return m_buttons.OnTimer(static_cast<UINT>(wParam));
        default:
            return false;
    }
}
