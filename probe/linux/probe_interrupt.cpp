#include "probe/linux/probe_interrupt.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace hopwise {
namespace {

thread_local ProbeInterrupt* t_currentInterrupt = nullptr;

} // namespace

ProbeInterrupt::ProbeInterrupt() : m_eventFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ProbeInterrupt::~ProbeInterrupt()
{
    if (m_eventFd >= 0)
        close(m_eventFd);
}

void ProbeInterrupt::raise()
{
    m_raised.store(true, std::memory_order_release);
    if (m_eventFd >= 0) {
        // Never read back: the descriptor stays readable for every later wait as well.
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_eventFd, &one, sizeof one);
    }
}

ScopedProbeInterrupt::ScopedProbeInterrupt(ProbeInterrupt& interrupt)
    : m_previous(t_currentInterrupt)
{
    t_currentInterrupt = &interrupt;
}

ScopedProbeInterrupt::~ScopedProbeInterrupt()
{
    t_currentInterrupt = m_previous;
}

ProbeInterrupt* CurrentProbeInterrupt()
{
    return t_currentInterrupt;
}

} // namespace hopwise
