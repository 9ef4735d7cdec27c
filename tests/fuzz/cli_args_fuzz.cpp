// hopwise-cli's argument handling: any argument vector must end in options or in a usage
// error, never in a crash, an uncaught exception or an option out of its range.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/exit_codes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // NUL bytes separate the arguments, as in /proc/PID/cmdline.
    std::vector<std::string> args{"hopwise-cli"};
    std::string current;
    for (std::size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    args.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }

    const hopwise::cli::ParsedCommandLine parsed =
        hopwise::cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    if (!parsed.options) {
        if (parsed.exitCode != hopwise::cli::kExitHelp &&
            parsed.exitCode != hopwise::cli::kExitUsage) {
            std::abort();
        }
        return 0;
    }
    const hopwise::cli::CliOptions& options = *parsed.options;
    const bool inRange = options.maxHop >= 0 && options.maxHop <= 256 && options.ttl >= 1 &&
                         options.ttl <= 255 && (options.count == -1 || options.count >= 1) &&
                         options.timeoutMs >= 1 && options.timeoutMs <= 600000 &&
                         options.intervalMs >= 0 && options.intervalMs <= 3600000 &&
                         options.parallel >= 1 && options.parallel <= 255 && options.cycles >= 1 &&
                         options.cycles <= 1000000;
    if (!inRange) {
        std::abort();
    }
    return 0;
}
