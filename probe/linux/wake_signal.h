#pragma once

// A wake-up that carries no data, for a thread that sleeps in a poll or an event loop: an
// eventfd that any thread can make readable and the waiting thread empties once it woke. The
// window watches one per page for its worker's notices.

namespace hopwise {

class WakeSignal {
public:
    // Throws std::system_error when no eventfd can be had (out of descriptors).
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    // Any thread: the descriptor polls readable until clear(). Never blocks.
    void raise();
    // The waiting thread, once woken: the descriptor no longer polls readable.
    void clear();
    int descriptor() const { return m_eventFd; }

private:
    int m_eventFd;
};

} // namespace hopwise
