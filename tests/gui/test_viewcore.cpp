// The display library on the offscreen platform: pictures given from a worker
// thread, painted by the window thread, with titles and clock over them.

#include <gtest/gtest.h>

#include <QColor>
#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QRect>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "media/screen_layout.h"
#include "media/viewcore.h"
#include "outside/viewcore/viewcore_debug.h"
#include "platform/messages.h"
#include "platform/window.h"
#include "tests/test_support.h"

using testing_support::PumpFor;
using testing_support::PumpUntil;

namespace {

constexpr int kSurfaceW = 320;
constexpr int kSurfaceH = 240;
constexpr DisplayRect kRect{20, 10, 20 + kSurfaceW, 10 + kSurfaceH};

struct TestPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;

    TestPicture(int w, int h, QColor c) : width(w), height(h), bgr(std::size_t(w) * h * 3) {
        Fill(QRect(0, 0, w, h), c);
    }
    void Fill(const QRect& r, QColor c) {
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                std::uint8_t* p = &bgr[(std::size_t(y) * width + x) * 3];
                p[0] = static_cast<std::uint8_t>(c.blue());
                p[1] = static_cast<std::uint8_t>(c.green());
                p[2] = static_cast<std::uint8_t>(c.red());
            }
        }
    }
};

QColor CellColour(int i) {
    return QColor::fromHsv((i * 23) % 360, 180, 200);
}

// A split-screen picture: every cell of the layout in its own colour.
TestPicture SplitPicture(int w, int h, int layout) {
    TestPicture p(w, h, Qt::black);
    const auto cells = screen_layout::Division(layout, 0, screen_layout::kMaxCells, w, h);
    for (int i = 0; i < cells.count; ++i) {
        const auto& c = cells.cell[i];
        p.Fill(QRect(c.x, c.y, c.width, c.height), CellColour(i));
    }
    return p;
}

int Distance(QColor a, QColor b) {
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                     std::abs(a.blue() - b.blue())});
}

void OnWorker(const std::function<void()>& work) {
    std::thread t(work);
    t.join();
}

void GiveFromWorker(const TestPicture& p, const std::function<void()>& before = {}) {
    OnWorker([&] {
        if (before) {
            before();
        }
        DPMGAPI_DisplayVideoData(static_cast<std::uint32_t>(p.width),
                                 static_cast<std::uint32_t>(p.height), p.bgr.data());
    });
}

void SetTitle(std::uint32_t channel, const std::string& text) {
    std::uint8_t bytes[28] = {};
    std::memcpy(bytes, text.data(), std::min(text.size(), sizeof bytes));
    DPMGAPI_SetCameraTitle(channel, bytes);
}

// Points whose colour is off the expected one by more than a blend of edges
// or a rounding could explain.
std::vector<QPoint> Differences(const QImage& shown, const std::function<QColor(QPoint)>& expected,
                                const std::function<bool(QPoint)>& ignore = {}) {
    std::vector<QPoint> out;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            const QPoint p(x, y);
            if ((!ignore || !ignore(p)) && Distance(shown.pixelColor(p), expected(p)) > 24) {
                out.push_back(p);
            }
        }
    }
    return out;
}

bool AllBlack(const QImage& img) {
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            if (img.pixelColor(x, y) != QColor(Qt::black)) {
                return false;
            }
        }
    }
    return true;
}

class ViewcoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_parent = new Window;
        m_parent->resize(400, 300);
        m_parent->show();
        m_surface = DPMGAPI_CreateDisplay(m_parent->hwnd(), &kRect, kDisplayOptionNone);
        ASSERT_NE(m_surface, kNoWindow);
        // The surface is one per process: start every test from the same state.
        DPMGAPI_SetDrawOSD(0);
        for (std::uint32_t ch = 0; ch < 16; ++ch) {
            SetTitle(ch, "");
        }
        OnWorker([] {
            DPMGAPI_SetDivision(1, 0);
            DPMGAPI_SetMargin(0, 0, 0, 0);
        });
    }
    void TearDown() override {
        DPMGAPI_DestroyDisplay();
        if (m_parent != nullptr) {
            m_parent->DestroyWindow();
        }
        PumpFor(5);
    }

    // Gives the picture from a worker and waits until the surface shows
    // `colour` at `probe`; returns what the surface shows then.
    QImage Show(const TestPicture& p, QPoint probe, QColor colour,
                const std::function<void()>& before = {}) {
        GiveFromWorker(p, before);
        QImage shown;
        EXPECT_TRUE(PumpUntil([&] {
            shown = ViewcoreDebugRenderSurface();
            return !shown.isNull() && Distance(shown.pixelColor(probe), colour) <= 2;
        })) << "probe "
            << probe.x() << "," << probe.y();
        return shown;
    }

    Window* m_parent = nullptr;
    HWND m_surface = kNoWindow;
};

}  // namespace

TEST_F(ViewcoreTest, CreateDisplayPlacesABlackSurfaceOverTheRectangle) {
    QWidget* w = WidgetFromHandle(m_surface);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parentWidget(), m_parent);
    EXPECT_EQ(w->geometry(), QRect(20, 10, kSurfaceW, kSurfaceH));
    EXPECT_TRUE(w->isVisible());
    const QImage shown = ViewcoreDebugRenderSurface();
    EXPECT_EQ(shown.size(), QSize(kSurfaceW, kSurfaceH));
    EXPECT_TRUE(AllBlack(shown));

    // No parent window: nothing is made and the surface stays.
    EXPECT_EQ(DPMGAPI_CreateDisplay(kNoWindow, &kRect, 0), kNoWindow);
    EXPECT_TRUE(IsWindow(m_surface));

    // A second surface replaces the first; without a rectangle it fills the parent.
    const HWND second = DPMGAPI_CreateDisplay(m_parent->hwnd(), nullptr, 0);
    ASSERT_NE(second, kNoWindow);
    EXPECT_NE(second, m_surface);
    EXPECT_FALSE(IsWindow(m_surface));
    EXPECT_EQ(WidgetFromHandle(second)->geometry(), QRect(0, 0, 400, 300));
    EXPECT_EQ(ViewcoreDebugRenderSurface().size(), QSize(400, 300));
}

TEST_F(ViewcoreTest, PictureIsScaledToTheSurface) {
    TestPicture p(160, 120, Qt::red);
    p.Fill(QRect(80, 0, 80, 60), Qt::green);
    p.Fill(QRect(0, 60, 80, 60), Qt::blue);
    p.Fill(QRect(80, 60, 80, 60), Qt::white);
    const int before = DPMGAPI_DebugFramesShown();
    const QImage shown = Show(p, QPoint(80, 60), Qt::red);
    EXPECT_EQ(DPMGAPI_DebugFramesShown(), before + 1);
    struct Probe {
        QPoint at;
        QColor colour;
    };
    const Probe probes[] = {
        {{1, 1}, Qt::red},       {{157, 117}, Qt::red},   {{162, 1}, Qt::green},
        {{318, 117}, Qt::green}, {{1, 122}, Qt::blue},    {{157, 238}, Qt::blue},
        {{162, 122}, Qt::white}, {{318, 238}, Qt::white}, {{240, 180}, Qt::white},
    };
    for (const Probe& pr : probes) {
        EXPECT_LE(Distance(shown.pixelColor(pr.at), pr.colour), 2) << pr.at.x() << "," << pr.at.y();
    }
}

