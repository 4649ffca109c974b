#pragma once
// CMemDC: an off-screen drawing buffer for flicker-free painting. Draw through
// it with the target's coordinates; when it goes out of scope the area is
// copied to the target in one piece. On a printer there is nothing to gain:
// drawing goes straight to the target and nothing is copied at the end.

#include <QImage>
#include <QPainter>
#include <QRect>

class CMemDC {
public:
    // area: in the target's logical coordinates; null means the target's clip
    // box (the whole device when it does not clip). copyFirst: start from the
    // target's current pixels of the area (when the target is a picture we can
    // read: QImage or QPixmap); otherwise the area starts as the target's
    // background colour.
    CMemDC(QPainter* target, const QRect* area = nullptr, bool copyFirst = false);
    ~CMemDC();
    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    // The painter to draw with: the buffer's, or the target's itself when not buffered.
    QPainter* painter() { return m_buffered ? &m_painter : m_target; }
    QPainter* operator->() { return painter(); }
    operator QPainter*() { return painter(); }

    bool IsBuffered() const { return m_buffered; }
    const QRect& Rect() const { return m_rect; }
    const QImage& Buffer() const { return m_bitmap; }

private:
    QImage m_bitmap;
    QPainter m_painter;
    QPainter* m_target;
    QRect m_rect;        // logical, in the target's coordinates
    QRect m_deviceRect;  // the same area in device pixels
    bool m_buffered;
};
