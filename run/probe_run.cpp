#include "run/probe_run.h"

#include <utility>

namespace hopwise {

ProbeRun::ProbeRun(std::atomic<bool>& cancel, std::unique_ptr<SyncMessageChannel> channel,
                   Body body)
    : m_cancel(cancel), m_channel(std::move(channel))
{
    m_thread = std::thread([this, body = std::move(body)] {
        ScopedProbeInterrupt bound(m_interrupt);
        body();
        m_finished.store(true, std::memory_order_release);
    });
}

ProbeRun::~ProbeRun()
{
    shutdown();
}

void ProbeRun::shutdown()
{
    if (!m_thread.joinable()) {
        return;
    }
    // Cancel first: whatever releases the worker below, its next check then ends the run.
    m_cancel.store(true);
    if (m_channel) {
        m_channel->close();
    }
    m_interrupt.raise();
    m_thread.join();
}

} // namespace hopwise
