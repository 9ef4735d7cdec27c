#include "cli/interrupt_signal.h"

#include <signal.h>
#include <unistd.h>

#include "cli/exit_codes.h"

namespace hopwise::cli {

namespace {

// The handler only touches lock-free atomics and calls _exit: all async-signal-safe.
std::atomic<std::atomic<bool>*> g_cancel{nullptr};
std::atomic<int> g_interrupts{0};
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onInterrupt(int) {
    if (g_interrupts.fetch_add(1) == 0) {
        if (std::atomic<bool>* cancel = g_cancel.load()) {
            cancel->store(true);
        }
        return;
    }
    _exit(kExitInterrupted);
}

}  // namespace

void InstallInterruptHandlers(std::atomic<bool>& cancel) {
    g_cancel.store(&cancel);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // SA_RESTART keeps the console's stream writes from failing with EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace hopwise::cli
