#pragma once

// A receiver thread for tests: a MessageLoop running on its own std::thread, standing in for a
// window's event loop.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

#include "run/message_loop.h"

namespace hopwise::test {

class MessageLoopThread {
public:
    MessageLoopThread() : m_thread([this] { m_loop.run(); }) {}
    ~MessageLoopThread()
    {
        m_loop.quit();
        m_thread.join();
    }
    MessageLoopThread(const MessageLoopThread&) = delete;
    MessageLoopThread& operator=(const MessageLoopThread&) = delete;

    std::thread::id id() const { return m_thread.get_id(); }

    // Queues onto the loop and counts what it queued, so tests can wait until a worker posted.
    SyncMessageChannel::Poster poster()
    {
        return [this](SyncMessageChannel::Call call) {
            m_loop.post(std::move(call));
            {
                std::lock_guard lock(m_mutex);
                ++m_posted;
            }
            m_changed.notify_all();
        };
    }

    bool waitForPosted(int count, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_posted >= count; });
    }

    int posted() const
    {
        std::lock_guard lock(m_mutex);
        return m_posted;
    }

    void post(std::function<void()> call) { m_loop.post(std::move(call)); }

    // Runs the call on the loop thread and waits for it.
    void runAndWait(const std::function<void()>& call)
    {
        std::promise<void> done;
        m_loop.post([&] {
            call();
            done.set_value();
        });
        done.get_future().wait();
    }

private:
    MessageLoop m_loop;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_posted = 0;
    std::thread m_thread;
};

} // namespace hopwise::test
