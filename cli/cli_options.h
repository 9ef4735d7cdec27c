#pragma once

// hopwise-cli's command line.

#include <cstdint>
#include <optional>
#include <string>

#include "cli/console_format.h"
#include "probe/resolver.h"

namespace hopwise::cli {

struct CliOptions {
    ProbeKind kind = ProbeKind::Trace;
    std::string host;
    std::int32_t maxHop = 20;       // trace: hops 1 .. maxHop - 1
    bool resolve = false;           // trace: look up each hop's name
    std::int32_t parallel = 16;     // trace, report: hops' probes in flight at once
    std::int32_t ttl = 20;          // ping
    std::int32_t count = -1;        // ping: -1 until Ctrl-C
    std::int32_t intervalMs = 1000; // ping: from one request to the next; 0 back to back;
                                    // report: from one cycle's start to the next's
    bool quiet = false;             // ping: the summary only
    std::int32_t timeoutMs = 1000;
    bool json = false;
    std::int32_t cycles = 10;                  // report
    bool live = false;                         // report: redraw the table after every cycle
    FamilyChoice families = FamilyChoice::Any; // -4 / -6
};

struct ParsedCommandLine {
    std::optional<CliOptions> options; // empty: exit with exitCode after printing the texts
    int exitCode = 0;
    std::string out; // help
    std::string err; // what was wrong, and the usage
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// Whether the arguments ask for JSON, looked at before they are parsed (so that a usage error
// or a refused start can be told as a JSON object too).
bool WantsJson(int argc, const char* const* argv);

} // namespace hopwise::cli