TEST_F(ViewcoreTest, MarginsCropThePicture) {
    // A grey picture framed by four coloured bands of different widths.
    const QColor grey(128, 128, 128);
    TestPicture p(160, 120, grey);
    p.Fill(QRect(0, 0, 10, 120), Qt::red);
    p.Fill(QRect(0, 0, 160, 6), Qt::green);
    p.Fill(QRect(140, 0, 20, 120), Qt::blue);
    p.Fill(QRect(0, 112, 160, 8), Qt::yellow);

    struct Case {
        std::uint32_t left, top, right, bottom;
        QColor leftEdge, topEdge, rightEdge, bottomEdge;
    };
    const Case cases[] = {
        {10, 6, 20, 8, grey, grey, grey, grey},          // exactly the bands
        {0, 6, 20, 8, Qt::red, grey, grey, grey},        // left band kept
        {10, 0, 0, 8, grey, Qt::green, Qt::blue, grey},  // top and right kept
        {0, 0, 0, 0, Qt::red, Qt::green, Qt::blue, Qt::yellow},
        {100, 0, 60, 0, Qt::red, Qt::green, Qt::blue, Qt::yellow},  // nothing left: ignored
        {0, 60, 0, 60, Qt::red, Qt::green, Qt::blue, Qt::yellow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "margins " << c.left << "," << c.top << "," << c.right << "," << c.bottom);
        DPMGAPI_DisplayClear();
        ASSERT_TRUE(PumpUntil([] { return AllBlack(ViewcoreDebugRenderSurface()); }));
        const QImage shown = Show(p, QPoint(160, 120), grey,
                                  [&] { DPMGAPI_SetMargin(c.left, c.top, c.right, c.bottom); });
        EXPECT_LE(Distance(shown.pixelColor(0, 120), c.leftEdge), 2);
        EXPECT_LE(Distance(shown.pixelColor(160, 0), c.topEdge), 2);
        EXPECT_LE(Distance(shown.pixelColor(kSurfaceW - 1, 120), c.rightEdge), 2);
        EXPECT_LE(Distance(shown.pixelColor(160, kSurfaceH - 1), c.bottomEdge), 2);
    }
    // With the bands cut off exactly, no band colour bleeds into the surface.
    DPMGAPI_DisplayClear();
    const QImage cropped = Show(p, QPoint(160, 120), grey, [] { DPMGAPI_SetMargin(10, 6, 20, 8); });
    EXPECT_TRUE(Differences(cropped, [&](QPoint) { return grey; }).empty());
}

TEST_F(ViewcoreTest, SplitScreenTitlesStayInTheirOwnCells) {
    for (std::uint32_t ch = 0; ch < 16; ++ch) {
        SetTitle(ch, "C" + std::to_string(ch + 1));
    }
    DPMGAPI_SetDrawOSD(kOsdTitles);

    struct Case {
        int layout, first;
    };
    const Case cases[] = {{4, 0}, {4, 14}, {9, 0}, {9, 12}, {16, 0}, {1, 3}, {7, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "layout " << c.layout << " first " << c.first);
        // The picture is the surface's size, so picture and surface pixels agree.
        const int n = screen_layout::SideOf(c.layout);
        const TestPicture p = SplitPicture(kSurfaceW, kSurfaceH, n * n);
        const auto all = screen_layout::Division(n * n, 0, 16, kSurfaceW, kSurfaceH);
        DPMGAPI_DisplayClear();
        const QPoint probe(all.cell[0].x + all.cell[0].width - 2,
                           all.cell[0].y + all.cell[0].height - 2);
        const QImage shown = Show(p, probe, CellColour(0), [&] {
            DPMGAPI_SetDivision(static_cast<std::uint32_t>(c.layout),
                                static_cast<std::uint32_t>(c.first));
        });
        auto cellOf = [&](QPoint pt) {
            for (int i = 0; i < all.count; ++i) {
                const auto& cell = all.cell[i];
                if (QRect(cell.x, cell.y, cell.width, cell.height).contains(pt)) {
                    return i;
                }
            }
            return -1;
        };
        std::vector<int> marked(static_cast<std::size_t>(all.count), 0);
        for (const QPoint& pt :
             Differences(shown, [&](QPoint q) { return CellColour(cellOf(q)); })) {
            const int i = cellOf(pt);
            const auto& cell = all.cell[i];
            const bool visible = c.first + i < 16;
            const QRect titleArea(cell.x, cell.y, std::min(cell.width, 60),
                                  std::min(cell.height, 24));
            ASSERT_TRUE(visible && titleArea.contains(pt))
                << "text at " << pt.x() << "," << pt.y() << " in cell " << i;
            ++marked[static_cast<std::size_t>(i)];
        }
        for (int i = 0; i < all.count; ++i) {
            EXPECT_EQ(marked[static_cast<std::size_t>(i)] > 0, c.first + i < 16) << "cell " << i;
            // A visible cell's label box covers its top-left corner.
            const QPoint corner(all.cell[i].x + 1, all.cell[i].y + 1);
            EXPECT_EQ(Distance(shown.pixelColor(corner), CellColour(i)) > 24, c.first + i < 16)
                << "corner of cell " << i;
        }
    }
}

