#pragma once

// Owns one worker run: the thread, the interrupt bound to it and the channel it sends through.
//
// shutdown() is built for a closing window: it may be called on the receiver's thread while the
// worker is blocked sending to that very thread, or waiting for an echo or a name lookup, and it
// neither deadlocks nor waits out a timeout. It sets the page's cancel flag (so the worker stops
// at its next check), closes the channel (so a pending or later send returns at once), raises
// the interrupt (so an echo in flight or a lookup returns at once) and joins the thread.
//
// The page that the worker reads must outlive the run; the destructor does shutdown(), so a
// page that holds its runs as members gets this for free.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "probe/linux/probe_interrupt.h"
#include "run/sync_message_channel.h"

namespace hopwise {

class ProbeRun {
public:
    using Body = std::function<void()>;

    // Starts body on a new thread with this run's interrupt bound to it. cancel is the page's
    // flag that body watches; channel, when given, is closed by shutdown().
    ProbeRun(std::atomic<bool>& cancel, std::unique_ptr<SyncMessageChannel> channel, Body body);
    ~ProbeRun();
    ProbeRun(const ProbeRun&) = delete;
    ProbeRun& operator=(const ProbeRun&) = delete;

    // From the thread that owns the run (not from the worker); any number of times.
    void shutdown();

    // On the receiver's thread, when the channel's wake-up arrived: hands the worker's waiting
    // message to the receiver. The run may be ended from inside the handler.
    void deliverMessage() const
    {
        if (m_channel) {
            m_channel->inbox().deliver();
        }
    }

    // The body has returned (its last message was handled or dropped).
    bool finished() const { return m_finished.load(std::memory_order_acquire); }

private:
    std::atomic<bool>& m_cancel;
    std::unique_ptr<SyncMessageChannel> m_channel;
    ProbeInterrupt m_interrupt;
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

// Starts worker(&page) as a run whose notifications reach window on the thread that wake
// wakes. Points page.m_pWindow at the run's channel; leaves page.m_bCancel as the page set
// it. The page's previous run, if any, must have been shut down.
template <class Inputs>
std::unique_ptr<ProbeRun> StartProbeRun(Inputs& page, std::uint32_t (*worker)(Inputs*),
                                        ProbeMessageTarget& window, SyncMessageChannel::Wake wake)
{
    auto channel = std::make_unique<SyncMessageChannel>(window, std::move(wake));
    page.m_pWindow = channel.get();
    return std::make_unique<ProbeRun>(page.m_bCancel, std::move(channel),
                                      [&page, worker] { worker(&page); });
}

} // namespace hopwise
