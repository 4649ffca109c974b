// The message layer: posting, sending, dropping, timers and the translation of
// Qt input into standard messages.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "tests/test_support.h"

using testing_support::PumpUntil;

namespace {

struct Msg {
    UINT msg;
    WPARAM w;
    LPARAM l;
};

class RecordingWindow : public Window {
public:
    LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
        received.push_back({msg, w, l});
        return msg == WM_USER + 7 ? static_cast<LRESULT>(w * 2) : 0;
    }
    bool Got(UINT msg) const {
        for (const auto& m : received) {
            if (m.msg == msg) return true;
        }
        return false;
    }
    std::vector<Msg> received;
};

class CountingTicket : public MessageTicket {
public:
    explicit CountingTicket(bool deliverable = true) : m_deliverable(deliverable) {}
    bool Deliverable() const override { return m_deliverable; }
    void Finished() override { finished++; }
    std::atomic<int> finished{0};

private:
    bool m_deliverable;
};

}  // namespace

TEST(Messages, PostedMessagesArriveInOrderAndFinishTheirTickets) {
    RecordingWindow w;
    CountingTicket t1, t2;
    ASSERT_TRUE(PostMessage(w.hwnd(), WM_USER + 1, 10, 20, &t1));
    ASSERT_TRUE(PostMessage(w.hwnd(), WM_USER + 2, 11, 21, &t2));
    EXPECT_EQ(t1.finished, 0);
    ASSERT_TRUE(PumpUntil([&] { return w.received.size() >= 2; }));
    EXPECT_EQ(w.received[0].msg, WM_USER + 1u);
    EXPECT_EQ(w.received[0].w, 10u);
    EXPECT_EQ(w.received[0].l, 20);
    EXPECT_EQ(w.received[1].msg, WM_USER + 2u);
    EXPECT_EQ(t1.finished, 1);
    EXPECT_EQ(t2.finished, 1);
}

TEST(Messages, UndeliverableTicketDropsTheMessage) {
    RecordingWindow w;
    CountingTicket stale(false);
    ASSERT_TRUE(PostMessage(w.hwnd(), WM_USER + 3, 0, 0, &stale));
    ASSERT_TRUE(PumpUntil([&] { return stale.finished == 1; }));
    EXPECT_FALSE(w.Got(WM_USER + 3));
}

TEST(Messages, MessagesToADestroyedWindowAreDroppedAndTicketsFinished) {
    auto* w = new RecordingWindow;
    const HWND h = w->hwnd();
    CountingTicket queued;
    ASSERT_TRUE(PostMessage(h, WM_USER + 4, 0, 0, &queued));
    w->DestroyWindow();  // WM_DESTROY now, deletion from the event loop
    EXPECT_FALSE(IsWindow(h));
    CountingTicket late;
    EXPECT_FALSE(PostMessage(h, WM_USER + 5, 0, 0, &late));
    EXPECT_EQ(late.finished, 1);
    EXPECT_EQ(SendMessage(h, WM_USER + 7, 3, 0), 0);
    ASSERT_TRUE(PumpUntil([&] { return queued.finished == 1; }));
}

TEST(Messages, SendFromAnotherThreadIsARoundTrip) {
    RecordingWindow w;
    const HWND h = w.hwnd();
    std::atomic<LRESULT> result{-1};
    std::thread t([&] { result = SendMessage(h, WM_USER + 7, 21, 0); });
    ASSERT_TRUE(PumpUntil([&] { return result != -1; }));
    t.join();
    EXPECT_EQ(result, 42);
    // On the window's own thread the call is direct.
    EXPECT_EQ(SendMessage(h, WM_USER + 7, 5, 0), 10);
}

TEST(Messages, SenderIsReleasedWhenTheWindowDiesFirst) {
    auto* w = new RecordingWindow;
    const HWND h = w->hwnd();
    std::atomic<LRESULT> result{-1};
    std::atomic<bool> started{false};
    std::thread t([&] {
        started = true;
        result = SendMessage(h, WM_USER + 7, 21, 0);
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    delete w;  // queued sends are dropped, the sender gets 0
    t.join();
    EXPECT_TRUE(result == 0 || result == 42);
}

TEST(Messages, PostingFromManyThreadsLosesNothing) {
    RecordingWindow w;
    const HWND h = w.hwnd();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([h, t] {
            for (int i = 0; i < 500; ++i) PostMessage(h, WM_USER + 10, t, i);
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(PumpUntil([&] { return w.received.size() >= 2000; }));
    std::vector<int> next(4, 0);
    for (const auto& m : w.received) {
        ASSERT_EQ(m.l, next[m.w]++);  // per-sender order is kept
    }
}

TEST(Messages, TimersDeliverTheirIdsUntilKilled) {
    RecordingWindow w;
    w.SetTimer(77, 1);
    ASSERT_TRUE(PumpUntil([&] { return w.Got(WM_TIMER); }));
    EXPECT_EQ(w.received.back().w, 77u);
    EXPECT_TRUE(w.KillTimer(77));
    EXPECT_FALSE(w.KillTimer(77));
}

TEST(Messages, MouseAndKeysBecomeStandardMessages) {
    RecordingWindow w;
    w.resize(100, 100);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(9, 7), QPointF(9, 7), Qt::LeftButton,
                      Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(&w, &press);
    QMouseEvent right(QEvent::MouseButtonPress, QPointF(300, 2), QPointF(300, 2), Qt::RightButton,
                      Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &right);
    QKeyEvent digit(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, "1");
    QCoreApplication::sendEvent(&w, &digit);
    QKeyEvent pad(QEvent::KeyPress, Qt::Key_1, Qt::KeypadModifier, "1");
    QCoreApplication::sendEvent(&w, &pad);

    std::vector<Msg> got;
    for (const auto& m : w.received) {
        if (m.msg == WM_LBUTTONDOWN || m.msg == WM_RBUTTONDOWN || m.msg == WM_KEYDOWN) {
            got.push_back(m);
        }
    }
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].msg, static_cast<UINT>(WM_LBUTTONDOWN));
    EXPECT_EQ(got[0].w, MK_LBUTTON | MK_SHIFT);
    EXPECT_EQ(XFromLParam(got[0].l), 9);
    EXPECT_EQ(YFromLParam(got[0].l), 7);
    EXPECT_EQ(got[1].msg, static_cast<UINT>(WM_RBUTTONDOWN));
    EXPECT_EQ(XFromLParam(got[1].l), 300);
    EXPECT_EQ(got[2].w, 0x31u);
    EXPECT_EQ(got[3].w, 0x61u);
}

TEST(Messages, ControlIdsFindChildren) {
    Window w;
    auto* child = new QWidget(&w);
    Window::SetControlId(child, 205);
    EXPECT_EQ(w.GetDlgItem(205), child);
    EXPECT_EQ(w.GetDlgItem(206), nullptr);
}

TEST(Messages, AWaitingThreadCanServeSendsWithoutItsEventLoop) {
    RecordingWindow w;
    const HWND h = w.hwnd();
    std::atomic<LRESULT> result{-1};
    std::thread t([&] { result = SendMessage(h, WM_USER + 7, 4, 0); });
    // The window thread is busy waiting for the sender (as when it stops a
    // worker that is writing a status line); it serves the send in between.
    while (result == -1) {
        DispatchSentMessages();
        std::this_thread::yield();
    }
    t.join();
    EXPECT_EQ(result, 8);
}