TEST_F(ViewcoreTest, PictureInPictureTitleSitsInTheInsetThroughCropAndScale) {
    SetTitle(2, "MAIN");
    SetTitle(5, "INSET");
    DPMGAPI_SetDrawOSD(kOsdTitles);
    // 240 x 180 picture, margins 12, 6, 12, 6: 216 x 168 shown on 320 x 240.
    const QColor mainColour(40, 90, 160);
    const QColor insetColour(200, 170, 60);
    TestPicture p(240, 180, mainColour);
    const auto cells = screen_layout::PictureInPicture(2, 5, 16, 240, 180);
    ASSERT_EQ(cells.count, 2);
    const auto& inset = cells.cell[1];
    p.Fill(QRect(inset.x, inset.y, inset.width, inset.height), insetColour);

    const double sx = 320.0 / 216;
    const double sy = 240.0 / 168;
    const QRect insetShown(
        static_cast<int>((inset.x - 12) * sx + 0.5), static_cast<int>((inset.y - 6) * sy + 0.5),
        static_cast<int>(inset.width * sx + 0.5), static_cast<int>(inset.height * sy + 0.5));
    const QImage shown = Show(p, insetShown.center() + QPoint(10, 10), insetColour, [] {
        DPMGAPI_SetMargin(12, 6, 12, 6);
        DPMGAPI_SetDivisionPIP(2, 5);
    });
    auto expected = [&](QPoint pt) { return insetShown.contains(pt) ? insetColour : mainColour; };
    // The inset's scaled edges blend the two colours.
    auto onEdge = [&](QPoint pt) {
        return insetShown.adjusted(-2, -2, 2, 2).contains(pt) &&
               !insetShown.adjusted(2, 2, -2, -2).contains(pt);
    };
    const QRect mainTitle(0, 0, 70, 24);
    const QRect insetTitle(insetShown.topLeft(), QSize(70, 24));
    int inMain = 0;
    int inInset = 0;
    for (const QPoint& pt : Differences(shown, expected, onEdge)) {
        if (mainTitle.contains(pt)) {
            ++inMain;
        } else if (insetTitle.adjusted(-1, -1, 0, 0).contains(pt)) {
            ++inInset;
        } else {
            ADD_FAILURE() << "text at " << pt.x() << "," << pt.y();
            break;
        }
    }
    EXPECT_GT(inMain, 0);
    EXPECT_GT(inInset, 0);
    // The label boxes start right at the corners of the mapped cells.
    for (const QPoint corner : {QPoint(0, 0), insetShown.topLeft() + QPoint(1, 1)}) {
        for (const QPoint d : {QPoint(0, 0), QPoint(2, 0), QPoint(0, 2), QPoint(2, 2)}) {
            EXPECT_GT(Distance(shown.pixelColor(corner + d), expected(corner + d)), 24)
                << "box missing at " << (corner + d).x() << "," << (corner + d).y();
        }
    }
}

