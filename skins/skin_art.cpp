#include "skins/skin_art.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>

namespace skinart {
namespace {

// Colours of one look of a button.
struct LookStyle {
    QColor top, bottom, border, highlight, ink;
    int sink;  // content shift in pixels (pressed keys sit lower)
};

LookStyle StyleFor(Look look, bool primary) {
    switch (look) {
        case kNormal:
            if (primary) {
                return {QColor(0x4a, 0x95, 0xff), QColor(0x2f, 0x77, 0xe6),
                        QColor(0x22, 0x5f, 0xc2), QColor(255, 255, 255, 60),
                        QColor(255, 255, 255),    0};
            }
            return {QColor(0x3d, 0x43, 0x4f),
                    QColor(0x31, 0x36, 0x40),
                    QColor(0x4a, 0x51, 0x5e),
                    QColor(255, 255, 255, 28),
                    theme::kText,
                    0};
        case kHover:
            if (primary) {
                return {QColor(0x62, 0xa5, 0xff), QColor(0x3d, 0x85, 0xf2),
                        QColor(0x2d, 0x6c, 0xd4), QColor(255, 255, 255, 80),
                        QColor(255, 255, 255),    0};
            }
            return {QColor(0x49, 0x51, 0x5f),  QColor(0x3a, 0x40, 0x4c), QColor(0x6a, 0x8f, 0xcf),
                    QColor(255, 255, 255, 36), QColor(255, 255, 255),    0};
        case kPressed:
            if (primary) {
                return {QColor(0x17, 0x45, 0x96), QColor(0x24, 0x63, 0xc9),
                        QColor(0x14, 0x3c, 0x82), QColor(0, 0, 0, 60),
                        QColor(0xdd, 0xe8, 0xff), 1};
            }
            return {QColor(0x1f, 0x5c, 0xc0), QColor(0x3d, 0x8b, 0xfd), QColor(0x1a, 0x4f, 0xa8),
                    QColor(0, 0, 0, 50),      QColor(255, 255, 255),    1};
        case kDisabled:
            return {QColor(0x29, 0x2d, 0x34), QColor(0x25, 0x29, 0x2f), QColor(0x32, 0x37, 0x40),
                    QColor(255, 255, 255, 8), theme::kTextDisabled,     0};
    }
    return StyleFor(kNormal, primary);
}

void DrawArrow(QPainter& p, const QRectF& box, double angleDeg, const QColor& colour) {
    // A filled triangle pointing at angleDeg (0 = up, clockwise); diagonals a
    // little smaller so that all eight read as the same weight.
    const QPointF c = box.center();
    const bool diagonal = static_cast<int>(angleDeg) % 90 != 0;
    const double s = std::min(box.width(), box.height()) * (diagonal ? 0.27 : 0.3);
    const QPolygonF shape{{0, -s}, {s * 1.05, s * 0.62}, {-s * 1.05, s * 0.62}};
    p.save();
    p.translate(c);
    p.rotate(angleDeg);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(shape);
    p.restore();
}

void DrawTriangle(QPainter& p, const QPointF& tip, double w, double h, bool right,
                  const QColor& colour) {
    // Media triangle: tip at `tip`, pointing right or left, w wide, h tall.
    const double dx = right ? -w : w;
    const QPolygonF t{tip, {tip.x() + dx, tip.y() - h / 2}, {tip.x() + dx, tip.y() + h / 2}};
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(t);
}

void DrawGrid(QPainter& p, const QRectF& box, int n, const QColor& colour) {
    const double side = std::min(box.width(), box.height()) * 0.62;
    const QRectF g(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    const double gap = n == 2 ? 2.0 : 1.5;
    const double cell = (side - gap * (n - 1)) / n;
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            p.drawRect(QRectF(g.left() + c * (cell + gap), g.top() + r * (cell + gap), cell, cell));
        }
    }
}

}  // namespace

QFont UiFont(int pixelSize, bool bold, qreal letterSpacingPercent) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    if (letterSpacingPercent != 100)
        f.setLetterSpacing(QFont::PercentageSpacing, letterSpacingPercent);
    return f;
}

