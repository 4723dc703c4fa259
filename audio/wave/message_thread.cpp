#include "audio/wave/message_thread.h"

#include "base/thread_name.h"

void CMessageQueue::Post(const ThreadMessage& message) {
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(message);
    }
    m_ready.notify_one();
}

bool CMessageQueue::Wait(ThreadMessage& message) {
    std::unique_lock lock(m_mutex);
    m_ready.wait(lock, [this] { return !m_messages.empty() || m_quit; });
    if (m_messages.empty()) {
        return false;
    }
    message = m_messages.front();
    m_messages.pop_front();
    return true;
}

void CMessageQueue::Quit() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_ready.notify_all();
}

CMessageThread::CMessageThread(const char* name)
    : m_worker([this, name] {
          NameThisThread(name);
          Run();
      }) {}

CMessageThread::~CMessageThread() {
    EndThread();
}

void CMessageThread::EndThread() {
    if (!m_worker.joinable()) {
        return;
    }
    m_queue.Quit();
    if (IsWorkerThread()) {
        m_worker.detach(); // destroyed from its own handler: nothing left to wait for
    } else {
        m_worker.join();
    }
}

void CMessageThread::Run() {
    ThreadMessage message;
    while (m_queue.Wait(message)) {
        Dispatch(message);
    }
}
