#include "media/worker_thread.h"

#include <system_error>

#include "platform/messages.h"

WorkerThread::WorkerThread(std::string name, std::function<void()> step)
    : m_name(std::move(name)), m_step(std::move(step)) {}

WorkerThread::~WorkerThread() { Stop(); }

bool WorkerThread::Start() {
    if (m_running.load() != 0) {
        Stop();
    }
    m_closeEvent.Reset();
    m_workEvent.Reset();
    m_ended.Reset();
    m_running = 1;
    try {
        m_thread = std::thread([this] { Loop(); });
    } catch (const std::system_error&) {
        m_running = 0;
        return false;
    }
    return true;
}

void WorkerThread::Loop() {
    AutoResetEvent* events[2] = {&m_closeEvent, &m_workEvent};
    while (m_running.load() != 0) {
        const int which = WaitAny(events, 2, kInfinite);
        if (which == 0 || which < 0) {
            break;
        }
        m_step();
    }
    m_ended.Set();
}

void WorkerThread::Stop() {
    if (m_running.load() == 0) {
        return;
    }
    m_running = 0;
    m_closeEvent.Set();
    // Never forced down: that could leave a ring or queue lock held for ever.
    // Every wait inside a step is bounded, so the thread ends; meanwhile the
    // messages it sends to this thread are served.
    while (!m_ended.Wait(10)) {
        DispatchSentMessages();
    }
    m_thread.join();
}

void WorkerThread::SignalWork() {
    if (m_running.load() != 0) {
        m_workEvent.Set();
    }
}
