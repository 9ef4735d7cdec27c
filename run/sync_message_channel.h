#pragma once

// Carries a worker's synchronous notifications over to the thread that owns the receiver (the
// window's thread), the way a cross-thread SendMessage does: the worker's send hands the message
// to that thread through an injected poster and blocks until it was handled, or until the
// channel is closed.
//
// close() is what makes tearing down safe: once it returned, the receiver is never touched
// again, a send that is waiting returns at once and later sends return without posting. A
// posted call that runs after close does nothing at all: it neither calls the receiver nor
// reads the message's records, which lived on the worker's stack and may be gone.
//
// close() may be called from any thread. From another thread while a message is being handled,
// it waits for that handler to return. From inside the handler itself (e.g. to end the run on
// WM_PROBE_FINISHED), it releases the waiting worker at once, which keeps a shutdown from the
// handler deadlock-free; in exchange the handler must not read the message's records after its
// own close() call.

#include <cstdint>
#include <functional>
#include <memory>

#include "run/probe_messages.h"

namespace hopwise {

class SyncMessageChannel final : public ProbeMessageTarget {
public:
    using Call = std::function<void()>;
    // Must arrange for the call to run once on the receiver's thread (e.g. a queued invocation
    // in the window's event loop), or drop it. Running it at once on the calling thread is fine
    // when sender and receiver share a thread.
    using Poster = std::function<void(Call)>;

    SyncMessageChannel(ProbeMessageTarget& receiver, Poster poster);
    // Closes the channel. The workers that send through it must have ended.
    ~SyncMessageChannel() override;
    SyncMessageChannel(const SyncMessageChannel&) = delete;
    SyncMessageChannel& operator=(const SyncMessageChannel&) = delete;

    // Worker side: yields the receiver's value, or 0 when the channel was closed first.
    std::intptr_t sendMessage(std::uint32_t message, std::intptr_t wParam,
                              std::intptr_t lParam) override;

    // Any thread, any number of times.
    void close();
    bool isClosed() const;

private:
    struct Shared;
    struct Pending;
    static void deliver(Shared& shared, Pending& pending);

    std::shared_ptr<Shared> m_shared;
    Poster m_poster;
};

} // namespace hopwise
