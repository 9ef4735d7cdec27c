#pragma once

// hopwise-cli report: the route report run on the calling thread, its table printed at the end
// (and after every cycle, in place, with --live on a terminal).

#include <atomic>
#include <functional>
#include <ostream>

#include "cli/cli_options.h"

namespace hopwise::cli {

int RunReport(const CliOptions& options, std::ostream& out, std::ostream& err,
              const std::function<void(std::atomic<bool>&)>& watchCancel);

} // namespace hopwise::cli
