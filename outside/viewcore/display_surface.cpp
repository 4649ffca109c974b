#include "outside/viewcore/display_surface.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>

#include "media/screen_layout.h"
#include "platform/codepage.h"
#include "platform/messages.h"
#include "platform/window.h"

namespace viewcore {

namespace {

// Private messages of the surface window.
constexpr UINT kMsgNewPicture = WM_USER + 0x300;  // take the back picture, repaint
constexpr UINT kMsgRepaint = WM_USER + 0x301;     // text or flags changed

constexpr int kLabelPadding = 2;    // around the text inside its box
constexpr int kClockInset = 4;      // clock box from the surface's corner
constexpr int kMinFontPixels = 10;  // legible on small surfaces
constexpr int kMaxFontPixels = 20;
constexpr int kFontDivisor = 24;       // text height: surface height / this
const QColor kLabelBox(0, 0, 0, 160);  // translucent: readable on any picture

// Layout values come as unsigned words; anything beyond the channel range
// simply places no cell.
int LayoutValue(std::uint32_t v) {
    return static_cast<int>(std::min<std::uint32_t>(v, 1u << 16));
}

// The part of the picture shown: margins cut off, unless they leave nothing.
QRect CropOf(const Picture& p) {
    const Margins& m = p.info.margins;
    const std::uint64_t w = static_cast<std::uint64_t>(p.width);
    const std::uint64_t h = static_cast<std::uint64_t>(p.height);
    if (std::uint64_t{m.left} + m.right >= w || std::uint64_t{m.top} + m.bottom >= h) {
        return QRect(0, 0, p.width, p.height);
    }
    return QRect(static_cast<int>(m.left), static_cast<int>(m.top),
                 p.width - static_cast<int>(m.left + m.right),
                 p.height - static_cast<int>(m.top + m.bottom));
}

// The whole pixels inside a mapped cell, so that a label never touches the
// neighbouring cell.
QRect InnerPixels(const QRectF& r) {
    return QRect(
        QPoint(static_cast<int>(std::ceil(r.left())), static_cast<int>(std::ceil(r.top()))),
        QPoint(static_cast<int>(std::floor(r.right())) - 1,
               static_cast<int>(std::floor(r.bottom())) - 1));
}

void ConvertBgrToRgb32(const std::uint8_t* src, std::uint32_t* dst, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i, src += 3) {
        dst[i] = 0xff000000u | (std::uint32_t{src[2]} << 16) | (std::uint32_t{src[1]} << 8) |
                 std::uint32_t{src[0]};
    }
}

}  // namespace

// The surface's widget: a window of our message layer, so that the worker
// can reach it by handle (posts to a destroyed window are dropped).
class SurfaceWindow : public Window {
public:
    SurfaceWindow(QWidget* parent, Surface* surface) : Window(parent), m_surface(surface) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    ~SurfaceWindow() override { m_surface->Detach(this); }

    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        switch (msg) {
            case kMsgNewPicture:
                if (m_surface->AdoptNewPicture()) {
                    update();
                }
                return 0;
            case kMsgRepaint:
                update();
                return 0;
            case WM_ERASEBKGND:
                return 1;  // the paint covers everything
            case WM_PAINT:
                if (PaintPainter() != nullptr) {
                    m_surface->Paint(*PaintPainter(), rect());
                }
                return 0;
            case WM_DESTROY:
                m_surface->Detach(this);
                return 0;
            default:
                return Window::WindowProc(msg, wParam, lParam);
        }
    }

private:
    Surface* m_surface;
};

Surface& Surface::Instance() {
    // Never destroyed: worker threads may still call in while the process ends.
    static Surface* surface = new Surface;
    return *surface;
}

// --- window thread -----------------------------------------------------------

HWND Surface::Create(HWND parent, const DisplayRect* rect) {
    QWidget* parentWidget = WidgetFromHandle(parent);
    if (parentWidget == nullptr) {
        return kNoWindow;
    }
    Destroy();
    QRect geometry = parentWidget->rect();
    if (rect != nullptr) {
        geometry = QRect(rect->left, rect->top, std::max(0, rect->right - rect->left),
                         std::max(0, rect->bottom - rect->top));
    }
    auto* widget = new SurfaceWindow(parentWidget, this);
    widget->setGeometry(geometry);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_widget = widget;
        m_window = widget->hwnd();
        m_backFresh = false;
        m_dirty.store(false);
    }
    m_frontShown = false;
    widget->show();
    return widget->hwnd();
}