TEST_F(ViewcoreTest, TextIsReadableOnDarkAndLightPictures) {
    SetTitle(0, "CAMERA");
    DPMGAPI_SetDrawOSD(kOsdTitles);
    // Each background differs from the one before, so the probe sees the change.
    for (const QColor background : {QColor(Qt::white), QColor(Qt::black), QColor(Qt::gray)}) {
        const QImage shown =
            Show(TestPicture(kSurfaceW, kSurfaceH, background), QPoint(300, 200), background);
        int darker = 0;
        int lighter = 0;
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 80; ++x) {
                const int v = qGray(shown.pixel(x, y));
                darker += v < qGray(background.rgb()) - 60 ? 1 : 0;
                lighter += v > qGray(background.rgb()) + 60 ? 1 : 0;
            }
        }
        // The box stands out from light pictures, the text from dark ones.
        EXPECT_GT(darker + lighter, 20) << background.name().toStdString();
        if (background == QColor(Qt::white)) {
            EXPECT_GT(darker, 0);
        }
        if (background == QColor(Qt::black)) {
            EXPECT_GT(lighter, 0);
        }
    }
}

TEST_F(ViewcoreTest, ClockInTheBottomRightCorner) {
    SetTitle(0, "CAM1");
    const QColor grey(100, 100, 100);
    const TestPicture p(kSurfaceW, kSurfaceH, grey);
    const QRect corner(kSurfaceW - 170, kSurfaceH - 30, 170, 30);
    const QRect topLeft(0, 0, 70, 24);

    struct Case {
        std::uint32_t flags;
        bool clock;
        bool title;
    };
    const Case cases[] = {{0, false, false},
                          {kOsdTime, true, false},
                          {kOsdTitles, false, true},
                          {kOsdTime | kOsdTitles, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "flags " << c.flags);
        DPMGAPI_SetDrawOSD(c.flags);
        DPMGAPI_DisplayClear();
        const QImage shown =
            Show(p, QPoint(160, 120), grey, [] { DPMGAPI_SetTime(2009, 3, 11, 5, 0, 0); });
        int inCorner = 0;
        int inTopLeft = 0;
        for (const QPoint& pt : Differences(shown, [&](QPoint) { return grey; })) {
            if (corner.contains(pt)) {
                ++inCorner;
            } else if (topLeft.contains(pt)) {
                ++inTopLeft;
            } else {
                ADD_FAILURE() << "text at " << pt.x() << "," << pt.y();
                break;
            }
        }
        EXPECT_EQ(inCorner > 0, c.clock);
        EXPECT_EQ(inTopLeft > 0, c.title);
    }
}

TEST_F(ViewcoreTest, ValuesFromTheWorkerTakeEffectWithTheNextPicture) {
    DPMGAPI_SetDrawOSD(kOsdTime | kOsdTitles);
    for (std::uint32_t ch = 0; ch < 16; ++ch) {
        SetTitle(ch, "CH");
    }
    const QColor grey(100, 100, 100);
    const TestPicture p(kSurfaceW, kSurfaceH, grey);
    const QImage first = Show(p, QPoint(160, 60), grey, [] {
        DPMGAPI_SetTime(2009, 3, 11, 5, 0, 0);
        DPMGAPI_SetDivision(1, 0);
    });

    // New clock and layout without a picture: the shown one keeps its own.
    OnWorker([] {
        DPMGAPI_SetTime(2010, 12, 31, 23, 59, 59);
        DPMGAPI_SetDivision(4, 0);
        DPMGAPI_SetDrawOSD(kOsdTime | kOsdTitles);  // asks for a repaint
    });
    PumpFor(50);
    EXPECT_EQ(ViewcoreDebugRenderSurface(), first);

    // The next picture brings them along.
    GiveFromWorker(p);
    QImage next;
    ASSERT_TRUE(PumpUntil([&] {
        next = ViewcoreDebugRenderSurface();
        return next != first;
    }));
    const QRect corner(kSurfaceW - 170, kSurfaceH - 30, 170, 30);
    EXPECT_NE(next.copy(corner), first.copy(corner));
    // The four-cell layout puts titles at the tops of the right-hand cells too.
    auto textIn = [&](const QImage& img, const QRect& r) {
        int n = 0;
        for (const QPoint& pt : Differences(img, [&](QPoint) { return grey; })) {
            n += r.contains(pt) ? 1 : 0;
        }
        return n;
    };
    const QRect secondCell(160, 0, 60, 24);
    const QRect fourthCell(160, 120, 60, 24);
    EXPECT_EQ(textIn(first, secondCell), 0);
    EXPECT_EQ(textIn(first, fourthCell), 0);
    EXPECT_GT(textIn(next, secondCell), 0);
    EXPECT_GT(textIn(next, fourthCell), 0);
}

