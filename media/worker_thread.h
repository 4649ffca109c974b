#pragma once
// A media worker: a thread that sleeps on a close event and a work event and
// runs one work step each time the work event fires. Signals that arrive
// while the step runs wake it once more, not once each.
//
// Start, Stop and the destructor belong to the owner's thread; SignalWork may
// be called from any thread.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/events.h"

class WorkerThread {
public:
    // name: "Decompress", "Display", "AudioOut" or "AudioIn"; the events are
    // labelled "<name> Close Event" and "<name> Work Event".
    WorkerThread(std::string name, std::function<void()> step);
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts the thread (restarting it when it runs). False when no thread
    // could be made; the worker then stays stopped.
    bool Start();
    // Asks the thread to leave its loop and joins it (every wait of a step is
    // bounded, so it ends). Messages sent to this thread's windows meanwhile are served,
    // so a step that writes a status line cannot hold the stop up.
    void Stop();
    void SignalWork();
    bool Running() const { return m_running.load() != 0; }

    std::string CloseLabel() const { return m_name + " Close Event"; }
    std::string WorkLabel() const { return m_name + " Work Event"; }

private:
    void Loop();

    std::string m_name;
    std::function<void()> m_step;
    std::thread m_thread;
    std::atomic<std::uint32_t> m_running{0};
    // The events live as long as the worker: the other worker may signal this
    // one while it is being stopped.
    AutoResetEvent m_closeEvent;
    AutoResetEvent m_workEvent;
    AutoResetEvent m_ended;
};
