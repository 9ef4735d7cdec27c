#include "probe/linux/wake_signal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace hopwise {

WakeSignal::WakeSignal() : m_eventFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_eventFd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

WakeSignal::~WakeSignal()
{
    close(m_eventFd);
}

void WakeSignal::raise()
{
    // Only fails when the counter would overflow, and then the descriptor is readable anyway.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_eventFd, &one, sizeof one);
}

void WakeSignal::clear()
{
    // One read empties the counter however often it was raised; EAGAIN means already clear.
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(m_eventFd, &count, sizeof count);
}

} // namespace hopwise