TEST_F(ViewcoreTest, TitlesStopAtTwentyEightBytesOrAtNul) {
    DPMGAPI_SetDrawOSD(kOsdTitles);
    const QColor grey(90, 90, 90);
    Show(TestPicture(kSurfaceW, kSurfaceH, grey), QPoint(300, 200), grey);
    auto renderWith = [](const std::uint8_t* title) {
        DPMGAPI_SetCameraTitle(0, title);
        PumpFor(20);
        return ViewcoreDebugRenderSurface();
    };
    // 28 narrow letters and no NUL, followed by more text the library must not read.
    std::uint8_t longTitle[40];
    std::memset(longTitle, 'i', 28);
    std::memset(longTitle + 28, 'W', 12);
    std::uint8_t exact[29] = {};
    std::memset(exact, 'i', 28);
    EXPECT_EQ(renderWith(longTitle), renderWith(exact));

    std::uint8_t withNul[28] = {'A', 'B', 0, 'C', 'D'};
    std::uint8_t shortOne[28] = {'A', 'B'};
    const QImage a = renderWith(withNul);
    EXPECT_EQ(a, renderWith(shortOne));
    std::uint8_t other[28] = {'A', 'W'};
    EXPECT_NE(a, renderWith(other));

    // Channels outside the surface's range are ignored.
    DPMGAPI_SetCameraTitle(16, longTitle);
    DPMGAPI_SetCameraTitle(0xFFFFFFFFu, longTitle);
    EXPECT_EQ(renderWith(shortOne), a);
}

TEST_F(ViewcoreTest, DisplayClearBlanksUntilTheNextPicture) {
    SetTitle(0, "CAM1");
    DPMGAPI_SetDrawOSD(kOsdTime | kOsdTitles);
    const TestPicture p(kSurfaceW, kSurfaceH, Qt::cyan);
    Show(p, QPoint(160, 120), Qt::cyan, [] { DPMGAPI_SetTime(2009, 1, 2, 3, 4, 5); });
    DPMGAPI_DisplayClear();
    EXPECT_TRUE(AllBlack(ViewcoreDebugRenderSurface()));
    PumpFor(20);
    EXPECT_TRUE(AllBlack(ViewcoreDebugRenderSurface()));
    Show(p, QPoint(160, 120), Qt::cyan);
}

