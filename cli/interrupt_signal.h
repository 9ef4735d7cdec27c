#pragma once

// Ctrl-C for a console run: the first SIGINT (or SIGTERM) sets the page's cancel flag so the
// run ends as the page's would, with "Cancelled", once the probe in flight is done; a second one
// leaves the process at once.

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

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

// Ctrl-\ (SIGQUIT) while this lives calls onQuit on a thread of its own, and the process goes
// on, as ping prints its running summary. The signal stays blocked afterwards, so one that
// comes late is dropped rather than ending the process with a core dump. Make it before the
// worker starts, so that no thread but its own takes the signal.
class QuitSignalWatch {
public:
    explicit QuitSignalWatch(std::function<void()> onQuit);
    ~QuitSignalWatch();
    QuitSignalWatch(const QuitSignalWatch&) = delete;
    QuitSignalWatch& operator=(const QuitSignalWatch&) = delete;

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace hopwise::cli
