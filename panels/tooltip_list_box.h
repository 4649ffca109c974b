#pragma once
// CToolTipListBox: the status list. A line too long for the list shows its
// full text in a tooltip laid over the line while the pointer is on it; the
// tooltip goes within 80 ms after the pointer has left the list.
//
// Window thread only.

#include <QPoint>
#include <QString>

#include "platform/listbox.h"

class QLabel;

class CToolTipListBox : public ListBox {
public:
    static constexpr UINT kTipTimerId = 1;
    static constexpr unsigned kTipTimerMs = 80;

    explicit CToolTipListBox(QWidget* parent = nullptr);
    ~CToolTipListBox() override;

    // WM_MOUSEMOVE (lParam: the point in the list box's client coordinates;
    // the pointer over the lines arrives here too) and WM_TIMER; the rest is
    // the plain list box.
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // The tooltip window, its text and whether it shows.
    QLabel* ToolTip() const { return m_tooltip; }
    QString ToolTipText() const;
    bool ToolTipShown() const;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void OnMouseMove(QPoint p);
    void OnTipTimer(UINT timerId);
    void HideTip();

    QLabel* m_tooltip;
};