void FillWindow(QPainter& p, const QRect& r) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(0x1e, 0x22, 0x29));
    g.setColorAt(1, QColor(0x18, 0x1b, 0x20));
    p.fillRect(r, g);
}

void DrawPanel(QPainter& p, const QRect& r, int radius) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF f = QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient g(f.topLeft(), f.bottomLeft());
    g.setColorAt(0, theme::kPanelTop);
    g.setColorAt(1, theme::kPanelBottom);
    p.setPen(QPen(theme::kPanelBorder, 1));
    p.setBrush(g);
    p.drawRoundedRect(f, radius, radius);
    // Thin highlight along the top edge, fading out at the corners.
    QLinearGradient h(f.topLeft(), f.topRight());
    h.setColorAt(0, QColor(255, 255, 255, 0));
    h.setColorAt(0.5, QColor(255, 255, 255, 30));
    h.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(QPen(QBrush(h), 1));
    p.drawLine(QPointF(f.left() + radius, f.top() + 1), QPointF(f.right() - radius, f.top() + 1));
    p.restore();
}

void DrawWell(QPainter& p, const QRect& r, int radius) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF f = QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(QColor(0x0c, 0x0e, 0x11), 1));
    p.setBrush(theme::kWell);
    p.drawRoundedRect(f, radius, radius);
    // Light catches the lower edge of a sunken field.
    p.setPen(QPen(QColor(255, 255, 255, 22), 1));
    p.drawLine(QPointF(f.left() + radius, f.bottom() + 1),
               QPointF(f.right() - radius, f.bottom() + 1));
    p.restore();
}

void DrawCaption(QPainter& p, int x, int y, const QString& text) {
    p.save();
    p.setFont(UiFont(9, true, 112));
    p.setPen(theme::kCaption);
    p.drawText(QRect(x, y, 400, 12), Qt::AlignLeft | Qt::AlignVCenter, text.toUpper());
    p.restore();
}

void DrawLabel(QPainter& p, const QRect& r, const QString& text, Qt::Alignment align) {
    p.save();
    p.setFont(UiFont(11));
    p.setPen(theme::kLabel);
    p.drawText(r, align, text);
    p.restore();
}

void DrawVerticalDivider(QPainter& p, int x, int top, int bottom) {
    p.save();
    p.setPen(QColor(0x1a, 0x1d, 0x22));
    p.drawLine(x, top, x, bottom);
    p.setPen(QColor(255, 255, 255, 18));
    p.drawLine(x + 1, top, x + 1, bottom);
    p.restore();
}

