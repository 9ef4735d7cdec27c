#include "run/message_loop.h"

#include <utility>

namespace hopwise {

void MessageLoop::post(std::function<void()> call)
{
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
    }
    m_wake.notify_one();
}

void MessageLoop::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || !m_calls.empty(); });
        if (m_quit) {
            return;
        }
        std::function<void()> call = std::move(m_calls.front());
        m_calls.pop_front();
        lock.unlock();
        call();
        lock.lock();
    }
}

void MessageLoop::quit()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
}

SyncMessageChannel::Wake MessageLoop::wake()
{
    return [this](const SyncMessageChannel::Inbox& inbox) { post([inbox] { inbox.deliver(); }); };
}

} // namespace hopwise
