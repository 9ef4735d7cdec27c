#include "run/sync_message_channel.h"

#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace hopwise {
namespace {

using Clock = std::chrono::steady_clock;

// A thread that is put to sleep and woken again costs tens of microseconds, more than a whole
// echo on loopback. So each side first watches the slot for a while before it sleeps, when
// the other side answered within that time last round: a fast peer never sleeps at all, while
// a slow network, a message box or a loaded machine soon stops the watching. Nor does a side
// watch while the other was last seen on the same processor: it would only keep the other
// from running there (on a busy machine both threads often share one).
constexpr Clock::duration kWatchLimit = std::chrono::microseconds(100);
// How long the receiver goes on taking messages one after another before its thread returns
// to its event loop, so that input, painting and timers are never held up for longer.
constexpr Clock::duration kReceiveBudget = std::chrono::milliseconds(2);

void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Checks done() until it holds or limit has passed; yields whether it holds.
template <class Done> bool watchFor(Clock::duration limit, Done done)
{
    constexpr int kChecksPerClockRead = 64;
    const Clock::time_point until = Clock::now() + limit;
    for (;;) {
        for (int i = 0; i < kChecksPerClockRead; ++i) {
            if (done()) {
                return true;
            }
            cpuRelax();
        }
        if (Clock::now() >= until) {
            return done();
        }
    }
}

} // namespace

struct SyncMessageChannel::Shared {
    enum class Slot { Empty, Waiting, Delivering, Done };

    explicit Shared(ProbeMessageTarget& target) : receiver(&target) {}
    std::mutex mutex;
    std::condition_variable changed;
    // Changed under the mutex only; also read without it by a side that watches.
    std::atomic<bool> closed{false};
    ProbeMessageTarget* receiver;
    // The one message in transit (one worker sends through a channel, and it waits for each).
    // Changed under the mutex only; also read without it by a side that watches.
    std::atomic<Slot> slot{Slot::Empty};
    std::uint32_t message = 0;
    std::intptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::intptr_t result = 0;
    std::thread::id deliveringOn;
    // The handler closed the channel from inside itself: its worker is let go at once, since the
    // handler may go on to wait for that worker.
    bool closedByHandler = false;
    // The receiver watches the slot for the next message: the sender need not wake it.
    bool receiverWatching = false;
    std::thread::id sender;
    // The processor each side last ran on.
    std::atomic<int> senderCpu{-1};
    std::atomic<int> receiverCpu{-1};

    // How long the worker took from an answer to its next message, last time.
    Clock::time_point answeredAt;
    Clock::duration lastTurnaround = Clock::duration::max();

    // Takes the waiting message, if any, and hands it to the receiver. Nothing when none waits
    // or after close().
    bool deliverOne();
};

SyncMessageChannel::SyncMessageChannel(ProbeMessageTarget& receiver, Wake wake)
    : m_shared(std::make_shared<Shared>(receiver)), m_wake(std::move(wake))
{
}

SyncMessageChannel::~SyncMessageChannel()
{
    close();
}

bool SyncMessageChannel::Shared::deliverOne()
{
    std::uint32_t takenMessage = 0;
    std::intptr_t takenWParam = 0;
    std::intptr_t takenLParam = 0;
    {
        std::lock_guard lock(mutex);
        if (closed || slot != Slot::Waiting) {
            return false;
        }
        slot = Slot::Delivering;
        deliveringOn = std::this_thread::get_id();
        receiverCpu.store(sched_getcpu(), std::memory_order_relaxed);
        takenMessage = message;
        takenWParam = wParam;
        takenLParam = lParam;
        lastTurnaround = Clock::now() - answeredAt;
    }
    // Not under the lock: the receiver may close the channel (or send through another one)
    // from inside its handler.
    const std::intptr_t answer = receiver->sendMessage(takenMessage, takenWParam, takenLParam);
    {
        std::lock_guard lock(mutex);
        result = answer;
        slot = Slot::Done;
        answeredAt = Clock::now();
    }
    changed.notify_all();
    return true;
}

void SyncMessageChannel::Inbox::deliver() const
{
    Shared& shared = *m_shared;
    if (!shared.deliverOne()) {
        return;
    }
    const Clock::time_point until = Clock::now() + kReceiveBudget;
    // Watching for the next message makes sense only when the worker sent its last one soon
    // after its answer, and never on the worker's own thread.
    while (shared.lastTurnaround < kWatchLimit && Clock::now() < until &&
           shared.senderCpu.load(std::memory_order_relaxed) != sched_getcpu()) {
        {
            std::lock_guard lock(shared.mutex);
            if (shared.closed || shared.sender == std::this_thread::get_id()) {
                return;
            }
            shared.receiverWatching = true;
        }
        watchFor(kWatchLimit, [&] {
            return shared.slot.load(std::memory_order_acquire) == Shared::Slot::Waiting ||
                   shared.closed.load(std::memory_order_acquire);
        });
        {
            // A message that came while the receiver watched raised no wake-up: it is taken
            // here or never.
            std::lock_guard lock(shared.mutex);
            shared.receiverWatching = false;
        }
        if (!shared.deliverOne()) {
            return;
        }
    }
}

std::intptr_t SyncMessageChannel::sendMessage(std::uint32_t message, std::intptr_t wParam,
                                              std::intptr_t lParam)
{
    Shared& shared = *m_shared;
    const Clock::time_point sentAt = Clock::now();
    bool wake = false;
    {
        std::lock_guard lock(shared.mutex);
        if (shared.closed) {
            return 0;
        }
        shared.message = message;
        shared.wParam = wParam;
        shared.lParam = lParam;
        shared.slot = Shared::Slot::Waiting;
        shared.sender = std::this_thread::get_id();
        shared.senderCpu.store(sched_getcpu(), std::memory_order_relaxed);
        wake = !shared.receiverWatching;
    }
    if (wake) {
        m_wake(Inbox(m_shared));
    }
    if (m_lastWait < kWatchLimit &&
        shared.receiverCpu.load(std::memory_order_relaxed) != sched_getcpu()) {
        watchFor(kWatchLimit, [&] {
            return shared.slot.load(std::memory_order_acquire) == Shared::Slot::Done ||
                   shared.closed.load(std::memory_order_acquire);
        });
    }

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
    m_lastWait = Clock::now() - sentAt;
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
