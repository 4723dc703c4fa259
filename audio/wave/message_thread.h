#pragma once
// Stand-in for a worker thread with its own message queue: a std::thread running a blocking
// dispatch loop. The queue (the thread's identity as a notification target) exists from
// construction on, so a device can be pointed at it before the loop has even started.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

struct ThreadMessage {
    uint32_t id = 0; // MM_WIM_DATA, MM_WOM_DONE, ...
    void* device = nullptr;
    void* header = nullptr;
};

class CMessageQueue {
public:
    // Any thread. Never blocks for long: the lock covers a push only.
    void Post(const ThreadMessage& message);
    // The owning worker: waits for the next message; false once Quit was posted and drained.
    bool Wait(ThreadMessage& message);
    void Quit();

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<ThreadMessage> m_messages;
    bool m_quit = false;
};

using MessageTarget = CMessageQueue*;

class CMessageThread {
public:
    // `name`: the worker's name as the system shows it (15 characters at most), a literal.
    explicit CMessageThread(const char* name);
    virtual ~CMessageThread();

    CMessageThread(const CMessageThread&) = delete;
    CMessageThread& operator=(const CMessageThread&) = delete;

    MessageTarget Target() { return &m_queue; }
    bool IsWorkerThread() const { return std::this_thread::get_id() == m_worker.get_id(); }
    std::thread::id WorkerId() const { return m_worker.get_id(); }

protected:
    // Handles one message on the worker.
    virtual void Dispatch(const ThreadMessage& message) = 0;
    // Ends the loop after the messages already queued and joins the worker. A derived class
    // calls it first thing in its destructor, so no message reaches a half-destroyed object.
    void EndThread();

private:
    void Run();

    CMessageQueue m_queue;
    std::thread m_worker;
};
