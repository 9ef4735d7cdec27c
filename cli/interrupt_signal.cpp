#include "cli/interrupt_signal.h"

#include <pthread.h>
#include <unistd.h>

#include "cli/exit_codes.h"

namespace hopwise::cli {

namespace {

// The handler only touches lock-free atomics, write() and _exit(): all async-signal-safe.
std::atomic<std::atomic<bool>*> g_cancel{nullptr};
std::atomic<int> g_interrupts{0};
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

constexpr char kCancelling[] = "Cancelling after the current probe; Ctrl-C again to quit now\n";

extern "C" void onInterrupt(int)
{
    if (g_interrupts.fetch_add(1) == 0) {
        if (std::atomic<bool>* cancel = g_cancel.load()) {
            cancel->store(true);
        }
        const ssize_t ignored = write(STDERR_FILENO, kCancelling, sizeof kCancelling - 1);
        (void)ignored;
        return;
    }
    _exit(kExitInterrupted);
}

sigset_t interruptSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

} // namespace

void InstallInterruptHandlers(std::atomic<bool>& cancel)
{
    g_cancel.store(&cancel);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // SA_RESTART keeps the console's stream writes from failing with EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

InterruptsBlockedForNewThreads::InterruptsBlockedForNewThreads()
{
    const sigset_t signals = interruptSignals();
    pthread_sigmask(SIG_BLOCK, &signals, &m_previous);
}

InterruptsBlockedForNewThreads::~InterruptsBlockedForNewThreads()
{
    pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
}

QuitSignalWatch::QuitSignalWatch(std::function<void()> onQuit)
{
    sigset_t quit;
    sigemptyset(&quit);
    sigaddset(&quit, SIGQUIT);
    pthread_sigmask(SIG_BLOCK, &quit, nullptr);
    // A shell starts a background job with SIGQUIT ignored, and an ignored signal is dropped
    // before anyone can wait for it. Blocked, the default action can't end the process.
    signal(SIGQUIT, SIG_DFL);
    m_thread = std::thread([this, quit, onQuit = std::move(onQuit)] {
        const sigset_t interrupts = interruptSignals();
        pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);
        // Looks at the stop flag ten times a second; a signal is taken at once, and so is the
        // one the destructor sends this thread to stop it.
        const timespec slice{0, 100'000'000};
        while (!m_stop.load()) {
            if (sigtimedwait(&quit, nullptr, &slice) == SIGQUIT && !m_stop.load()) {
                onQuit();
            }
        }
    });
}

QuitSignalWatch::~QuitSignalWatch()
{
    m_stop.store(true);
    // Without it a short run's exit would wait out the rest of the thread's slice.
    pthread_kill(m_thread.native_handle(), SIGQUIT);
    m_thread.join();
}

} // namespace hopwise::cli
