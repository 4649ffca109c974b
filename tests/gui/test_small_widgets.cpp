// The small widgets: the off-screen drawing buffer, the waiting box and the
// status list's tooltip for lines too long to show.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <string>

#include "panels/mem_dc.h"
#include "panels/tooltip_list_box.h"
#include "panels/waiting_dialog.h"
#include "tests/test_support.h"

using testing_support::PumpFor;
using testing_support::PumpUntil;

namespace {

// --- CMemDC ------------------------------------------------------------------

const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);

QImage Canvas(const QColor& c = kWhite) {
    QImage image(100, 80, QImage::Format_ARGB32_Premultiplied);
    image.fill(c);
    return image;
}

TEST(MemDcTest, DrawingReachesTheTargetOnlyAtTheEnd) {
    QImage target = Canvas();
    QPainter painter(&target);
    const QRect area(10, 10, 30, 20);
    {
        CMemDC dc(&painter, &area);
        ASSERT_TRUE(dc.IsBuffered());
        dc->fillRect(QRect(15, 15, 5, 5), kRed);  // the target's coordinates
        EXPECT_EQ(QColor(target.pixel(16, 16)), kWhite);
    }
    EXPECT_EQ(QColor(target.pixel(16, 16)), kRed);
    EXPECT_EQ(QColor(target.pixel(5, 5)), kWhite);    // outside the area
    EXPECT_EQ(QColor(target.pixel(45, 15)), kWhite);  // outside the area
}

TEST(MemDcTest, StartsFromTheTargetOrFromItsBackground) {
    struct Case {
        const char* name;
        bool copyFirst;
        QColor expected;
    } cases[] = {{"copy first", true, kGreen}, {"background", false, kRed}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QImage target = Canvas(kGreen);
        QPainter painter(&target);
        painter.setBackground(kRed);
        const QRect area(0, 0, 20, 20);
        { CMemDC dc(&painter, &area, c.copyFirst); }
        EXPECT_EQ(QColor(target.pixel(10, 10)), c.expected);
        EXPECT_EQ(QColor(target.pixel(50, 50)), kGreen);
    }
}

TEST(MemDcTest, WithoutAreaCoversTheClipBoxOrTheDevice) {
    QImage target = Canvas();
    QPainter painter(&target);
    {
        CMemDC dc(&painter);
        EXPECT_EQ(dc.Rect(), QRect(0, 0, 100, 80));
    }
    painter.setClipRect(QRect(20, 30, 10, 10));
    {
        CMemDC dc(&painter);
        EXPECT_EQ(dc.Rect(), QRect(20, 30, 10, 10));
    }
}

TEST(MemDcTest, KeepsTheTargetsTransform) {
    QImage target = Canvas();
    QPainter painter(&target);
    painter.translate(10, 20);
    const QRect area(0, 0, 30, 30);  // logical: device (10, 20)
    {
        CMemDC dc(&painter, &area, true);
        dc->fillRect(QRect(0, 0, 2, 2), kRed);
    }
    painter.end();
    EXPECT_EQ(QColor(target.pixel(10, 20)), kRed);
    EXPECT_EQ(QColor(target.pixel(0, 0)), kWhite);
}

// A printer: a device of the printer type whose engine counts what it is asked to draw.
class CountingEngine : public QPaintEngine {
public:
    CountingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawRects(const QRect*, int n) override { shapes += n; }
    void drawRects(const QRectF*, int n) override { shapes += n; }
    void drawPath(const QPainterPath&) override { ++shapes; }
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override { ++shapes; }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override { ++pictures; }
    void drawImage(const QRectF&, const QImage&, const QRectF&, Qt::ImageConversionFlags) override {
        ++pictures;
    }
    Type type() const override { return QPaintEngine::User; }

    int shapes = 0;
    int pictures = 0;
};

