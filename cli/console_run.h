#pragma once

// hopwise-cli once its privileges are settled: the arguments in, a page's inputs filled from
// them, the worker run to its end with a console receiver on the calling thread.

#include <atomic>
#include <functional>
#include <ostream>

namespace hopwise::cli {

// Parses the arguments, checks that ICMP echo may be sent and runs the worker they ask for,
// writing what the user sees to out and err; yields the exit code. watchCancel gets the page's
// cancel flag before the worker starts (hopwise-cli hands it to its Ctrl-C handlers).
int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                   const std::function<void(std::atomic<bool>&)>& watchCancel);

} // namespace hopwise::cli
