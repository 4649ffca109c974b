#include "panels/skin_panel.h"

#include <QMouseEvent>
#include <QPainter>

SkinPanel::SkinPanel(int backgroundId, QWidget* parent, SkinSource* source)
    : Window(parent), m_surface(*this, source) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_surface.LoadBackground(backgroundId);
    resize(qMax(m_surface.Width(), 1), qMax(m_surface.Height(), 1));
}

SkinPanel::~SkinPanel() = default;

void SkinPanel::DrawButtons() {
    m_surface.DrawAll();
    update();
}

void SkinPanel::PlaceOver(const QWidget* view) {
    const SkinRect& r = m_surface.BackgroundRect();
    const QPoint origin = view != nullptr ? view->mapToGlobal(QPoint(0, 0)) : QPoint(0, 0);
    setGeometry(QRect(origin + QPoint(r.left, r.top),
                      QSize(qMax(r.right - r.left, 1), qMax(r.bottom - r.top, 1))));
}

bool SkinPanel::event(QEvent* e) {
    switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
            m_lastScreen = static_cast<QMouseEvent*>(e)->globalPosition().toPoint();
            break;
        default:
            break;
    }
    return Window::event(e);
}

LRESULT SkinPanel::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (m_surface.HandleMessage(msg, wParam, lParam)) {
        return 0;
    }
    const QPoint point(XFromLParam(lParam), YFromLParam(lParam));
    switch (msg) {
        case WM_PAINT:
            if (PaintPainter() != nullptr) {
                m_surface.CopyTo(*PaintPainter());
            }
            return 0;
        case WM_ERASEBKGND:
            if (wParam != 0) {
                m_surface.CopyTo(*reinterpret_cast<QPainter*>(wParam));
            }
            return 1;
        case WM_LBUTTONDOWN:
            m_leftDown = true;
            if (!m_surface.PressAll(point)) {
                // Nobody took the press: the panel goes with the pointer, as
                // a press on a caption would.
                const QPoint screen = mapToGlobal(point);
                PostMessage(hwnd(), WM_NCLBUTTONDOWN, HTCAPTION,
                            MakeLParam(screen.x(), screen.y()));
            }
            return 0;
        case WM_NCLBUTTONDOWN:
            // Only while the press that asked for it is still held.
            if (wParam == HTCAPTION && m_leftDown) {
                m_dragging = true;
                m_dragStartScreen = QPoint(XFromLParam(lParam), YFromLParam(lParam));
                m_dragStartPos = pos();
                m_lastScreen = m_dragStartScreen;
            }
            return 0;
        case WM_MOUSEMOVE:
            if (m_dragging) {
                // The drag takes the moves, as the system's move loop would.
                move(m_dragStartPos + (m_lastScreen - m_dragStartScreen));
                return 0;
            }
            m_surface.MoveAll(true, point);
            return 0;
        case WM_LBUTTONUP:
            m_leftDown = false;
            if (m_dragging) {
                m_dragging = false;
                return 0;
            }
            m_surface.ReleaseAll(point);
            return 0;
        default:
            return Window::WindowProc(msg, wParam, lParam);
    }
}