void DrawIcon(QPainter& p, Icon icon, const QRectF& box, const QColor& colour) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c = box.center();
    const double s = std::min(box.width(), box.height());
    QPen pen(colour, std::max(1.6, s * 0.11), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (icon) {
        case Icon::None:
            break;
        case Icon::ArrowUp:
        case Icon::ArrowUpRight:
        case Icon::ArrowRight:
        case Icon::ArrowDownRight:
        case Icon::ArrowDown:
        case Icon::ArrowDownLeft:
        case Icon::ArrowLeft:
        case Icon::ArrowUpLeft:
            DrawArrow(p, box, 45.0 * (static_cast<int>(icon) - static_cast<int>(Icon::ArrowUp)),
                      colour);
            break;
        case Icon::Plus:
        case Icon::Minus: {
            const double a = s * 0.24;
            pen.setWidthF(2.0);
            pen.setCapStyle(Qt::FlatCap);
            p.setPen(pen);
            p.drawLine(QPointF(c.x() - a, c.y()), QPointF(c.x() + a, c.y()));
            if (icon == Icon::Plus)
                p.drawLine(QPointF(c.x(), c.y() - a), QPointF(c.x(), c.y() + a));
            break;
        }
        case Icon::Close: {
            const double a = s * 0.2;
            pen.setWidthF(1.8);
            p.setPen(pen);
            p.drawLine(QPointF(c.x() - a, c.y() - a), QPointF(c.x() + a, c.y() + a));
            p.drawLine(QPointF(c.x() + a, c.y() - a), QPointF(c.x() - a, c.y() + a));
            break;
        }
        case Icon::Keypad: {
            const double cell = s * 0.14, gap = s * 0.07;
            const double total = 3 * cell + 2 * gap;
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            for (int r = 0; r < 3; ++r) {
                for (int k = 0; k < 3; ++k) {
                    p.drawRoundedRect(QRectF(c.x() - total / 2 + k * (cell + gap),
                                             c.y() - total / 2 + r * (cell + gap), cell, cell),
                                      0.8, 0.8);
                }
            }
            break;
        }
        case Icon::Sliders: {
            pen.setWidthF(1.5);
            p.setPen(pen);
            const double w = s * 0.3;
            const double knobs[3] = {-0.12, 0.14, -0.02};
            for (int i = 0; i < 3; ++i) {
                const double y = c.y() + (i - 1) * s * 0.2;
                p.drawLine(QPointF(c.x() - w, y), QPointF(c.x() + w, y));
                p.setBrush(colour);
                p.drawEllipse(QPointF(c.x() + knobs[i] * s * 1.6, y), s * 0.06, s * 0.06);
            }
            break;
        }
        case Icon::Search: {
            pen.setWidthF(1.8);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            const double r = s * 0.18;
            const QPointF o(c.x() - s * 0.05, c.y() - s * 0.05);
            p.drawEllipse(o, r, r);
            p.drawLine(QPointF(o.x() + r * 0.72, o.y() + r * 0.72),
                       QPointF(o.x() + r * 1.75, o.y() + r * 1.75));
            break;
        }
        case Icon::Microphone: {
            pen.setWidthF(1.6);
            p.setPen(pen);
            p.setBrush(colour);
            const double w = s * 0.14, h = s * 0.26;
            p.drawRoundedRect(QRectF(c.x() - w / 2, c.y() - h * 0.85, w, h), w / 2, w / 2);
            p.setBrush(Qt::NoBrush);
            const QRectF arc(c.x() - s * 0.15, c.y() - h * 0.55, s * 0.3, h * 0.95);
            p.drawArc(arc, 200 * 16, 140 * 16);
            p.drawLine(QPointF(c.x(), arc.bottom()), QPointF(c.x(), arc.bottom() + s * 0.08));
            break;
        }
        case Icon::Power: {
            pen.setWidthF(1.7);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            const double r = s * 0.2;
            p.drawArc(QRectF(c.x() - r, c.y() - r + 1, 2 * r, 2 * r), 125 * 16, -250 * 16);
            p.drawLine(QPointF(c.x(), c.y() - r - 1), QPointF(c.x(), c.y() + 1));
            break;
        }
        case Icon::Unplug: {
            pen.setWidthF(1.7);
            p.setPen(pen);
            const double r = s * 0.2;
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(c, r, r);
            p.drawLine(QPointF(c.x() - r * 0.7, c.y() + r * 0.7),
                       QPointF(c.x() + r * 0.7, c.y() - r * 0.7));
            break;
        }
        case Icon::Exit: {
            pen.setWidthF(1.6);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            const double a = s * 0.2;
            p.drawPolyline(QPolygonF{{c.x() + a * 0.2, c.y() - a},
                                     {c.x() - a, c.y() - a},
                                     {c.x() - a, c.y() + a},
                                     {c.x() + a * 0.2, c.y() + a}});
            p.drawLine(QPointF(c.x() - a * 0.3, c.y()), QPointF(c.x() + a * 1.3, c.y()));
            p.drawPolyline(QPolygonF{{c.x() + a * 0.8, c.y() - a * 0.5},
                                     {c.x() + a * 1.3, c.y()},
                                     {c.x() + a * 0.8, c.y() + a * 0.5}});
            break;
        }
        case Icon::Play:
            DrawTriangle(p, QPointF(c.x() + s * 0.2, c.y()), s * 0.34, s * 0.4, true, colour);
            break;
        case Icon::Pause:
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawRect(QRectF(c.x() - s * 0.15, c.y() - s * 0.18, s * 0.1, s * 0.36));
            p.drawRect(QRectF(c.x() + s * 0.05, c.y() - s * 0.18, s * 0.1, s * 0.36));
            break;
        case Icon::Stop:
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawRoundedRect(QRectF(c.x() - s * 0.16, c.y() - s * 0.16, s * 0.32, s * 0.32), 1.5,
                              1.5);
            break;
        case Icon::Rewind:
            DrawTriangle(p, QPointF(c.x() - s * 0.26, c.y()), s * 0.24, s * 0.34, false, colour);
            DrawTriangle(p, QPointF(c.x() - s * 0.02, c.y()), s * 0.24, s * 0.34, false, colour);
            break;
        case Icon::FastForward:
            DrawTriangle(p, QPointF(c.x() + s * 0.02, c.y()), s * 0.24, s * 0.34, true, colour);
            DrawTriangle(p, QPointF(c.x() + s * 0.26, c.y()), s * 0.24, s * 0.34, true, colour);
            break;
        case Icon::StepBack:
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawRect(QRectF(c.x() + s * 0.1, c.y() - s * 0.17, s * 0.08, s * 0.34));
            DrawTriangle(p, QPointF(c.x() - s * 0.2, c.y()), s * 0.26, s * 0.34, false, colour);
            break;
        case Icon::StepForward:
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawRect(QRectF(c.x() - s * 0.18, c.y() - s * 0.17, s * 0.08, s * 0.34));
            DrawTriangle(p, QPointF(c.x() + s * 0.2, c.y()), s * 0.26, s * 0.34, true, colour);
            break;
        case Icon::SkipBack:
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawRect(QRectF(c.x() - s * 0.3, c.y() - s * 0.17, s * 0.07, s * 0.34));
            DrawTriangle(p, QPointF(c.x() - s * 0.21, c.y()), s * 0.2, s * 0.34, false, colour);
            DrawTriangle(p, QPointF(c.x() + s * 0.0, c.y()), s * 0.2, s * 0.34, false, colour);
            break;
        case Icon::SkipForward:
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawRect(QRectF(c.x() + s * 0.23, c.y() - s * 0.17, s * 0.07, s * 0.34));
            DrawTriangle(p, QPointF(c.x() + s * 0.21, c.y()), s * 0.2, s * 0.34, true, colour);
            DrawTriangle(p, QPointF(c.x() + s * 0.0, c.y()), s * 0.2, s * 0.34, true, colour);
            break;
        case Icon::Slow: {
            DrawTriangle(p, QPointF(c.x() - s * 0.02, c.y()), s * 0.26, s * 0.34, true, colour);
            p.setPen(colour);
            p.setFont(UiFont(std::max(8, static_cast<int>(s * 0.28)), true));
            p.drawText(QRectF(c.x(), c.y() - s * 0.2, s * 0.4, s * 0.4), Qt::AlignCenter,
                       QStringLiteral("½"));
            break;
        }
        case Icon::Grid2:
            DrawGrid(p, box, 2, colour);
            break;
        case Icon::Grid3:
            DrawGrid(p, box, 3, colour);
            break;
        case Icon::Grid4:
            DrawGrid(p, box, 4, colour);
            break;
    }
    p.restore();
}

