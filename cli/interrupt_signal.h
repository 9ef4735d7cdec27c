#pragma once

// Ctrl-C for a console run: the first SIGINT (or SIGTERM) sets the page's cancel flag so the
// run ends as the page's would, with "Cancelled", once the probe in flight is done; a second one
// leaves the process at once.

#include <signal.h>

#include <atomic>

namespace hopwise::cli {

// Installs the handlers; cancel must stay alive until the process exits.
void InstallInterruptHandlers(std::atomic<bool>& cancel);

// Threads started while this lives never take the interrupt signals, so they always reach the
// main thread: a worker's wait for a reply is not cut short by the mere arrival of a signal.
class InterruptsBlockedForNewThreads {
public:
    InterruptsBlockedForNewThreads();
    ~InterruptsBlockedForNewThreads();
    InterruptsBlockedForNewThreads(const InterruptsBlockedForNewThreads&) = delete;
    InterruptsBlockedForNewThreads& operator=(const InterruptsBlockedForNewThreads&) = delete;

private:
    sigset_t m_previous{};
};

} // namespace hopwise::cli