void Surface::Destroy() {
    SurfaceWindow* widget = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        widget = m_widget;
        m_widget = nullptr;
        m_window = kNoWindow;
        m_backFresh = false;
    }
    m_frontShown = false;
    if (widget != nullptr) {
        widget->DestroyWindow();
    }
}

void Surface::Detach(SurfaceWindow* window) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_widget != window) {
            return;
        }
        m_widget = nullptr;
        m_window = kNoWindow;
        m_backFresh = false;
    }
    m_frontShown = false;
}

void Surface::Clear() {
    SurfaceWindow* widget = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_backFresh = false;  // a picture still on its way must not bring it back
        widget = m_widget;
    }
    m_frontShown = false;
    if (widget != nullptr) {
        widget->update();
    }
}

QImage Surface::Render() {
    SurfaceWindow* widget = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        widget = m_widget;
    }
    return widget != nullptr ? widget->grab().toImage() : QImage();
}

bool Surface::AdoptNewPicture() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        // Cleared before the swap: a picture given from now on asks again.
        m_dirty.store(false);
        if (!m_backFresh) {
            return false;
        }
        m_front ^= 1;
        m_backFresh = false;
    }
    m_frontShown = true;
    return true;
}

// --- worker thread -----------------------------------------------------------

void Surface::SetPendingLayout(const Layout& layout) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pending.layout = layout;
}

void Surface::SetPendingMargins(const Margins& margins) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pending.margins = margins;
}

void Surface::SetPendingClock(const Clock& clock) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pending.clock = clock;
}

bool Surface::TakePicture(std::uint32_t width, std::uint32_t height, const std::uint8_t* bgr) {
    if (bgr == nullptr || width == 0 || height == 0 ||
        std::uint64_t{width} * height * 3 > kMaxPictureBytes) {
        return false;
    }
    const std::size_t count = std::size_t{width} * height;
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    HWND target = kNoWindow;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_window == kNoWindow) {
            return false;
        }
        Picture& back = m_pictures[m_front ^ 1];
        if (count > back.capacity) {
            back.pixels = std::make_unique_for_overwrite<std::uint32_t[]>(count);
            back.capacity = count;
        }
        const auto* bits = reinterpret_cast<const uchar*>(back.pixels.get());
        if (back.image.constBits() != bits || back.width != w || back.height != h) {
            back.image = QImage(bits, w, h, w * 4, QImage::Format_RGB32);
            back.width = w;
            back.height = h;
        }
        ConvertBgrToRgb32(bgr, back.pixels.get(), count);
        back.info = m_pending;
        m_backFresh = true;
        target = m_window;
    }
    m_accepted.fetch_add(1, std::memory_order_relaxed);
    if (!m_dirty.exchange(true) && !PostMessage(target, kMsgNewPicture, 0, 0)) {
        m_dirty.store(false);  // the window went away meanwhile
    }
    return true;
}

// --- any thread ----------------------------------------------------------------

void Surface::PostToWindow(UINT msg) {
    HWND target = kNoWindow;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        target = m_window;
    }
    if (target != kNoWindow) {
        PostMessage(target, msg, 0, 0);
    }
}

void Surface::SetOsdFlags(std::uint32_t flags) {
    m_osdFlags.store(flags);
    PostToWindow(kMsgRepaint);
}

void Surface::SetTitle(std::uint32_t channel, const std::uint8_t* text) {
    if (channel >= static_cast<std::uint32_t>(kChannels)) {
        return;
    }
    std::u16string title = text != nullptr
                               ? AnsiToWide(reinterpret_cast<const char*>(text), kTitleBytes)
                               : std::u16string();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_titles[channel] == title) {
            return;
        }
        m_titles[channel] = std::move(title);
        m_titlesVersion.fetch_add(1);
    }
    PostToWindow(kMsgRepaint);
}

// --- painting (window thread) ---------------------------------------------------

