#include "platform/window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QThread>
#include <QTimerEvent>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

// Handle registry. A poster holds the lock while it queues its event, and a
// target removes itself under the same lock before Qt drops its queued events,
// so an event is never queued for an object that is being destroyed.
struct Entry {
    QObject* object;
    MessageTarget* target;
};
std::mutex g_registryLock;
std::unordered_map<HWND, Entry>& Registry() {
    static auto* registry = new std::unordered_map<HWND, Entry>();
    return *registry;
}
HWND g_nextHandle = 0x10000;

const QEvent::Type kPostedType = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kSentType = static_cast<QEvent::Type>(QEvent::registerEventType());

// Posted messages are the busiest allocation of the client (one per received
// packet), so their events come from a free list and are recycled.
class PostedEvent : public QEvent {
public:
    PostedEvent(UINT msg, WPARAM w, LPARAM l, MessageTicket* ticket)
        : QEvent(kPostedType), m_msg(msg), m_wParam(w), m_lParam(l), m_ticket(ticket) {}
    ~PostedEvent() override {
        if (m_ticket != nullptr) {
            m_ticket->Finished();
        }
    }
    static void* operator new(std::size_t size);
    static void operator delete(void* p);

    UINT m_msg;
    WPARAM m_wParam;
    LPARAM m_lParam;
    MessageTicket* m_ticket;
};

std::mutex g_freeLock;
std::vector<void*>& FreeEvents() {
    static auto* list = new std::vector<void*>();
    return *list;
}
constexpr std::size_t kMaxFreeEvents = 4096;

void* PostedEvent::operator new(std::size_t size) {
    {
        std::lock_guard<std::mutex> lock(g_freeLock);
        auto& list = FreeEvents();
        if (size == sizeof(PostedEvent) && !list.empty()) {
            void* p = list.back();
            list.pop_back();
            return p;
        }
    }
    return ::operator new(size);
}

void PostedEvent::operator delete(void* p) {
    std::lock_guard<std::mutex> lock(g_freeLock);
    auto& list = FreeEvents();
    if (list.size() < kMaxFreeEvents) {
        list.push_back(p);
        return;
    }
    ::operator delete(p);
}

// Messages sent from another thread wait in a queue per receiving thread, so
// that the receiver can take them both from its event loop and while it waits
// for something else (DispatchSentMessages), as a window thread must when it
// stops a worker that is sending to it.
struct SendRecord {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
};
std::mutex g_sendLock;
std::condition_variable g_sendDone;
std::unordered_map<QThread*, std::vector<std::shared_ptr<SendRecord>>>& SendQueues() {
    static auto* queues = new std::unordered_map<QThread*, std::vector<std::shared_ptr<SendRecord>>>();
    return *queues;
}

void Complete(SendRecord& r, LRESULT result) {
    {
        std::lock_guard<std::mutex> lock(g_sendLock);
        r.result = result;
        r.done = true;
    }
    g_sendDone.notify_all();
}

// The wake-up for a thread that has sent messages waiting.
class SentWakeEvent : public QEvent {
public:
    SentWakeEvent() : QEvent(kSentType) {}
};

MessageTarget* FindTargetOnThisThread(HWND hwnd) {
    std::lock_guard<std::mutex> lock(g_registryLock);
    auto it = Registry().find(hwnd);
    if (it == Registry().end() || it->second.object->thread() != QThread::currentThread()) {
        return nullptr;
    }
    return it->second.target;
}

WPARAM MouseKeyState(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods) {
    WPARAM k = 0;
    if (buttons & Qt::LeftButton) k |= MK_LBUTTON;
    if (buttons & Qt::RightButton) k |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton) k |= MK_MBUTTON;
    if (mods & Qt::ShiftModifier) k |= MK_SHIFT;
    if (mods & Qt::ControlModifier) k |= MK_CONTROL;
    return k;
}

const char* const kControlIdProperty = "qvControlId";

}  // namespace

bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, MessageTicket* ticket) {
    {
        std::lock_guard<std::mutex> lock(g_registryLock);
        auto it = Registry().find(hwnd);
        if (it != Registry().end()) {
            QCoreApplication::postEvent(it->second.object,
                                        new PostedEvent(msg, wParam, lParam, ticket));
            return true;
        }
    }
    if (ticket != nullptr) {
        ticket->Finished();
    }
    return false;
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    MessageTarget* direct = nullptr;
    std::shared_ptr<SendRecord> record;
    {
        std::lock_guard<std::mutex> lock(g_registryLock);
        auto it = Registry().find(hwnd);
        if (it == Registry().end()) {
            return 0;
        }
        QThread* thread = it->second.object->thread();
        if (thread == QThread::currentThread()) {
            direct = it->second.target;
        } else {
            record = std::make_shared<SendRecord>(SendRecord{hwnd, msg, wParam, lParam});
            {
                std::lock_guard<std::mutex> sendLock(g_sendLock);
                SendQueues()[thread].push_back(record);
            }
            QCoreApplication::postEvent(it->second.object, new SentWakeEvent,
                                        Qt::HighEventPriority);
        }
    }
    if (direct != nullptr) {
        return direct->WindowProc(msg, wParam, lParam);
    }
    std::unique_lock<std::mutex> lock(g_sendLock);
    g_sendDone.wait(lock, [&] { return record->done; });
    return record->result;
}

