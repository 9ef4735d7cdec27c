#pragma once

// hopwise-cli once its privileges are settled: the arguments in, a page's inputs filled from
// them, the worker run to its end with a console receiver on the calling thread.

#include <atomic>
#include <chrono>
#include <functional>
#include <ostream>
#include <string>

namespace hopwise::cli {

// What the program has and in-process tests leave out or fix.
struct ConsoleHooks {
    // Gets the page's cancel flag before the worker starts (hopwise-cli hands it to its Ctrl-C
    // handlers).
    std::function<void(std::atomic<bool>&)> watchCancel;
    // Ctrl-\ prints ping's running summary (it blocks SIGQUIT in the process for good).
    bool summaryOnQuit = false;
    // The clock of the JSON times and of ping's run time.
    std::function<std::chrono::system_clock::time_point()> now = [] {
        return std::chrono::system_clock::now();
    };
};

// Parses the arguments, checks that ICMP echo may be sent and runs the worker they ask for,
// writing what the user sees to out and err; yields the exit code.
int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                   const ConsoleHooks& hooks);

// A refusal before anything else ran (a set-user-ID start): the message on err, and with --json
// an error object on out too; yields the exit code.
int RefuseStart(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                const std::string& message, const ConsoleHooks& hooks);

} // namespace hopwise::cli
