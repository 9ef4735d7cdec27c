#include "cli/cli_options.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <sstream>
#include <string_view>

#include <CLI/CLI.hpp>

#include "cli/exit_codes.h"
#include "ping/ping_inputs.h"
#include "res/texts.h"

namespace hopwise::cli {

namespace {

constexpr std::int32_t kMaxTimeoutMs = 600000;
constexpr double kMaxTimeoutSeconds = kMaxTimeoutMs / 1000.0;
constexpr double kMaxIntervalSeconds = 3600;
constexpr double kMaxDeadlineSeconds = 2000000; // the milliseconds fit 32 bits

std::string exitCodeHelp()
{
    std::string help = "Exit codes:\n";
    help += "  0    a reply came (ping), the destination answered (trace)\n";
    help += "  1    no reply came, the destination never answered (also after Ctrl-C)\n";
    help += "  2    bad usage\n";
    help += "  3    " + std::string(res::kCantResolveName) + "\n";
    help += "  4    ICMP echo not permitted, or installed set-user-ID\n";
    help += "  130  a second Ctrl-C: left at once\n";
    return help;
}

// CLI::Range prints doubles with six decimals; seconds read better as typed ("0.001 to 600").
CLI::Validator secondsIn(double low, double high)
{
    const auto text = [](double value) {
        std::ostringstream out;
        out << value;
        return out.str();
    };
    const std::string range = text(low) + " to " + text(high);
    return CLI::Validator(
        [=](std::string& value) {
            double seconds = 0;
            if (!CLI::detail::lexical_cast(value, seconds) ||
                !(seconds >= low && seconds <= high)) {
                return "Value " + value + " not in range " + range;
            }
            return std::string();
        },
        "SECONDS in [" + text(low) + " - " + text(high) + "]");
}

std::int32_t secondsToMs(double seconds)
{
    return static_cast<std::int32_t>(std::llround(seconds * 1000));
}

// -Q as ping takes it: decimal, or hexadecimal after 0x (a leading 0 is no octal here).
CLI::Validator typeOfService()
{
    return CLI::Validator(
        [](std::string& value) {
            const bool hex = value.size() > 2 && value[0] == '0' && (value[1] | 0x20) == 'x';
            const std::string digits = hex ? value.substr(2) : value;
            const bool wellFormed =
                !digits.empty() && digits.size() <= 4 &&
                std::all_of(digits.begin(), digits.end(), [hex](unsigned char c) {
                    return hex ? std::isxdigit(c) != 0 : std::isdigit(c) != 0;
                });
            const unsigned long number =
                wellFormed ? std::stoul(digits, nullptr, hex ? 16 : 10) : 256;
            if (number > 255) {
                return "Value " + value + " not in range 0 to 255 (or 0x0 to 0xff)";
            }
            value = std::to_string(number);
            return std::string();
        },
        "TOS in [0 - 255]");
}

// What ping -I takes for an address rather than an interface name: dotted IPv4, or text with a
// colon (an IPv6 address, perhaps with its zone).
bool isAddressText(const std::string& text)
{
    in_addr ipv4{};
    return text.find(':') != std::string::npos || inet_pton(AF_INET, text.c_str(), &ipv4) == 1;
}

// ping's options beyond the page's, spelt as iputils ping spells them.
void addPingOptions(CLI::App& ping, CliOptions& options, double& deadlineSeconds,
                    std::string& interfaceOrSource, std::string& pathMtu)
{
    ping.add_option("-w,--deadline", deadlineSeconds,
                    "Seconds after which the run ends, decimals allowed; with -c it ends at N "
                    "replies, a router's report or the deadline, whichever comes first")
        ->check(secondsIn(0.001, kMaxDeadlineSeconds));
    ping.add_option("-s,--size", options.payloadSize,
                    "Data bytes in each request after the 8-byte ICMP header; each reply's bytes "
                    "are shown")
        ->check(CLI::Range(0, kMaxPingPayload));
    ping.add_option("-I,--interface", interfaceOrSource,
                    "Send through this interface (a name) or from this local address");
    ping.add_option("-M", pathMtu,
                    "Path MTU discovery: do (never fragment; a request too large reports the MTU), "
                    "dont (fragment), want (fragment above the path's MTU)")
        ->check(CLI::IsMember({"do", "dont", "want"}));
    ping.add_option("-Q,--tos", options.tos,
                    "Type of service (IPv6: traffic class), 0 to 255 or 0x0 to 0xff")
        ->check(typeOfService());
    ping.add_flag("-D", options.unixTimes, "Begin each line with the time: [seconds since 1970]");
    ping.add_flag("-O", options.reportOutstanding,
                  "Report a request unanswered before the next is sent: no answer yet");
}

// --timeout in milliseconds as before, and the seconds option that ping or traceroute users
// type (-W, -w); only one of the two.
void addTimeouts(CLI::App& command, CliOptions& options, const std::string& secondsName,
                 double& seconds)
{
    CLI::Option* ms =
        command.add_option("--timeout", options.timeoutMs, "Milliseconds to wait for each reply")
            ->check(CLI::Range(1, kMaxTimeoutMs))
            ->capture_default_str();
    command
        .add_option(secondsName, seconds,
                    "Seconds to wait for each reply, decimals allowed (default 1)")
        ->check(secondsIn(0.001, kMaxTimeoutSeconds))
        ->excludes(ms);
}

void addParallel(CLI::App& command, CliOptions& options, const std::string& help)
{
    command.add_option("--parallel", options.parallel, help)
        ->check(CLI::Range(1, 255))
        ->capture_default_str();
}

void addCommon(CLI::App& command, CliOptions& options)
{
    command.add_flag("--json", options.json, "One JSON object per line (schema in the README)");
    CLI::Option* ipv4 = command.add_flag_callback(
        "-4", [&options] { options.families = FamilyChoice::Ipv4Only; },
        "IPv4 only: a name's IPv4 address, no IPv6 literal");
    command
        .add_flag_callback(
            "-6", [&options] { options.families = FamilyChoice::Ipv6Only; },
            "IPv6 only: a name's IPv6 address, no IPv4 literal")
        ->excludes(ipv4);
    command
        .add_option("HOST", options.host,
                    "Host name, dotted IPv4 address or IPv6 address (fe80::1%eth0 with its zone)")
        ->required();
}

// Whether the command knows the option (CLI11 takes an unknown "-name" for one and then misses
// the host, so the message says how to pass such a host).
bool isKnownOption(const CLI::App* command, const std::string& arg)
{
    std::string name = arg.substr(0, arg.find('='));
    if (name.size() > 2 && name[1] != '-') {
        name.resize(2); // "-c3", "-qc"
    }
    if (name == "-h" || name == "--help") {
        return true;
    }
    return command != nullptr && command->get_option_no_throw(name) != nullptr;
}

} // namespace

bool WantsJson(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            break;
        }
        if (arg == "--json") {
            return true;
        }
    }
    return false;
}

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv)
{
    CliOptions options;
    std::string count(res::kInfiniteTrials);
    double intervalSeconds = 1;
    double timeoutSeconds = 0;
    bool noNames = false;

    CLI::App app("Trace the route to an IPv4 or IPv6 host, or ping it, with ICMP echo requests.",
                 "hopwise-cli");
    app.footer(exitCodeHelp());
    app.require_subcommand(1);
    app.failure_message(CLI::FailureMessage::help);

    CLI::App* trace = app.add_subcommand("trace", "List the routers on the way to HOST");
    trace->footer("Examples:\n  hopwise-cli trace -w 0.5 --resolve 10.0.0.1\n"
                  "  hopwise-cli trace -6 --resolve example.org\n\n" +
                  exitCodeHelp());
    trace
        ->add_option("--max-hop", options.maxHop, "Hop limit: hops 1 .. N-1 are probed (TTL = hop)")
        ->check(CLI::Range(0, 256))
        ->capture_default_str();
    CLI::Option* resolve =
        trace->add_flag("--resolve", options.resolve, "Look up each responder's name");
    trace->add_flag("-n", noNames, "Show addresses only, no names (the default)")
        ->excludes(resolve);
    addParallel(*trace, options,
                "Hops probed at once (1: one after the other, as the window does)");
    addTimeouts(*trace, options, "-w,--wait", timeoutSeconds);
    trace->add_option("-i,--interface", options.interface, "Send through this interface");
    trace->add_option("-s,--source", options.source, "Send from this local address");
    addCommon(*trace, options);

    CLI::App* ping = app.add_subcommand("ping", "Send echo requests to HOST");
    ping->footer("Examples:\n  hopwise-cli ping -c 4 -i 0.2 10.0.0.1\n"
                 "  hopwise-cli ping -c 4 fe80::1%eth0\n\n" +
                 exitCodeHelp());
    // The page's words for "until cancelled", in any case.
    ping->add_option("-c,--count", count,
                     "Number of requests, or " + std::string(res::kInfiniteTrials) +
                         " to send until Ctrl-C")
        ->check(CLI::IsMember(
                    {std::string(res::kInfiniteTrials), std::string(res::kInfiniteTrialsLong)},
                    CLI::ignore_case) |
                CLI::Range(1, std::numeric_limits<std::int32_t>::max()))
        ->capture_default_str();
    ping->add_option("-i,--interval", intervalSeconds,
                     "Seconds from one request to the next, decimals allowed; 0 sends back to "
                     "back")
        ->check(secondsIn(0, kMaxIntervalSeconds))
        ->capture_default_str();
    ping->add_option("-t,--ttl", options.ttl, "Time to live of each request")
        ->check(CLI::Range(1, 255))
        ->capture_default_str();
    addTimeouts(*ping, options, "-W", timeoutSeconds);
    ping->add_flag("-q,--quiet", options.quiet, "Print the summary only");
    double deadlineSeconds = 0;
    std::string interfaceOrSource;
    std::string pathMtu;
    addPingOptions(*ping, options, deadlineSeconds, interfaceOrSource, pathMtu);
    addCommon(*ping, options);

    CLI::App* report = app.add_subcommand(
        "report", "Probe every hop to HOST once per cycle; print loss and times per hop");
    report->footer("Examples:\n  hopwise-cli report --cycles 20 --live 10.0.0.1\n"
                   "  hopwise-cli report -c 5 ::1\n\n" +
                   exitCodeHelp());
    report->add_option("-c,--cycles", options.cycles, "Number of cycles")
        ->check(CLI::Range(1, 1000000))
        ->capture_default_str();
    report
        ->add_option("-i,--interval", intervalSeconds,
                     "Seconds from the start of one cycle to the next, decimals allowed")
        ->check(secondsIn(0, kMaxIntervalSeconds))
        ->capture_default_str();
    report->add_flag("--live", options.live, "Redraw the table after every cycle (on a terminal)");
    report
        ->add_option("--max-hop", options.maxHop, "Hop limit: hops 1 .. N-1 are probed (TTL = hop)")
        ->check(CLI::Range(0, 256))
        ->capture_default_str();
    addParallel(*report, options, "Hops probed at once");
    addTimeouts(*report, options, "-w,--wait", timeoutSeconds);
    addCommon(*report, options);

    ParsedCommandLine parsed;
    std::ostringstream out;
    std::ostringstream err;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // CLI11 reports a mistyped command only as a missing one; name what was typed.
        CLI::App* command = nullptr;
        if (argc > 1 && argv[1][0] != '-') {
            const std::string_view name = argv[1];
            command = name == "trace"    ? trace
                      : name == "ping"   ? ping
                      : name == "report" ? report
                                         : nullptr;
            if (command == nullptr) {
                err << "Unknown command: " << argv[1] << " (expected trace, ping or report)\n";
            }
        }
        for (int i = 2; command != nullptr && i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--") {
                break;
            }
            if (arg.size() > 1 && arg[0] == '-' && !isKnownOption(command, arg)) {
                err << "Unknown option: " << arg
                    << " (a host that begins with '-' goes after --, e.g. hopwise-cli " << argv[1]
                    << " -- " << arg << ")\n";
                break;
            }
        }
        const int code = app.exit(error, out, err);
        parsed.exitCode = code == 0 ? kExitHelp : kExitUsage;
        parsed.out = out.str();
        parsed.err = err.str();
        return parsed;
    }
    if (timeoutSeconds > 0) {
        options.timeoutMs = secondsToMs(timeoutSeconds);
    }
    if (ping->parsed()) {
        options.kind = ProbeKind::Ping;
        options.count =
            std::isdigit(static_cast<unsigned char>(count.back())) ? std::stoi(count) : -1;
        options.intervalMs = secondsToMs(intervalSeconds);
        if (deadlineSeconds > 0) {
            options.deadlineMs = secondsToMs(deadlineSeconds);
        }
        if (!interfaceOrSource.empty()) {
            (isAddressText(interfaceOrSource) ? options.source : options.interface) =
                interfaceOrSource;
        }
        options.showBytes = ping->count("-s") != 0;
        options.pathMtu = pathMtu == "do"     ? PathMtuMode::Do
                          : pathMtu == "dont" ? PathMtuMode::Dont
                          : pathMtu == "want" ? PathMtuMode::Want
                                              : PathMtuMode::Default;
    }
    if (report->parsed()) {
        options.kind = ProbeKind::Report;
        options.intervalMs = secondsToMs(intervalSeconds);
    }
    parsed.options = options;
    return parsed;
}

} // namespace hopwise::cli
