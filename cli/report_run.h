#pragma once

// hopwise-cli report: the route report run on the calling thread, its table printed at the end
// (and after every cycle, in place, with --live on a terminal).

#include <ostream>

#include "cli/cli_options.h"
#include "cli/console_run.h"

namespace hopwise::cli {

// Yields the exit code: answered when the destination answered at least once.
int RunReport(const CliOptions& options, std::ostream& out, std::ostream& err,
              const ConsoleHooks& hooks);

} // namespace hopwise::cli