class FakePrinter : public QPaintDevice {
public:
    int devType() const override { return QInternal::Printer; }
    QPaintEngine* paintEngine() const override { return &engine; }
    mutable CountingEngine engine;

protected:
    int metric(PaintDeviceMetric m) const override {
        switch (m) {
            case PdmWidth:
                return 100;
            case PdmHeight:
                return 80;
            case PdmDpiX:
            case PdmDpiY:
            case PdmPhysicalDpiX:
            case PdmPhysicalDpiY:
                return 96;
            case PdmDepth:
                return 32;
            default:
                return QPaintDevice::metric(m);
        }
    }
};

TEST(MemDcTest, OnAPrinterDrawsStraightThrough) {
    FakePrinter printer;
    QPainter painter(&printer);
    ASSERT_TRUE(painter.isActive());
    const QRect area(0, 0, 50, 50);
    {
        CMemDC dc(&painter, &area);
        EXPECT_FALSE(dc.IsBuffered());
        EXPECT_EQ(dc.painter(), &painter);
        dc->fillRect(QRect(5, 5, 5, 5), kRed);
        EXPECT_GT(printer.engine.shapes, 0);  // already on the printer
    }
    // Nothing is copied over it at the end.
    EXPECT_EQ(printer.engine.pictures, 0);
}

// --- DLG_Waiting ---------------------------------------------------------------------

struct WaitingCase {
    const char* name;
    bool withLookup;
    std::u16string translation;  // what the language file gives
    std::u16string shown;
};

TEST(WaitingDialogTest, ShowsTheTranslatedText) {
    const WaitingCase cases[] = {
        {"translated", true, u"Bitte warten", u"Bitte warten"},
        {"key missing: the key itself", true, u"WAITING FOR SERVER RESPONSE",
         u"WAITING FOR SERVER RESPONSE"},
        {"no language lookup: template text", false, u"", u"Waiting for Server Response"},
    };
    for (const WaitingCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::u16string section;
        std::u16string key;
        DLG_Waiting::LookupFn lookup;
        if (c.withLookup) {
            lookup = [&](std::u16string_view s, std::u16string_view k) {
                section = s;
                key = k;
                return c.translation;
            };
        }
        DLG_Waiting box(lookup);
        ASSERT_TRUE(box.Create());
        if (c.withLookup) {
            EXPECT_EQ(section, u"MESSAGE");
            EXPECT_EQ(key, u"WAITING FOR SERVER RESPONSE");
        }
        EXPECT_EQ(box.Text(), c.shown);
        auto* label =
            qobject_cast<QLabel*>(box.GetWindow()->GetDlgItem(DLG_Waiting::kTextControlId));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text().toStdU16String(), c.shown);
        box.Destroy();
    }
    PumpFor(5);
}

TEST(WaitingDialogTest, LongTranslationIsCut) {
    DLG_Waiting box(
        [](std::u16string_view, std::u16string_view) { return std::u16string(400, u'x'); });
    box.Create();
    EXPECT_EQ(box.Text().size(), static_cast<std::size_t>(DLG_Waiting::kMaxTextUnits));
    box.Destroy();
    PumpFor(5);
}

TEST(WaitingDialogTest, OpensCentredWithoutParentAndIsReused) {
    DLG_Waiting box;
    ASSERT_TRUE(box.Create());
    Window* first = box.GetWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->parentWidget(), nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(box.Create());  // already open: the same window
    EXPECT_EQ(box.GetWindow(), first);
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    // Centred as a whole, frame included (to a pixel of rounding).
    ASSERT_TRUE(PumpUntil(
        [&] { return (first->frameGeometry().center() - screenCentre).manhattanLength() <= 2; }));

    const HWND handle = first->hwnd();
    box.Destroy();
    EXPECT_FALSE(box.IsOpen());
    EXPECT_FALSE(IsWindow(handle));
    box.Destroy();  // nothing open: nothing happens
    PumpFor(5);

    ASSERT_TRUE(box.Create());
    EXPECT_TRUE(box.GetWindow()->isVisible());
    box.Destroy();
    PumpFor(5);
}

