#pragma once

// A way for another thread to cut short whatever a probing thread is blocked in (an echo in
// flight or a name lookup), so that an application that is closing never waits out a timeout.
// A worker binds its interrupt to its own thread; the engine's blocking calls watch it.

#include <atomic>

namespace hopwise {

class ProbeInterrupt {
public:
    ProbeInterrupt();
    ~ProbeInterrupt();
    ProbeInterrupt(const ProbeInterrupt&) = delete;
    ProbeInterrupt& operator=(const ProbeInterrupt&) = delete;

    // Safe from any thread, any number of times. Once raised it stays raised.
    void raise();
    bool raised() const { return m_raised.load(std::memory_order_acquire); }

    // A descriptor that polls readable once raise() was called (-1 if none could be made; the
    // flag alone is then watched at each wake-up).
    int pollDescriptor() const { return m_eventFd; }

private:
    std::atomic<bool> m_raised{false};
    int m_eventFd = -1;
};

// Binds an interrupt to the calling thread for its lifetime.
class ScopedProbeInterrupt {
public:
    explicit ScopedProbeInterrupt(ProbeInterrupt& interrupt);
    ~ScopedProbeInterrupt();
    ScopedProbeInterrupt(const ScopedProbeInterrupt&) = delete;
    ScopedProbeInterrupt& operator=(const ScopedProbeInterrupt&) = delete;

private:
    ProbeInterrupt* m_previous;
};

// The interrupt bound to the calling thread, or nullptr.
ProbeInterrupt* CurrentProbeInterrupt();

} // namespace hopwise