TEST_F(ViewcoreTest, RefusesEmptyAndOversizedPictures) {
    const TestPicture shown(kSurfaceW, kSurfaceH, Qt::magenta);
    Show(shown, QPoint(160, 120), Qt::magenta);
    // 1,296,000 bytes is the most a picture may take.
    std::vector<std::uint8_t> big(1'296'000 + 3 * 720, 0x40);
    struct Case {
        std::uint32_t width, height;
        const std::uint8_t* data;
        bool accepted;
    };
    const Case cases[] = {
        {0, 240, big.data(), false},
        {320, 0, big.data(), false},
        {721, 600, big.data(), false},
        {1, 432'001, big.data(), false},
        {0x10000, 0x10000, big.data(), false},  // the product overflows 32 bits
        {320, 240, nullptr, false},
        {720, 600, big.data(), true},
        {600, 720, big.data(), true},
    };
    for (const Case& c : cases) {
        const int before = DPMGAPI_DebugFramesShown();
        OnWorker([&] { DPMGAPI_DisplayVideoData(c.width, c.height, c.data); });
        EXPECT_EQ(DPMGAPI_DebugFramesShown(), before + (c.accepted ? 1 : 0))
            << c.width << "x" << c.height;
        if (!c.accepted) {
            PumpFor(10);
            EXPECT_EQ(ViewcoreDebugRenderSurface().pixelColor(160, 120), QColor(Qt::magenta));
        }
    }
}

TEST_F(ViewcoreTest, ShowsTheLastOfManyPicturesAndResizesBetweenThem) {
    const int before = DPMGAPI_DebugFramesShown();
    OnWorker([] {
        for (int i = 0; i < 200; ++i) {
            // Growing and shrinking sizes, each in its own colour.
            const int w = 64 + (i % 5) * 100;
            const TestPicture p(w, w * 3 / 4, CellColour(i));
            DPMGAPI_DisplayVideoData(static_cast<std::uint32_t>(p.width),
                                     static_cast<std::uint32_t>(p.height), p.bgr.data());
        }
    });
    EXPECT_EQ(DPMGAPI_DebugFramesShown(), before + 200);
    ASSERT_TRUE(PumpUntil([] {
        return Distance(ViewcoreDebugRenderSurface().pixelColor(160, 120), CellColour(199)) <= 2;
    }));
}

TEST_F(ViewcoreTest, WorkerCallsAfterDestroyAreHarmless) {
    const TestPicture p(kSurfaceW, kSurfaceH, Qt::green);
    Show(p, QPoint(160, 120), Qt::green);
    DPMGAPI_DestroyDisplay();
    EXPECT_FALSE(IsWindow(m_surface));
    EXPECT_TRUE(ViewcoreDebugRenderSurface().isNull());
    const int before = DPMGAPI_DebugFramesShown();
    auto everything = [&] {
        DPMGAPI_SetDivision(4, 0);
        DPMGAPI_SetDivisionPIP(0, 1);
        DPMGAPI_SetMargin(1, 2, 3, 4);
        DPMGAPI_SetTime(2009, 1, 1, 0, 0, 0);
        DPMGAPI_SetDrawOSD(3);
        DPMGAPI_DisplayVideoData(static_cast<std::uint32_t>(p.width),
                                 static_cast<std::uint32_t>(p.height), p.bgr.data());
    };
    OnWorker(everything);
    DPMGAPI_DisplayClear();
    DPMGAPI_DestroyDisplay();
    PumpFor(20);
    EXPECT_EQ(DPMGAPI_DebugFramesShown(), before);

    // The parent goes first, taking the surface with it.
    m_surface = DPMGAPI_CreateDisplay(m_parent->hwnd(), &kRect, 0);
    ASSERT_NE(m_surface, kNoWindow);
    m_parent->DestroyWindow();
    m_parent = nullptr;
    // Pumping alone does not run deferred deletions outside an event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(IsWindow(m_surface));
    EXPECT_TRUE(ViewcoreDebugRenderSurface().isNull());
    OnWorker(everything);
    PumpFor(20);
    EXPECT_EQ(DPMGAPI_DebugFramesShown(), before);
    EXPECT_TRUE(ViewcoreDebugRenderSurface().isNull());
}

TEST_F(ViewcoreTest, SurvivesDestroyAndCreateWhileTheWorkerRuns) {
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        const TestPicture p(352, 288, Qt::yellow);
        while (!stop.load()) {
            DPMGAPI_SetTime(2009, 1, 1, 0, 0, 0);
            DPMGAPI_SetDivision(4, 0);
            DPMGAPI_DisplayVideoData(352, 288, p.bgr.data());
        }
    });
    for (int round = 0; round < 10; ++round) {
        PumpFor(3);
        DPMGAPI_DestroyDisplay();
        PumpFor(3);
        m_surface = DPMGAPI_CreateDisplay(m_parent->hwnd(), &kRect, 0);
        ASSERT_NE(m_surface, kNoWindow);
    }
    EXPECT_TRUE(PumpUntil(
        [] { return ViewcoreDebugRenderSurface().pixelColor(300, 200) == QColor(Qt::yellow); }));
    stop.store(true);
    worker.join();
}
