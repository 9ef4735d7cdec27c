#pragma once

// Ctrl-C for a console run: the first SIGINT (or SIGTERM) sets the page's cancel flag so the
// run ends as the page's would, with "Cancelled"; a second one leaves the process at once.

#include <atomic>

namespace hopwise::cli {

// Installs the handlers; cancel must stay alive until the process exits.
void InstallInterruptHandlers(std::atomic<bool>& cancel);

}  // namespace hopwise::cli