void Surface::RefreshTitles() {
    if (m_titlesVersion.load() == m_titlesSeen) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    for (int i = 0; i < kChannels; ++i) {
        m_titleText[i] = QString::fromStdU16String(m_titles[i]);
    }
    m_titlesSeen = m_titlesVersion.load();
}

void Surface::Paint(QPainter& painter, const QRect& area) {
    if (!m_frontShown || area.isEmpty()) {
        painter.fillRect(area, Qt::black);
        return;
    }
    const Picture& picture = m_pictures[m_front];
    const QRect crop = CropOf(picture);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRectF(area), picture.image, QRectF(crop));

    const std::uint32_t flags = m_osdFlags.load();
    if ((flags & (kOsdTime | kOsdTitles)) == 0) {
        return;
    }
    const int pixels = std::clamp(area.height() / kFontDivisor, kMinFontPixels, kMaxFontPixels);
    if (pixels != m_fontPixels) {
        m_font.setPixelSize(pixels);
        m_fontPixels = pixels;
    }
    painter.setFont(m_font);
    if ((flags & kOsdTitles) != 0) {
        DrawTitles(painter, area, picture, crop);
    }
    if ((flags & kOsdTime) != 0 && picture.info.clock.set) {
        DrawClock(painter, area, picture.info.clock);
    }
}

void Surface::DrawTitles(QPainter& painter, const QRect& area, const Picture& picture,
                         const QRect& crop) {
    RefreshTitles();
    const Layout& layout = picture.info.layout;
    const screen_layout::Cells cells =
        layout.pip
            ? screen_layout::PictureInPicture(LayoutValue(layout.first), LayoutValue(layout.second),
                                              kChannels, picture.width, picture.height)
            : screen_layout::Division(LayoutValue(layout.first), LayoutValue(layout.second),
                                      kChannels, picture.width, picture.height);
    // Cells are in picture pixels; map them through the crop and the scale.
    const double sx = static_cast<double>(area.width()) / crop.width();
    const double sy = static_cast<double>(area.height()) / crop.height();
    for (int i = 0; i < cells.count; ++i) {
        const screen_layout::Cell& c = cells.cell[i];
        const QString& title = m_titleText[c.channel];
        if (title.isEmpty()) {
            continue;
        }
        const QRectF mapped(area.left() + (c.x - crop.left()) * sx,
                            area.top() + (c.y - crop.top()) * sy, c.width * sx, c.height * sy);
        const QRect visible = InnerPixels(mapped) & area;
        if (!visible.isEmpty()) {
            DrawLabel(painter, visible, title, false);
        }
    }
}

void Surface::DrawClock(QPainter& painter, const QRect& area, const Clock& clock) {
    if (clock != m_clockTextOf || m_clockText.isEmpty()) {
        m_clockText = QString::asprintf("%04u-%02u-%02u %02u:%02u:%02u", clock.year, clock.month,
                                        clock.day, clock.hour, clock.minute, clock.second);
        m_clockTextOf = clock;
    }
    DrawLabel(painter, area.adjusted(kClockInset, kClockInset, -kClockInset, -kClockInset),
              m_clockText, true);
}

// A box of translucent black with white text, in the top-left corner of
// bounds (or its bottom-right when alignRight), never spilling out of bounds.
void Surface::DrawLabel(QPainter& painter, const QRect& bounds, const QString& text,
                        bool alignRight) {
    const QFontMetrics metrics(m_font);
    const int w = metrics.horizontalAdvance(text) + 2 * kLabelPadding;
    const int h = metrics.height() + 2 * kLabelPadding;
    QRect box(0, 0, w, h);
    if (alignRight) {
        box.moveBottomRight(bounds.bottomRight());
    } else {
        box.moveTopLeft(bounds.topLeft());
    }
    box &= bounds;
    if (box.isEmpty()) {
        return;
    }
    painter.fillRect(box, kLabelBox);
    painter.setPen(Qt::white);
    // drawText clips to its rectangle, so a long title stops at its cell.
    painter.drawText(box.adjusted(kLabelPadding, kLabelPadding, -kLabelPadding, -kLabelPadding),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

}  // namespace viewcore
