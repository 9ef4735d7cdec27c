#include "run/sync_message_channel.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace hopwise {

struct SyncMessageChannel::Shared {
    enum class Slot { Empty, Waiting, Delivering, Done };

    explicit Shared(ProbeMessageTarget& target) : receiver(&target) {}
    std::mutex mutex;
    std::condition_variable changed;
    bool closed = false;
    ProbeMessageTarget* receiver;
    // The one message in transit (one worker sends through a channel, and it waits for each).
    Slot slot = Slot::Empty;
    std::uint32_t message = 0;
    std::intptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::intptr_t result = 0;
    std::thread::id deliveringOn;
    // The handler closed the channel from inside itself: its worker is let go at once, since the
    // handler may go on to wait for that worker.
    bool closedByHandler = false;
};

SyncMessageChannel::SyncMessageChannel(ProbeMessageTarget& receiver, Wake wake)
    : m_shared(std::make_shared<Shared>(receiver)), m_wake(std::move(wake))
{
}

SyncMessageChannel::~SyncMessageChannel()
{
    close();
}

void SyncMessageChannel::Inbox::deliver() const
{
    Shared& shared = *m_shared;
    std::uint32_t message = 0;
    std::intptr_t wParam = 0;
    std::intptr_t lParam = 0;
    {
        std::lock_guard lock(shared.mutex);
        if (shared.closed || shared.slot != Shared::Slot::Waiting) {
            return;
        }
        shared.slot = Shared::Slot::Delivering;
        shared.deliveringOn = std::this_thread::get_id();
        message = shared.message;
        wParam = shared.wParam;
        lParam = shared.lParam;
    }
    // Not under the lock: the receiver may close the channel (or send through another one)
    // from inside its handler.
    const std::intptr_t result = shared.receiver->sendMessage(message, wParam, lParam);
    {
        std::lock_guard lock(shared.mutex);
        shared.result = result;
        shared.slot = Shared::Slot::Done;
    }
    shared.changed.notify_all();
}

std::intptr_t SyncMessageChannel::sendMessage(std::uint32_t message, std::intptr_t wParam,
                                              std::intptr_t lParam)
{
    Shared& shared = *m_shared;
    {
        std::lock_guard lock(shared.mutex);
        if (shared.closed) {
            return 0;
        }
        shared.message = message;
        shared.wParam = wParam;
        shared.lParam = lParam;
        shared.slot = Shared::Slot::Waiting;
    }
    m_wake(Inbox(m_shared));

    std::unique_lock lock(shared.mutex);
    // Closed while the message still waits: it will never be handled. Closed while it is being
    // handled: only a handler that closed the channel itself lets go of the worker early; a
    // close from elsewhere waits for the handler, and so does the worker.
    shared.changed.wait(lock, [&] {
        return shared.slot == Shared::Slot::Done ||
               (shared.closed && (shared.slot == Shared::Slot::Waiting || shared.closedByHandler));
    });
    if (shared.slot != Shared::Slot::Done) {
        return 0;
    }
    shared.slot = Shared::Slot::Empty;
    return shared.result;
}

void SyncMessageChannel::close()
{
    Shared& shared = *m_shared;
    {
        std::unique_lock lock(shared.mutex);
        shared.closed = true;
        if (shared.slot == Shared::Slot::Delivering) {
            if (shared.deliveringOn == std::this_thread::get_id()) {
                shared.closedByHandler = true;
            } else {
                // The handler may still be reading the worker's records; the receiver is
                // promised not to be touched once close() returns.
                shared.changed.notify_all();
                shared.changed.wait(lock, [&] { return shared.slot != Shared::Slot::Delivering; });
            }
        }
    }
    shared.changed.notify_all();
}

bool SyncMessageChannel::isClosed() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->closed;
}

} // namespace hopwise
