#include "run/sync_message_channel.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace hopwise {

// Outlives the channel object as long as a posted call still holds it, so a call that runs
// after everything else is gone still finds a valid "closed" flag.
struct SyncMessageChannel::Shared {
    explicit Shared(ProbeMessageTarget& target) : receiver(&target) {}
    std::mutex mutex;
    std::condition_variable changed;
    bool closed = false;
    ProbeMessageTarget* receiver;
    // The message being handled right now and the thread handling it (one worker sends through
    // a channel, so there is at most one).
    bool delivering = false;
    std::thread::id deliveringOn;
    // The handler closed the channel from inside itself: its worker is let go at once, since the
    // handler may go on to wait for that worker.
    bool closedByHandler = false;
};

struct SyncMessageChannel::Pending {
    enum class State { Queued, Delivering, Done };
    std::uint32_t message = 0;
    std::intptr_t wParam = 0;
    std::intptr_t lParam = 0;
    State state = State::Queued;
    std::intptr_t result = 0;
};

SyncMessageChannel::SyncMessageChannel(ProbeMessageTarget& receiver, Poster poster)
    : m_shared(std::make_shared<Shared>(receiver)), m_poster(std::move(poster))
{
}

SyncMessageChannel::~SyncMessageChannel()
{
    close();
}

void SyncMessageChannel::deliver(Shared& shared, Pending& pending)
{
    {
        std::lock_guard lock(shared.mutex);
        if (shared.closed) {
            pending.state = Pending::State::Done;
            return;
        }
        pending.state = Pending::State::Delivering;
        shared.delivering = true;
        shared.deliveringOn = std::this_thread::get_id();
    }
    // Not under the lock: the receiver may close the channel (or send through another one)
    // from inside its handler.
    const std::intptr_t result =
        shared.receiver->sendMessage(pending.message, pending.wParam, pending.lParam);
    {
        std::lock_guard lock(shared.mutex);
        pending.result = result;
        pending.state = Pending::State::Done;
        shared.delivering = false;
    }
    shared.changed.notify_all();
}

std::intptr_t SyncMessageChannel::sendMessage(std::uint32_t message, std::intptr_t wParam,
                                              std::intptr_t lParam)
{
    auto pending = std::make_shared<Pending>();
    pending->message = message;
    pending->wParam = wParam;
    pending->lParam = lParam;
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->closed) {
            return 0;
        }
    }
    m_poster([shared = m_shared, pending] { deliver(*shared, *pending); });

    std::unique_lock lock(m_shared->mutex);
    // Closed while the message is still queued: it will never be handled. Closed while it is
    // being handled: only a handler that closed the channel itself lets go of the worker early;
    // a close from elsewhere waits for the handler, and so does the worker.
    m_shared->changed.wait(lock, [&] {
        return pending->state == Pending::State::Done ||
               (m_shared->closed &&
                (pending->state == Pending::State::Queued || m_shared->closedByHandler));
    });
    return pending->state == Pending::State::Done ? pending->result : 0;
}

void SyncMessageChannel::close()
{
    {
        std::unique_lock lock(m_shared->mutex);
        m_shared->closed = true;
        if (m_shared->delivering) {
            if (m_shared->deliveringOn == std::this_thread::get_id()) {
                m_shared->closedByHandler = true;
            } else {
                // The handler may still be reading the worker's records; the receiver is
                // promised not to be touched once close() returns.
                m_shared->changed.notify_all();
                m_shared->changed.wait(lock, [&] { return !m_shared->delivering; });
            }
        }
    }
    m_shared->changed.notify_all();
}

bool SyncMessageChannel::isClosed() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->closed;
}

} // namespace hopwise
