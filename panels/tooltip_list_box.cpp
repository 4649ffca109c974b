#include "panels/tooltip_list_box.h"

#include <QCursor>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>

namespace {

// A line shows its tooltip when its text is wider than its row less this
// (the row's own inner margin).
constexpr int kRowSlack = 3;

}  // namespace

CToolTipListBox::CToolTipListBox(QWidget* parent) : ListBox(parent), m_tooltip(new QLabel(this)) {
    // The tooltip window: always on top, never activated, transparent to the
    // mouse (the list under it keeps getting the moves), text taken as it is,
    // no width limit and no margins, in the list's font.
    m_tooltip->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    m_tooltip->setAttribute(Qt::WA_ShowWithoutActivating);
    m_tooltip->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_tooltip->setTextFormat(Qt::PlainText);
    m_tooltip->setWordWrap(false);
    m_tooltip->setMaximumWidth(32767);
    m_tooltip->setContentsMargins(0, 0, 0, 0);
    m_tooltip->setMargin(0);
    m_tooltip->setAutoFillBackground(true);
    m_tooltip->setFont(List()->font());
    m_tooltip->hide();

    // The lines live in the list's viewport: its moves are ours.
    List()->viewport()->setMouseTracking(true);
    List()->viewport()->installEventFilter(this);
}

CToolTipListBox::~CToolTipListBox() = default;

QString CToolTipListBox::ToolTipText() const {
    return m_tooltip->text();
}

bool CToolTipListBox::ToolTipShown() const {
    return m_tooltip->isVisible();
}

bool CToolTipListBox::eventFilter(QObject* watched, QEvent* e) {
    if (watched == List()->viewport() && e->type() == QEvent::MouseMove) {
        auto* me = static_cast<QMouseEvent*>(e);
        const QPoint p = List()->viewport()->mapTo(this, me->position().toPoint());
        WindowProc(WM_MOUSEMOVE, (me->buttons() & Qt::LeftButton) ? WPARAM{MK_LBUTTON} : WPARAM{0},
                   MakeLParam(p.x(), p.y()));
    }
    return ListBox::eventFilter(watched, e);
}

LRESULT CToolTipListBox::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_MOUSEMOVE:
            OnMouseMove(QPoint(XFromLParam(lParam), YFromLParam(lParam)));
            break;
        case WM_TIMER:
            OnTipTimer(static_cast<UINT>(wParam));
            return 0;
        default:
            break;
    }
    return ListBox::WindowProc(msg, wParam, lParam);
}

void CToolTipListBox::HideTip() {
    m_tooltip->hide();
}

void CToolTipListBox::OnMouseMove(QPoint p) {
    if (!rect().contains(p)) {
        HideTip();
        return;
    }
    QListWidget* list = List();
    const QPoint inView = list->viewport()->mapFrom(this, p);
    QListWidgetItem* item = list->itemAt(inView);
    if (item == nullptr) {
        return;  // between or below the lines: the tooltip stays as it is
    }
    const QString text = item->text();
    // The line's place is the full width of the list, whatever the text's
    // own extent (the view sizes its rows to the longest text).
    const QRect itemRect = list->visualItemRect(item);
    const QRect row(0, itemRect.top(), list->viewport()->width(), itemRect.height());
    const int textWidth = QFontMetrics(list->font()).horizontalAdvance(text);
    if (row.width() - kRowSlack < textWidth) {
        m_tooltip->setText(text);
        m_tooltip->adjustSize();
        m_tooltip->move(list->viewport()->mapToGlobal(row.topLeft()));
        m_tooltip->show();
        m_tooltip->raise();
        SetTimer(kTipTimerId, kTipTimerMs);
    } else {
        HideTip();
    }
}

void CToolTipListBox::OnTipTimer(UINT timerId) {
    const QPoint p = mapFromGlobal(QCursor::pos());
    if (rect().contains(p) && isVisible()) {
        return;
    }
    KillTimer(timerId);
    HideTip();
}
