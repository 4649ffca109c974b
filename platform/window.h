#pragma once
// Windows with a window procedure, carried on Qt objects.
//
// Window is a QWidget whose Qt events arrive in WindowProc as the standard
// messages (mouse, keys, paint, show, move, size, timers, close), next to the
// numbered messages posted or sent to its handle (messages.h). MessageWindow is
// the same without a widget: a receiver of messages only.
//
// Both belong to the thread that created them. DestroyWindow delivers
// WM_DESTROY while the object is still whole, then deletes it; posted messages
// still queued for it are dropped (their tickets finished).

#include <QObject>
#include <QWidget>
#include <map>

#include "platform/messages.h"

class QPainter;

// The part shared by widgets and message-only windows: handle, procedure, timers.
class MessageTarget {
public:
    MessageTarget(const MessageTarget&) = delete;
    MessageTarget& operator=(const MessageTarget&) = delete;

    HWND hwnd() const { return m_hwnd; }

    // Every message comes here. The default handles nothing and returns 0.
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

    // Periodic WM_TIMER (wParam = id) every intervalMs on the target's thread;
    // setting an existing id restarts it. KillTimer returns false for an unknown id.
    void SetTimer(UINT id, unsigned intervalMs);
    bool KillTimer(UINT id);

    // Handles the platform's own events (posted and sent messages, timers).
    // Returns true when the event was one of them.
    bool HandlePlatformEvent(QEvent* e);

protected:
    explicit MessageTarget(QObject* object);
    virtual ~MessageTarget();
    // Called first thing in the most-derived destructor chain (by Window and
    // MessageWindow): from then on the handle finds nothing.
    void Unregister();

private:
    QObject* m_object;
    HWND m_hwnd = kNoWindow;
    std::map<int, UINT> m_timers;  // Qt timer id -> our id
};

class Window : public QWidget, public MessageTarget {
public:
    explicit Window(QWidget* parent = nullptr);
    ~Window() override;

    // WM_DESTROY through WindowProc, then the object is deleted (later, from
    // the event loop, so that a caller inside WindowProc stays safe).
    void DestroyWindow();

    // Valid only while WindowProc handles WM_PAINT or WM_ERASEBKGND: the
    // painter of the current paint event.
    QPainter* PaintPainter() const { return m_painter; }

    // Child widgets carry numeric control ids, as dialog items do.
    QWidget* GetDlgItem(int id) const;
    static void SetControlId(QWidget* w, int id);
    static int ControlId(const QWidget* w);

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    QPainter* m_painter = nullptr;
    bool m_destroyed = false;
};

class MessageWindow : public QObject, public MessageTarget {
public:
    MessageWindow();
    ~MessageWindow() override;

protected:
    bool event(QEvent* e) override;
};

// The widget behind a handle, or null (also for a MessageWindow). Use it on the
// widget's own thread only.
QWidget* WidgetFromHandle(HWND hwnd);

// Qt key code (with its keypad flag) to the virtual-key code; 0 when none.
WPARAM VirtualKeyFromQt(int qtKey, bool keypad);