std::array<QImage, 4> RenderButton(const QImage& base, const Face& face) {
    std::array<QImage, 4> looks;
    for (int look = 0; look < 4; ++look) {
        QImage img = base.convertToFormat(QImage::Format_RGB32);
        const LookStyle st = StyleFor(static_cast<Look>(look), face.primary);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        const QRectF f = QRectF(img.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const double radius = std::min(4.0, std::min(f.width(), f.height()) / 4);

        // Soft drop shadow under raised looks; pressed keys sit flush.
        if (look != kPressed && look != kDisabled) {
            p.setPen(QPen(QColor(0, 0, 0, 70), 1));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(f.adjusted(0, 1, 0, 0), radius, radius);
        }
        QLinearGradient g(f.topLeft(), f.bottomLeft());
        g.setColorAt(0, st.top);
        g.setColorAt(1, st.bottom);
        p.setPen(QPen(st.border, 1));
        p.setBrush(g);
        p.drawRoundedRect(f.adjusted(0, 0, 0, -1), radius, radius);
        // Inner highlight on the upper edge (a shade on pressed keys).
        p.setPen(QPen(st.highlight, 1));
        p.drawLine(QPointF(f.left() + radius, f.top() + 1),
                   QPointF(f.right() - radius, f.top() + 1));

        QRectF content = f.adjusted(3, 2 + st.sink, -3, -2 + st.sink - 1);
        if (face.led) {
            // A lamp in the top-right corner: dark at rest, lit when pressed.
            const QPointF lamp(f.right() - 8, f.top() + 8);
            const bool lit = look == kPressed;
            if (lit) {
                QRadialGradient glow(lamp, 7);
                glow.setColorAt(0, QColor(0x9f, 0xe8, 0xff, 160));
                glow.setColorAt(1, QColor(0x9f, 0xe8, 0xff, 0));
                p.setPen(Qt::NoPen);
                p.setBrush(glow);
                p.drawEllipse(lamp, 7, 7);
            }
            p.setPen(QPen(QColor(0, 0, 0, 110), 1));
            p.setBrush(lit ? QColor(0xc8, 0xf3, 0xff) : QColor(0x1c, 0x1f, 0x25));
            p.drawEllipse(lamp, 2.6, 2.6);
        }
        const bool hasLabel = !face.label.isEmpty();
        const bool hasIcon = face.icon != Icon::None;
        QFont font = UiFont(content.height() >= 30 ? 11 : 10, true, 104);
        p.setFont(font);
        if (hasIcon && hasLabel) {
            const double iconSide = std::min(content.height(), 20.0);
            const double textWidth = QFontMetricsF(font).horizontalAdvance(face.label);
            const double total = iconSide + 4 + textWidth;
            const double x = content.center().x() - total / 2;
            DrawIcon(p, face.icon,
                     QRectF(x, content.center().y() - iconSide / 2, iconSide, iconSide), st.ink);
            p.setPen(st.ink);
            p.drawText(QRectF(x + iconSide + 4, content.top(), textWidth + 2, content.height()),
                       Qt::AlignLeft | Qt::AlignVCenter, face.label);
        } else if (hasIcon) {
            DrawIcon(p, face.icon, content, st.ink);
        } else if (hasLabel) {
            p.setPen(st.ink);
            p.drawText(content, Qt::AlignCenter, face.label);
        }
        p.end();
        looks[look] = img;
    }
    return looks;
}

std::array<QImage, 4> RenderThumb(QSize size) {
    std::array<QImage, 4> looks;
    for (int look = 0; look < 4; ++look) {
        QImage img(size, QImage::Format_RGB32);
        img.fill(theme::kThumbKey);
        QPainter p(&img);
        // No antialiasing: a blended edge pixel would not match the key colour
        // and would show as a magenta fringe.
        const QRect body = img.rect().adjusted(1, 1, -2, -2);
        const bool pressed = look == kPressed;
        const QColor face = look == kDisabled ? QColor(0x4a, 0x4f, 0x58)
                            : pressed         ? theme::kAccent
                            : look == kHover  ? QColor(0xf4, 0xf6, 0xfa)
                                              : QColor(0xd9, 0xde, 0xe6);
        p.setPen(QColor(0x10, 0x12, 0x16));
        p.setBrush(face);
        p.drawRoundedRect(body, 3, 3);
        p.setPen(pressed ? QColor(0xd6, 0xe6, 0xff) : QColor(0x8a, 0x92, 0x9e));
        const int cx = body.center().x();
        for (int dx : {-2, 1})
            p.drawLine(cx + dx, body.top() + 6, cx + dx, body.bottom() - 6);
        p.end();
        looks[look] = img;
    }
    return looks;
}

}  // namespace skinart