TEST(WaitingDialogTest, ClosingTheWindowDestroysIt) {
    DLG_Waiting box;
    box.Create();
    box.GetWindow()->close();
    EXPECT_FALSE(box.IsOpen());
    PumpFor(5);
}

TEST(WaitingDialogTest, ModalRunEndsWithEndDialog) {
    DLG_Waiting box;
    QTimer::singleShot(20, [&] {
        EXPECT_TRUE(box.IsOpen());
        box.EndDialog(7);
    });
    EXPECT_EQ(box.DoModal(), 7);
    EXPECT_FALSE(box.IsOpen());
    PumpFor(5);
}

// --- CToolTipListBox ---------------------------------------------------------------------

class ToolTipListTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_list = new CToolTipListBox;
        m_list->setGeometry(100, 100, 200, 150);
        m_list->show();
        ASSERT_TRUE(
            PumpUntil([&] { return m_list->mapToGlobal(QPoint(0, 0)) == QPoint(100, 100); }));
        Add(u"ok");
        Add(std::u16string(u"camera 1 video loss on channel 1 recorded at 2024-01-01 ") +
            u"12:00:00 while the recorder was busy writing the event index");
    }
    void TearDown() override { delete m_list; }
    void Add(const std::u16string& line) {
        SendMessage(m_list->hwnd(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    }
    // The pointer moves over line `row` (as the system would tell the list).
    void HoverLine(int row) {
        QListWidget* list = m_list->List();
        const QRect r = list->visualItemRect(list->item(row));
        const QPoint local = r.topLeft() + QPoint(5, r.height() / 2);
        const QPoint global = list->viewport()->mapToGlobal(local);
        QCursor::setPos(global);
        QMouseEvent e(QEvent::MouseMove, QPointF(local), QPointF(global), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(list->viewport(), &e);
    }
    CToolTipListBox* m_list = nullptr;
};

TEST_F(ToolTipListTest, LongLineShowsItsFullTextOverTheLine) {
    HoverLine(1);
    ASSERT_TRUE(m_list->ToolTipShown());
    EXPECT_EQ(m_list->ToolTipText().toStdU16String(), m_list->Text(1));
    QListWidget* list = m_list->List();
    const QPoint lineCorner =
        list->viewport()->mapToGlobal(QPoint(0, list->visualItemRect(list->item(1)).top()));
    EXPECT_EQ(m_list->ToolTip()->pos(), lineCorner);
}

TEST_F(ToolTipListTest, ShortLineShowsNoTooltip) {
    HoverLine(0);
    EXPECT_FALSE(m_list->ToolTipShown());
    // From a long line to a short one: the tooltip goes.
    HoverLine(1);
    ASSERT_TRUE(m_list->ToolTipShown());
    HoverLine(0);
    EXPECT_FALSE(m_list->ToolTipShown());
}

TEST_F(ToolTipListTest, StaysWhileThePointerIsOverTheList) {
    HoverLine(1);
    ASSERT_TRUE(m_list->ToolTipShown());
    PumpFor(250);
    EXPECT_TRUE(m_list->ToolTipShown());
}

TEST_F(ToolTipListTest, HiddenSoonAfterThePointerLeaves) {
    HoverLine(1);
    ASSERT_TRUE(m_list->ToolTipShown());
    QCursor::setPos(QPoint(600, 600));  // onto another window, no message to the list
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(PumpUntil([&] { return !m_list->ToolTipShown(); }, 2000));
    EXPECT_LT(t.elapsed(), 1000);  // one 80 ms tick, loosely
}

TEST_F(ToolTipListTest, MoveOutsideTheClientAreaHidesAtOnce) {
    HoverLine(1);
    ASSERT_TRUE(m_list->ToolTipShown());
    SendMessage(m_list->hwnd(), WM_MOUSEMOVE, 0, MakeLParam(-5, 10));
    EXPECT_FALSE(m_list->ToolTipShown());
}

}  // namespace