void DispatchSentMessages() {
    QThread* self = QThread::currentThread();
    for (;;) {
        std::shared_ptr<SendRecord> record;
        {
            std::lock_guard<std::mutex> lock(g_sendLock);
            auto it = SendQueues().find(self);
            if (it == SendQueues().end() || it->second.empty()) {
                return;
            }
            record = it->second.front();
            it->second.erase(it->second.begin());
        }
        MessageTarget* target = FindTargetOnThisThread(record->hwnd);
        Complete(*record, target != nullptr
                              ? target->WindowProc(record->msg, record->wParam, record->lParam)
                              : 0);
    }
}

bool IsWindow(HWND hwnd) {
    std::lock_guard<std::mutex> lock(g_registryLock);
    return Registry().count(hwnd) != 0;
}

QWidget* WidgetFromHandle(HWND hwnd) {
    std::lock_guard<std::mutex> lock(g_registryLock);
    auto it = Registry().find(hwnd);
    return it != Registry().end() ? qobject_cast<QWidget*>(it->second.object) : nullptr;
}

// --- MessageTarget ---------------------------------------------------------

MessageTarget::MessageTarget(QObject* object) : m_object(object) {
    std::lock_guard<std::mutex> lock(g_registryLock);
    m_hwnd = g_nextHandle++;
    Registry()[m_hwnd] = Entry{object, this};
}

MessageTarget::~MessageTarget() { Unregister(); }

