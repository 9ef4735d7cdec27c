#include "cli/cli_options.h"

#include <cctype>
#include <limits>
#include <sstream>

#include <CLI/CLI.hpp>

#include "cli/exit_codes.h"
#include "res/texts.h"

namespace hopwise::cli {

namespace {

constexpr std::int32_t kMaxTimeoutMs = 600000;

// The outcomes read as the pages' status line and message box have them.
std::string exitCodeHelp()
{
    std::string help = "Exit codes:\n";
    help += "  0    " + std::string(res::kStatusDone) + "\n";
    help += "  1    " + std::string(res::kStatusCancelled) +
            " (Ctrl-C; a second Ctrl-C exits at once with 130)\n";
    help += "  2    bad usage\n";
    help += "  3    " + std::string(res::kCantResolveName) + "\n";
    help += "  4    ICMP echo not permitted, or installed set-user-ID\n";
    return help;
}

void addCommon(CLI::App& command, CliOptions& options)
{
    command.add_option("--timeout", options.timeoutMs, "Milliseconds to wait for each reply")
        ->check(CLI::Range(1, kMaxTimeoutMs))
        ->capture_default_str();
    command.add_flag("--json", options.json, "One JSON object per line per event");
    command.add_option("HOST", options.host, "Host name or dotted IPv4 address")->required();
}

bool isKnownOption(const std::string& arg)
{
    static const char* const kOptions[] = {"-h",         "--help",   "--max-hop",  "--resolve",
                                           "--ttl",      "--count",  "--timeout",  "--json",
                                           "--parallel", "--cycles", "--interval", "--live"};
    const std::string name = arg.substr(0, arg.find('='));
    for (const char* option : kOptions) {
        if (name == option) {
            return true;
        }
    }
    return false;
}

} // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv)
{
    CliOptions options;
    std::string count(res::kInfiniteTrials);

    CLI::App app("Trace the route to an IPv4 host, or ping it, with ICMP echo requests.",
                 "hopwise-cli");
    app.footer(exitCodeHelp());
    app.require_subcommand(1);
    app.failure_message(CLI::FailureMessage::help);

    CLI::App* trace = app.add_subcommand("trace", "List the routers on the way to HOST");
    trace
        ->add_option("--max-hop", options.maxHop, "Hop limit: hops 1 .. N-1 are probed (TTL = hop)")
        ->check(CLI::Range(0, 256))
        ->capture_default_str();
    trace->add_flag("--resolve", options.resolve, "Look up each responder's name");
    trace
        ->add_option("--parallel", options.parallel,
                     "Hops probed at once (1: one after the other, as the window does)")
        ->check(CLI::Range(1, 255))
        ->capture_default_str();
    addCommon(*trace, options);

    CLI::App* ping = app.add_subcommand("ping", "Send echo requests to HOST");
    ping->add_option("--ttl", options.ttl, "Time to live of each request")
        ->check(CLI::Range(1, 255))
        ->capture_default_str();
    // The page's words for "until cancelled", in any case.
    ping->add_option("--count", count,
                     "Number of requests, or " + std::string(res::kInfiniteTrials) +
                         " to send until Ctrl-C")
        ->check(CLI::IsMember(
                    {std::string(res::kInfiniteTrials), std::string(res::kInfiniteTrialsLong)},
                    CLI::ignore_case) |
                CLI::Range(1, std::numeric_limits<std::int32_t>::max()))
        ->capture_default_str();
    addCommon(*ping, options);

    CLI::App* report = app.add_subcommand(
        "report", "Probe every hop to HOST once per cycle; print loss and times per hop");
    report->add_option("--cycles", options.cycles, "Number of cycles")
        ->check(CLI::Range(1, 1000000))
        ->capture_default_str();
    double intervalSeconds = 1;
    report
        ->add_option("--interval", intervalSeconds,
                     "Seconds from the start of one cycle to the next (decimals allowed)")
        ->check(CLI::Range(0.0, 3600.0))
        ->capture_default_str();
    report->add_flag("--live", options.live, "Redraw the table after every cycle (on a terminal)");
    report
        ->add_option("--max-hop", options.maxHop, "Hop limit: hops 1 .. N-1 are probed (TTL = hop)")
        ->check(CLI::Range(0, 256))
        ->capture_default_str();
    report->add_option("--parallel", options.parallel, "Hops probed at once")
        ->check(CLI::Range(1, 255))
        ->capture_default_str();
    addCommon(*report, options);

    ParsedCommandLine parsed;
    std::ostringstream out;
    std::ostringstream err;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // CLI11 reports a mistyped command only as a missing one; name what was typed.
        if (!trace->parsed() && !ping->parsed() && !report->parsed() && argc > 1 &&
            argv[1][0] != '-') {
            err << "Unknown command: " << argv[1] << " (expected trace, ping or report)\n";
        }
        // CLI11 takes "-name" for an option and then misses the host; say how to pass one.
        for (int i = 2; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--") {
                break;
            }
            if (arg.size() > 1 && arg[0] == '-' && !isKnownOption(arg)) {
                err << "Unknown option: " << arg
                    << " (a host that begins with '-' goes after --, e.g. hopwise-cli " << argv[1]
                    << " -- " << arg << ")\n";
                break;
            }
        }
        const int code = app.exit(error, out, err);
        parsed.exitCode = code == 0 ? kExitDone : kExitUsage;
        parsed.out = out.str();
        parsed.err = err.str();
        return parsed;
    }
    if (ping->parsed()) {
        options.kind = ProbeKind::Ping;
        options.count =
            std::isdigit(static_cast<unsigned char>(count.back())) ? std::stoi(count) : -1;
    }
    if (report->parsed()) {
        options.kind = ProbeKind::Report;
        options.intervalMs = static_cast<std::int32_t>(intervalSeconds * 1000 + 0.5);
    }
    parsed.options = options;
    return parsed;
}

} // namespace hopwise::cli
