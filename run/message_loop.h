#pragma once

// A minimal event loop for a receiver thread without a GUI toolkit (the console front end,
// tests): other threads post calls, the owning thread runs them in order.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "run/sync_message_channel.h"

namespace hopwise {

class MessageLoop {
public:
    // Any thread. Calls posted after quit() are still queued for a later run().
    void post(std::function<void()> call);

    // Runs posted calls on the calling thread, in order, until quit() was called (at once when
    // it already was; calls still queued then stay queued).
    void run();

    // Any thread, including from inside a posted call.
    void quit();

    // A channel's wake-up that queues the delivery of its message onto this loop. The loop must
    // outlive it.
    SyncMessageChannel::Wake wake();

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_calls;
    bool m_quit = false;
};

} // namespace hopwise
