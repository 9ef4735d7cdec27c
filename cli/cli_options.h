#pragma once

// hopwise-cli's command line.

#include <cstdint>
#include <optional>
#include <string>

#include "cli/console_format.h"

namespace hopwise::cli {

struct CliOptions {
    ProbeKind kind = ProbeKind::Trace;
    std::string host;
    std::int32_t maxHop = 20;   // trace: hops 1 .. maxHop - 1
    bool resolve = false;       // trace: look up each hop's name
    std::int32_t parallel = 16; // trace: hops' probes in flight at once; 1 is the page's walk
    std::int32_t ttl = 20;      // ping
    std::int32_t count = -1;    // ping: -1 until Ctrl-C
    std::int32_t timeoutMs = 1000;
    bool json = false;
    std::int32_t cycles = 10;       // report
    std::int32_t intervalMs = 1000; // report: from one cycle's start to the next's
    bool live = false;              // report: redraw the table after every cycle
};

struct ParsedCommandLine {
    std::optional<CliOptions> options; // empty: exit with exitCode after printing the texts
    int exitCode = 0;
    std::string out; // help
    std::string err; // what was wrong, and the usage
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

} // namespace hopwise::cli
