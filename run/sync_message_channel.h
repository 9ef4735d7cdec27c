#pragma once

// Carries a worker's synchronous notifications over to the thread that owns the receiver (the
// window's thread), the way a cross-thread SendMessage does: the worker's send leaves the
// message in the channel's one slot, wakes that thread and blocks until the message was
// handled, or until the channel is closed. The woken thread takes the message from the slot
// through the channel's Inbox. Nothing is allocated per message, and the wake-up carries no data:
// everything that crosses threads goes through the channel's own mutex. When messages come
// fast, each side watches the slot a little before it sleeps, so that back to back neither
// thread is put to sleep, and the wake-up is skipped while the receiver watches.
//
// close() is what makes tearing down safe: once it returned, the receiver is never touched
// again, a send that is waiting returns at once and later sends return without waking anyone.
// A wake-up handled after close does nothing at all: it neither calls the receiver nor reads
// the message's records, which lived on the worker's stack and may be gone.
//
// close() may be called from any thread. From another thread while a message is being handled,
// it waits for that handler to return. From inside the handler itself (e.g. to end the run on
// WM_PROBE_FINISHED), it releases the waiting worker at once, which keeps a shutdown from the
// handler deadlock-free; in exchange the handler must not read the message's records after its
// own close() call.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "run/probe_messages.h"

namespace hopwise {

class SyncMessageChannel final : public ProbeMessageTarget {
    struct Shared;

public:
    // The receiver's end. Copies share the channel's state and keep it alive, so an Inbox held
    // by a late wake-up (or by a handler whose page ends the run) finds the channel closed,
    // never gone.
    class Inbox {
    public:
        // On the receiver's thread: hands the waiting message, if any, to the receiver and
        // lets the worker go with its answer. Nothing when none waits or after close().
        // While the worker keeps sending its next message within a few microseconds of an
        // answer, goes on taking them for up to 2 ms before it returns.
        void deliver() const;

    private:
        friend class SyncMessageChannel;
        explicit Inbox(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}
        std::shared_ptr<Shared> m_shared;
    };

    // Called on the worker's thread once a message waits: must get the receiver's thread to
    // call inbox.deliver() soon (a raised eventfd its event loop watches, a queued call), or do
    // nothing when that thread ends the run anyway. Calling deliver() at once is fine when
    // sender and receiver share a thread.
    using Wake = std::function<void(const Inbox& inbox)>;

    SyncMessageChannel(ProbeMessageTarget& receiver, Wake wake);
    // Closes the channel. The workers that send through it must have ended.
    ~SyncMessageChannel() override;
    SyncMessageChannel(const SyncMessageChannel&) = delete;
    SyncMessageChannel& operator=(const SyncMessageChannel&) = delete;

    // Worker side, one worker: yields the receiver's value, or 0 when the channel was closed
    // first.
    std::intptr_t sendMessage(std::uint32_t message, std::intptr_t wParam,
                              std::intptr_t lParam) override;

    Inbox inbox() const { return Inbox(m_shared); }

    // Any thread, any number of times.
    void close();
    bool isClosed() const;

private:
    std::shared_ptr<Shared> m_shared;
    Wake m_wake;
    // How long the last message waited for its answer (the worker's thread only).
    std::chrono::steady_clock::duration m_lastWait{};
};

} // namespace hopwise
