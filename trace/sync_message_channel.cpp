#include "trace/sync_message_channel.h"

#include <condition_variable>
#include <mutex>
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
    }
    // Not under the lock: the receiver may close the channel (or send through another one)
    // from inside its handler.
    const std::intptr_t result =
        shared.receiver->sendMessage(pending.message, pending.wParam, pending.lParam);
    {
        std::lock_guard lock(shared.mutex);
        pending.result = result;
        pending.state = Pending::State::Done;
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
    m_shared->changed.wait(
        lock, [&] { return pending->state == Pending::State::Done || m_shared->closed; });
    return pending->state == Pending::State::Done ? pending->result : 0;
}

void SyncMessageChannel::close()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->closed = true;
    }
    m_shared->changed.notify_all();
}

bool SyncMessageChannel::isClosed() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->closed;
}

} // namespace hopwise
