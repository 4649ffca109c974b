#include "panels/mem_dc.h"

#include <QPaintDevice>
#include <QPixmap>

namespace {

QRect TargetArea(QPainter* target, const QRect* area) {
    if (area != nullptr) {
        return area->normalized();
    }
    if (target->hasClipping()) {
        return target->clipBoundingRect().toAlignedRect();
    }
    const QPaintDevice* d = target->device();
    return target->transform().inverted().mapRect(QRect(0, 0, d->width(), d->height()));
}

}  // namespace

CMemDC::CMemDC(QPainter* target, const QRect* area, bool copyFirst)
    : m_target(target),
      m_buffered(target != nullptr && target->device() != nullptr &&
                 target->device()->devType() != QInternal::Printer) {
    if (target == nullptr) {
        return;
    }
    m_rect = TargetArea(target, area);
    if (!m_buffered) {
        return;
    }
    m_deviceRect = target->transform().mapRect(m_rect);
    m_bitmap = QImage(qMax(m_deviceRect.width(), 1), qMax(m_deviceRect.height(), 1),
                      QImage::Format_ARGB32_Premultiplied);

    bool copied = false;
    if (copyFirst) {
        const QPaintDevice* d = target->device();
        QImage source;
        if (d->devType() == QInternal::Image) {
            source = static_cast<const QImage*>(d)->copy(m_deviceRect);
        } else if (d->devType() == QInternal::Pixmap) {
            source = static_cast<const QPixmap*>(d)->copy(m_deviceRect).toImage();
        }
        if (!source.isNull()) {
            m_bitmap.fill(Qt::transparent);
            QPainter p(&m_bitmap);
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.drawImage(0, 0, source);
            copied = true;
        }
    }
    if (!copied) {
        m_bitmap.fill(target->background().color());
    }
    // The buffer's origin is the area's top-left corner: drawing keeps the
    // target's coordinates (and its scale).
    m_painter.begin(&m_bitmap);
    m_painter.setTransform(target->transform() *
                           QTransform::fromTranslate(-m_deviceRect.left(), -m_deviceRect.top()));
    m_painter.setFont(target->font());
    m_painter.setPen(target->pen());
    m_painter.setBrush(target->brush());
    m_painter.setBackground(target->background());
    m_painter.setRenderHints(target->renderHints());
}

CMemDC::~CMemDC() {
    if (!m_buffered || m_target == nullptr) {
        return;
    }
    m_painter.end();
    m_target->save();
    m_target->resetTransform();
    m_target->setCompositionMode(QPainter::CompositionMode_Source);
    m_target->drawImage(m_deviceRect.topLeft(), m_bitmap);
    m_target->restore();
}
