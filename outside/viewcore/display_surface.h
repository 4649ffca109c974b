#pragma once
// The one display surface of the process: two pictures (double buffer), the
// values the worker has set for its next picture, the camera titles, and the
// window that shows them.
//
// Threads and locking:
//  - the worker gives pictures and their layout, margins and clock; it
//    converts each picture into the back buffer under m_lock, stores the
//    pending values with it and, unless a request is already on its way,
//    posts one "new picture" message to the window (m_dirty keeps it to one);
//  - the window thread swaps front and back under m_lock when that message
//    arrives and paints the front picture without the lock: the worker only
//    ever touches the back picture, and only the window thread moves m_front;
//  - nothing here outlives a call that has no window: pictures given while
//    there is no window are dropped, so calls after DestroyDisplay are no-ops.
//
// Memory: a picture's buffer grows to the largest picture seen and is then
// reused; the QImage that wraps it is rebuilt only when the size changes.

#include <QFont>
#include <QImage>
#include <QString>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "media/viewcore.h"
#include "platform/wintypes.h"

class QPainter;
class QRect;

namespace viewcore {

// Largest picture accepted, in bytes of 24-bit pixels.
constexpr std::uint64_t kMaxPictureBytes = 1'296'000;
// Channels that can carry a title; the layouts place up to this many.
constexpr int kChannels = 16;
constexpr std::size_t kTitleBytes = 28;

struct Layout {
    bool pip = false;
    std::uint32_t first = 1;   // split screen: cell count; PIP: main channel
    std::uint32_t second = 0;  // split screen: first channel; PIP: inset channel
};

struct Margins {
    std::uint32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct Clock {
    bool set = false;
    std::uint32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool operator==(const Clock&) const = default;
};

// What was in force when a picture was given; the text drawn over it.
struct FrameInfo {
    Layout layout;
    Margins margins;
    Clock clock;
};

struct Picture {
    std::unique_ptr<std::uint32_t[]> pixels;  // 0xffRRGGBB, rows top-down, width apart
    std::size_t capacity = 0;                 // pixels allocated
    int width = 0;
    int height = 0;
    QImage image;  // wraps pixels (no copy)
    FrameInfo info;
};

class SurfaceWindow;

class Surface {
public:
    static Surface& Instance();

    // Window thread.
    HWND Create(HWND parent, const DisplayRect* rect);
    void Destroy();
    void Clear();
    QImage Render();

    // Worker thread: values for the next picture, and the picture itself.
    void SetPendingLayout(const Layout& layout);
    void SetPendingMargins(const Margins& margins);
    void SetPendingClock(const Clock& clock);
    // Returns false when the picture is refused (empty, too large, null) or
    // there is no window.
    bool TakePicture(std::uint32_t width, std::uint32_t height, const std::uint8_t* bgr);

    // Any thread.
    void SetOsdFlags(std::uint32_t flags);
    void SetTitle(std::uint32_t channel, const std::uint8_t* text);
    int PicturesAccepted() const { return m_accepted.load(std::memory_order_relaxed); }

private:
    friend class SurfaceWindow;

    // Called by the window, on its thread.
    bool AdoptNewPicture();
    void Detach(SurfaceWindow* window);
    void Paint(QPainter& painter, const QRect& area);

    void PostToWindow(UINT msg);
    void RefreshTitles();
    void DrawTitles(QPainter& painter, const QRect& area, const Picture& picture,
                    const QRect& crop);
    void DrawClock(QPainter& painter, const QRect& area, const Clock& clock);
    void DrawLabel(QPainter& painter, const QRect& bounds, const QString& text, bool alignRight);

    std::mutex m_lock;
    // Guarded by m_lock.
    SurfaceWindow* m_widget = nullptr;
    HWND m_window = kNoWindow;
    FrameInfo m_pending;
    bool m_backFresh = false;  // the back picture waits to be shown
    std::array<std::u16string, kChannels> m_titles;
    // Written by the window thread under m_lock; read by the worker under
    // m_lock and by the window thread freely.
    int m_front = 0;
    Picture m_pictures[2];

    std::atomic<bool> m_dirty{false};  // a "new picture" message is on its way
    std::atomic<std::uint32_t> m_osdFlags{0};
    std::atomic<unsigned> m_titlesVersion{0};  // bumped under m_lock
    std::atomic<int> m_accepted{0};

    // Window thread only.
    bool m_frontShown = false;
    unsigned m_titlesSeen = ~0u;
    std::array<QString, kChannels> m_titleText;
    Clock m_clockTextOf;
    QString m_clockText;
    QFont m_font;
    int m_fontPixels = 0;
};

}  // namespace viewcore