void MessageTarget::Unregister() {
    HWND gone = kNoWindow;
    {
        std::lock_guard<std::mutex> lock(g_registryLock);
        if (m_hwnd == kNoWindow) {
            return;
        }
        Registry().erase(m_hwnd);
        gone = m_hwnd;
        m_hwnd = kNoWindow;
    }
    // Senders still waiting for this target get 0 now; their wake-up events
    // die with the object.
    std::vector<std::shared_ptr<SendRecord>> orphans;
    {
        std::lock_guard<std::mutex> lock(g_sendLock);
        for (auto& [thread, queue] : SendQueues()) {
            for (auto it = queue.begin(); it != queue.end();) {
                if ((*it)->hwnd == gone) {
                    orphans.push_back(*it);
                    it = queue.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
    for (auto& r : orphans) {
        Complete(*r, 0);
    }
}

LRESULT MessageTarget::WindowProc(UINT, WPARAM, LPARAM) { return 0; }

void MessageTarget::SetTimer(UINT id, unsigned intervalMs) {
    KillTimer(id);
    int qtId = m_object->startTimer(static_cast<int>(intervalMs), Qt::PreciseTimer);
    if (qtId != 0) {
        m_timers[qtId] = id;
    }
}

bool MessageTarget::KillTimer(UINT id) {
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
        if (it->second == id) {
            m_object->killTimer(it->first);
            m_timers.erase(it);
            return true;
        }
    }
    return false;
}

bool MessageTarget::HandlePlatformEvent(QEvent* e) {
    if (e->type() == kPostedType) {
        auto* pe = static_cast<PostedEvent*>(e);
        // Messages still queued when the target was destroyed are dropped.
        if (m_hwnd != kNoWindow && (pe->m_ticket == nullptr || pe->m_ticket->Deliverable())) {
            WindowProc(pe->m_msg, pe->m_wParam, pe->m_lParam);
        }
        return true;
    }
    if (e->type() == kSentType) {
        DispatchSentMessages();
        return true;
    }
    if (e->type() == QEvent::Timer) {
        auto it = m_timers.find(static_cast<QTimerEvent*>(e)->timerId());
        if (it == m_timers.end()) {
            return false;
        }
        if (m_hwnd != kNoWindow) {
            WindowProc(WM_TIMER, it->second, 0);
        }
        return true;
    }
    return false;
}

// --- Window ----------------------------------------------------------------

Window::Window(QWidget* parent) : QWidget(parent), MessageTarget(this) {
    setMouseTracking(true);
}

Window::~Window() {
    Unregister();
}

void Window::DestroyWindow() {
    if (m_destroyed) {
        return;
    }
    m_destroyed = true;
    WindowProc(WM_DESTROY, 0, 0);
    Unregister();
    hide();
    deleteLater();
}

QWidget* Window::GetDlgItem(int id) const {
    const auto children = findChildren<QWidget*>();
    for (QWidget* w : children) {
        if (ControlId(w) == id) {
            return w;
        }
    }
    return nullptr;
}

void Window::SetControlId(QWidget* w, int id) { w->setProperty(kControlIdProperty, id); }

int Window::ControlId(const QWidget* w) {
    QVariant v = w->property(kControlIdProperty);
    return v.isValid() ? v.toInt() : 0;
}

bool Window::event(QEvent* e) {
    if (HandlePlatformEvent(e)) {
        return true;
    }
    if (hwnd() == kNoWindow) {
        return QWidget::event(e);
    }
    switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove: {
            auto* me = static_cast<QMouseEvent*>(e);
            const QPoint p = me->position().toPoint();
            const LPARAM l = MakeLParam(p.x(), p.y());
            const WPARAM keys = MouseKeyState(me->buttons(), me->modifiers());
            UINT msg = WM_MOUSEMOVE;
            if (e->type() == QEvent::MouseButtonPress) {
                msg = me->button() == Qt::RightButton ? WM_RBUTTONDOWN : WM_LBUTTONDOWN;
            } else if (e->type() == QEvent::MouseButtonRelease) {
                msg = me->button() == Qt::RightButton ? WM_RBUTTONUP : WM_LBUTTONUP;
            } else if (e->type() == QEvent::MouseButtonDblClick) {
                msg = me->button() == Qt::RightButton ? WM_RBUTTONDOWN : WM_LBUTTONDBLCLK;
            }
            if (me->button() != Qt::MiddleButton) {
                WindowProc(msg, keys, l);
            }
            e->accept();
            return true;
        }
        case QEvent::Leave:
            WindowProc(WM_MOUSELEAVE, 0, 0);
            break;
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            auto* ke = static_cast<QKeyEvent*>(e);
            WPARAM vk = VirtualKeyFromQt(ke->key(), ke->modifiers() & Qt::KeypadModifier);
            if (vk != 0) {
                LPARAM l = 1 | (ke->isAutoRepeat() ? (LPARAM{1} << 30) : 0);
                WindowProc(e->type() == QEvent::KeyPress ? WM_KEYDOWN : WM_KEYUP, vk, l);
            }
            break;
        }
        case QEvent::Show:
            WindowProc(WM_SHOWWINDOW, 1, 0);
            break;
        case QEvent::Hide:
            WindowProc(WM_SHOWWINDOW, 0, 0);
            break;
        case QEvent::Move: {
            const QPoint p = static_cast<QMoveEvent*>(e)->pos();
            WindowProc(WM_MOVE, 0, MakeLParam(p.x(), p.y()));
            break;
        }
        case QEvent::Resize: {
            const QSize s = static_cast<QResizeEvent*>(e)->size();
            WindowProc(WM_SIZE, SIZE_RESTORED, MakeLParam(s.width(), s.height()));
            break;
        }
        case QEvent::Close:
            WindowProc(WM_CLOSE, 0, 0);
            break;
        default:
            break;
    }
    return QWidget::event(e);
}

void Window::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    m_painter = &painter;
    WindowProc(WM_ERASEBKGND, reinterpret_cast<WPARAM>(&painter), 0);
    WindowProc(WM_PAINT, 0, 0);
    m_painter = nullptr;
}

// --- MessageWindow -----------------------------------------------------------

MessageWindow::MessageWindow() : MessageTarget(this) {}

MessageWindow::~MessageWindow() { Unregister(); }

bool MessageWindow::event(QEvent* e) {
    if (HandlePlatformEvent(e)) {
        return true;
    }
    return QObject::event(e);
}

// --- keys ------------------------------------------------------------------

WPARAM VirtualKeyFromQt(int key, bool keypad) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        // Keypad digits have codes of their own, apart from the main keyboard's.
        return keypad ? 0x60 + (key - Qt::Key_0) : static_cast<WPARAM>(key);
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return static_cast<WPARAM>(key);
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
        return VK_F1 + (key - Qt::Key_F1);
    }
    switch (key) {
        case Qt::Key_Backspace: return VK_BACK;
        case Qt::Key_Tab: return VK_TAB;
        case Qt::Key_Return:
        case Qt::Key_Enter: return VK_RETURN;
        case Qt::Key_Shift: return VK_SHIFT;
        case Qt::Key_Control: return VK_CONTROL;
        case Qt::Key_Alt: return VK_MENU;
        case Qt::Key_Escape: return VK_ESCAPE;
        case Qt::Key_Space: return VK_SPACE;
        case Qt::Key_PageUp: return VK_PRIOR;
        case Qt::Key_PageDown: return VK_NEXT;
        case Qt::Key_End: return VK_END;
        case Qt::Key_Home: return VK_HOME;
        case Qt::Key_Left: return VK_LEFT;
        case Qt::Key_Up: return VK_UP;
        case Qt::Key_Right: return VK_RIGHT;
        case Qt::Key_Down: return VK_DOWN;
        case Qt::Key_Insert: return VK_INSERT;
        case Qt::Key_Delete: return VK_DELETE;
        default: return 0;
    }
}
