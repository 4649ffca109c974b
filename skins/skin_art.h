#pragma once
// Drawing kit of the default client skin: the theme's colours and the few
// shapes every panel is made of (raised panels, sunken wells, captions,
// button looks and their icons). Pure QPainter on QImage; needs a
// QGuiApplication only for the fonts.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>

#include <array>
#include <utility>

namespace skinart {

namespace theme {
inline const QColor kWindow{0x1b, 0x1e, 0x24};
inline const QColor kPanelTop{0x2f, 0x34, 0x3e};
inline const QColor kPanelBottom{0x26, 0x2a, 0x32};
inline const QColor kPanelBorder{0x3a, 0x40, 0x4b};
inline const QColor kWell{0x13, 0x15, 0x19};
inline const QColor kCaption{0x7d, 0x86, 0x96};
inline const QColor kLabel{0xb4, 0xbb, 0xc6};
inline const QColor kText{0xe8, 0xeb, 0xf0};
inline const QColor kTextDisabled{0x5a, 0x60, 0x6b};
inline const QColor kAccent{0x3d, 0x8b, 0xfd};
inline const QColor kAccentDark{0x24, 0x63, 0xc9};
// The colour the client leaves unpainted so that the video shows through.
inline const QColor kVideoKey{0, 0, 255};
// The colour the slider thumb leaves transparent: its top-left pixel.
inline const QColor kThumbKey{255, 0, 255};
}  // namespace theme

enum class Icon {
    None,
    ArrowUp,
    ArrowUpRight,
    ArrowRight,
    ArrowDownRight,
    ArrowDown,
    ArrowDownLeft,
    ArrowLeft,
    ArrowUpLeft,
    Plus,
    Minus,
    Close,
    Keypad,
    Sliders,
    Search,
    Microphone,
    Power,
    Unplug,
    Exit,
    Play,
    Pause,
    Stop,
    Rewind,
    FastForward,
    StepBack,
    StepForward,
    SkipBack,
    SkipForward,
    Slow,
    Grid2,
    Grid3,
    Grid4,
};

// What a button shows: an icon, a label, or an icon beside a label.
struct Face {
    Face() = default;
    Face(Icon i, QString text = {}, bool isPrimary = false, bool hasLed = false)
        : icon(i), label(std::move(text)), primary(isPrimary), led(hasLed) {}

    Icon icon = Icon::None;
    QString label;
    bool primary = false;  // drawn in the accent colour even when at rest
    bool led = false;      // a small lamp that lights in the pressed look
};

enum Look { kNormal = 0, kHover = 1, kPressed = 2, kDisabled = 3 };

QFont UiFont(int pixelSize, bool bold = false, qreal letterSpacingPercent = 100);

void FillWindow(QPainter& p, const QRect& r);
// A raised panel with a soft vertical gradient and a thin top highlight.
void DrawPanel(QPainter& p, const QRect& r, int radius = 6);
// A sunken field: where edits, lists and pictures sit.
void DrawWell(QPainter& p, const QRect& r, int radius = 3);
// Small upper-case heading.
void DrawCaption(QPainter& p, int x, int y, const QString& text);
// Label text, vertically centred in r.
void DrawLabel(QPainter& p, const QRect& r, const QString& text,
               Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter);
void DrawVerticalDivider(QPainter& p, int x, int top, int bottom);
void DrawIcon(QPainter& p, Icon icon, const QRectF& box, const QColor& colour);

// The four looks of a button, each drawn over `base`, the piece of the
// background that lies under the button (so its rounded corners blend in).
std::array<QImage, 4> RenderButton(const QImage& base, const Face& face);

// The slider thumb on the thumb key colour, normal and pressed.
std::array<QImage, 4> RenderThumb(QSize size);

}  // namespace skinart
